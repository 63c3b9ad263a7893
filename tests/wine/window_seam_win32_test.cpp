// The Windows side of the window seam: other threads' insertions into the echo line reach
// the window's thread as one sent call each, so the cut that keeps the newest text never
// lets another thread's character land out of place. The test's thread pumps messages as
// the Main window's thread would; a plain window of its own stands in for the Main window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/resource_ids.h"
#include "app/win32_window.h"
#include "app/window.h"

namespace {

constexpr char kWindowClass[] = "PellmarSeamTestWindow";

LRESULT CALLBACK HostProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SEAM_WORK) {
        RunSentSeamWork(lparam);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// Each writer inserts its own cycle of characters; in what is kept, each character of a
// writer must be followed by the next one of its cycle.
void ExpectCycleUnbroken(const std::string& text, const std::string& cycle) {
    char previous = 0;
    for (char c : text) {
        if (cycle.find(c) == std::string::npos) {
            continue;
        }
        if (previous != 0) {
            const char expected = cycle[(cycle.find(previous) + 1) % cycle.size()];
            ASSERT_EQ(c, expected) << "a character of " << cycle << " landed out of order";
        }
        previous = c;
    }
}

TEST(Win32WindowSeam, EchoesFromTwoThreadsKeepTheirOrderThroughTheCuts) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = HostProcedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kWindowClass;
    RegisterClassA(&window_class);
    HWND host = CreateWindowExA(0, kWindowClass, "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(host, nullptr);
    HWND echo =
        CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 200, 20, host,
                        reinterpret_cast<HMENU>(IDC_ECHO_LINE), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(echo, nullptr);
    Win32Window backend(host);
    InstallWindowBackend(&backend);

    const std::string letters = "abcdefghijklmnopqrstuvwxyz";
    const std::string digits = "0123456789";
    const KeptText& echo_bounds = *KeptTextOf(IDC_ECHO_LINE);
    const int each = echo_bounds.limit / 2 + 200;  // together past the limit: the line is cut
    std::atomic<int> done{0};
    auto writer = [&done, each](const std::string& cycle) {
        for (int i = 0; i < each; ++i) {
            ReplaceSelection(IDC_ECHO_LINE, std::string(1, cycle[i % cycle.size()]));
        }
        ++done;
    };
    const auto start = std::chrono::steady_clock::now();
    std::thread first(writer, letters);
    std::thread second(writer, digits);
    while (done.load() < 2) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    first.join();
    second.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%.1f us per echoed character sent from another thread\n",
                std::chrono::duration<double, std::micro>(elapsed).count() / (2 * each));

    const std::string kept = GetControlText(IDC_ECHO_LINE);
    EXPECT_LE(kept.size(), static_cast<std::size_t>(echo_bounds.limit));
    EXPECT_GE(kept.size(), static_cast<std::size_t>(echo_bounds.after_cut));
    ExpectCycleUnbroken(kept, letters);
    ExpectCycleUnbroken(kept, digits);
    // The last characters both writers inserted are there.
    const auto last = static_cast<std::size_t>(each - 1);
    EXPECT_NE(kept.find(letters[last % letters.size()]), std::string::npos);
    EXPECT_NE(kept.find(digits[last % digits.size()]), std::string::npos);

    CloseWindowSeam();
    DestroyWindow(host);
}

}  // namespace
