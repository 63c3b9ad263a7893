// The window seam at exit: the close returns only once no other thread is inside a call,
// and calls after it do nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/resource_ids.h"
#include "app/window.h"

namespace {

// A window whose text calls last until the test lets them go, as a window thread busy
// elsewhere would make them.
class SlowWindow final : public WindowBackend {
  public:
    WindowHandle Handle() override { return this; }
    void SetControlText(int, const std::string&) override {
        ++texts_set;
        inside = true;
        while (!release.load()) {
            std::this_thread::yield();
        }
    }
    std::string GetControlText(int) override { return "text"; }
    void SetSelection(int, int, int) override {}
    void ReplaceSelection(int, const std::string&) override {}
    void EnableControl(int, bool) override {}
    void FocusControl(int) override {}
    int ShowMessageBox(WindowHandle, const std::string&, const std::string&, BoxIcon) override {
        return 1;
    }
    void CarryOutSentCalls() override { ++carried_out; }

    std::atomic<int> texts_set{0};
    std::atomic<int> carried_out{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
};

TEST(WindowSeam, CloseWaitsForTheCallInsideThenLaterCallsDoNothing) {
    SlowWindow window;
    InstallWindowBackend(&window);
    std::thread reader([] { SetControlText(IDC_BUSY_STATUS, "Busy"); });
    while (!window.inside.load()) {
        std::this_thread::yield();
    }

    std::atomic<bool> closed{false};
    std::thread closer([&closed] {
        CloseWindowSeam();
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed.load()) << "the close returned while a call was inside";
    window.release = true;
    closer.join();
    reader.join();
    EXPECT_GT(window.carried_out.load(), 0);

    SetControlText(IDC_BUSY_STATUS, " ");
    EXPECT_EQ(window.texts_set.load(), 1);
    EXPECT_EQ(GetControlText(IDC_BUSY_STATUS), "");
    EXPECT_EQ(ShowMessageBox(nullptr, "late", "Error"), 0);
    EXPECT_EQ(MainWindowHandle(), nullptr);
}

}  // namespace
