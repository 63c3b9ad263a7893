// The real pellmar.exe, started in a fresh folder and driven through its Main window.
// The fixtures' header brings winsock2.h, which must come before windows.h.
#include "tools/wine_kit/station_fixtures.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <utility>

#include "app/resource_ids.h"
#include "app/start_with_windows_win32.h"
#include "app/window_layout.h"
#include "settings/settings_record.h"
#include "tools/common/wait_until.h"
#include "tools/wine_kit/pellmar_process.h"
#include "tools/wine_kit/station_kit.h"
#include "tools/wine_kit/ui_driver.h"
#include "version/version.h"

namespace {

constexpr int kWaitMs = 10000;

bool WaitForFileSize(const std::string& path, DWORD size, int timeout_ms) {
    const auto sized = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
               data.nFileSizeLow == size;
    };
    return WaitUntil(sized, std::chrono::milliseconds(timeout_ms), std::chrono::milliseconds(50));
}

// The text of the tip that `process` shows now, or "" when it shows none.
std::string ShownTip(DWORD process) {
    struct Search {
        DWORD process;
        std::string text;
    } search{process, ""};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* search = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == search->process && IsWindowVisible(window) &&
                ui::ClassOf(window) == "tooltips_class32") {
                search->text = ui::WindowText(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.text;
}

// The program's start-up entry as Windows would run it; nothing when there is none.
std::optional<std::string> StartUpEntry() {
    char text[1024] = {};
    DWORD size = sizeof text;
    if (RegGetValueA(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, RRF_RT_REG_SZ, nullptr, text,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(text);
}

// Every control's rectangle in the window's client area.
std::map<int, RECT> ControlRects(HWND window) {
    std::map<int, RECT> rects;
    for (const ControlAnchor& anchor : kMainWindowAnchors) {
        RECT& rect = rects[anchor.id];
        GetWindowRect(ui::Control(window, anchor.id), &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rects;
}

// The pairs of controls that overlap: a group box and what it holds, or a fault.
std::vector<std::pair<int, int>> Overlapping(const std::map<int, RECT>& rects) {
    std::vector<std::pair<int, int>> pairs;
    for (auto one = rects.begin(); one != rects.end(); ++one) {
        for (auto other = std::next(one); other != rects.end(); ++other) {
            RECT common{};
            if (IntersectRect(&common, &one->second, &other->second)) {
                pairs.emplace_back(one->first, other->first);
            }
        }
    }
    return pairs;
}

LONG HeightOf(const RECT& rect) {
    return rect.bottom - rect.top;
}

POINT CentreOf(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

TEST(MainWindow, FreshFolderGetsTheDefaultConfigurationFile) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    ASSERT_TRUE(WaitForFileSize(station.ConfigPath(), 1832, kWaitMs));
    EXPECT_EQ(station.ReadConfig(), DefaultConfigImage());
}

TEST(MainWindow, ShowsItsClassCaptionAndFirstStatusTexts) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    HWND window = station.window();
    EXPECT_EQ(ui::ClassOf(window), "PellmarClass");
    EXPECT_EQ(ui::WindowText(window), std::string("Tarvel Remote Control ") + PELLMAR_VERSION_TEXT);
    EXPECT_TRUE(ui::WaitForText(window, IDC_LOCAL_STATUS, "Local Tarvel Closed", kWaitMs));
    EXPECT_EQ(ui::ReadText(window, IDC_REMOTE_STATUS), "Remote Tarvel Closed");
    EXPECT_EQ(ui::ReadText(window, IDC_NET_STATUS), "No Network Connection");
    EXPECT_EQ(ui::ReadText(window, IDC_WPM), "16");
    EXPECT_TRUE(ui::IsControlEnabled(window, IDC_WPM));
    EXPECT_EQ(ui::ReadText(window, IDC_OPEN_CLOSE), "Open");
    EXPECT_EQ(ui::ReadText(window, IDC_TUNE), "Tune");
    EXPECT_EQ(ui::ReadText(window, IDC_PAUSE), "Pause");
    EXPECT_EQ(ui::ReadText(window, IDC_M5), "M5");
    EXPECT_EQ(ui::ReadText(window, IDC_M6), "M6");
    EXPECT_EQ(ui::ReadText(window, IDC_ECHO_LINE), "");

    CreateDirectoryA((ui::OwnFolder() + "screenshots").c_str(), nullptr);
    const std::string shot = ui::OwnFolder() + "screenshots\\main_window.bmp";
    EXPECT_TRUE(ui::SaveScreenshot(window, shot));
    std::printf("screenshot: %s\n", shot.c_str());
}

// The manifest is written from the same version as the caption.
TEST(MainWindow, ManifestCarriesTheCaptionsVersion) {
    HMODULE program = LoadLibraryExA((ui::OwnFolder() + "pellmar.exe").c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE);
    HRSRC manifest = FindResourceA(program, MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(program, manifest))),
                           SizeofResource(program, manifest));
    std::string dotted;
    for (const int number : {PELLMAR_VERSION_NUMBERS}) {
        dotted += (dotted.empty() ? "" : ".") + std::to_string(number);
    }
    EXPECT_NE(text.find(R"(name="Pellmar.RemoteKeyer" version=")" + dotted + '"'),
              std::string::npos)
        << text;
    FreeLibrary(program);
}

TEST(MainWindow, EveryControlOfTheTemplateExists) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    const int ids[] = {IDC_ECHO_LINE,    IDC_LOG_PANE,
                       IDC_MSGS_GROUP,   IDC_M1,
                       IDC_M2,           IDC_M3,
                       IDC_M4,           IDC_M5,
                       IDC_M6,           IDC_CONTROL_GROUP,
                       IDC_CLEAR,        IDC_TUNE,
                       IDC_PAUSE,        IDC_OPEN_CLOSE,
                       IDC_WPM_GROUP,    IDC_WPM,
                       IDC_WPM_SPIN,     IDC_SETUP,
                       IDC_EXIT,         IDC_WAIT_STATUS,
                       IDC_BUSY_STATUS,  IDC_NET_STATUS,
                       IDC_LOCAL_STATUS, IDC_REMOTE_STATUS,
                       IDC_HEARTBEAT,    IDC_PADDLES};
    for (int id : ids) {
        EXPECT_NE(ui::Control(station.window(), id), nullptr) << "control " << id;
    }
    // The echo line is the first tab stop, so it has the focus at start.
    DWORD thread = GetWindowThreadProcessId(station.window(), nullptr);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetGUIThreadInfo(thread, &info));
    EXPECT_EQ(info.hwndFocus, ui::Control(station.window(), IDC_ECHO_LINE));
}

TEST(MainWindow, StoredSpeedZeroLeavesTheWpmFieldEmptyAndDisabled) {
    PellmarProcess station;
    std::vector<uint8_t> image = DefaultConfigImage();
    image[17] = 0;
    station.WriteConfig(image);
    ASSERT_TRUE(station.Start());
    ASSERT_TRUE(
        ui::WaitForText(station.window(), IDC_NET_STATUS, "No Network Connection", kWaitMs));
    EXPECT_EQ(ui::ReadText(station.window(), IDC_WPM), "");
    EXPECT_FALSE(ui::IsControlEnabled(station.window(), IDC_WPM));
}

TEST(MainWindow, OpensCentredFirstThenWhereItWasLeftAndAlwaysOnAScreen) {
    PellmarProcess station;
    RECT rect{};
    const auto start = [&] { return station.Start() && GetWindowRect(station.window(), &rect); };
    const auto exit = [&] {
        ui::Click(station.window(), IDC_EXIT);
        return station.WaitForExit(kWaitMs) == 0;
    };
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    ASSERT_TRUE(start());
    EXPECT_NEAR(rect.left + rect.right, work.left + work.right, 1);
    EXPECT_NEAR(rect.top + rect.bottom, work.top + work.bottom, 1);
    SetWindowPos(station.window(), nullptr, 120, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ASSERT_TRUE(exit() && start());
    EXPECT_EQ(std::make_pair(rect.left, rect.top), std::make_pair(120L, 80L));
    // Kept on a screen that is not there any more.
    ASSERT_TRUE(exit());
    std::ofstream(station.folder() + "pellmar.ini") << "[Window]\nLeft = 30000\nTop = 80\n";
    ASSERT_TRUE(start());
    EXPECT_EQ(std::make_pair(rect.right, rect.top), std::make_pair(work.right, 80L));
}

// Maximised, the log pane takes the screen and the other controls keep the template's gaps to
// it; the window's normal size is kept for the next start, never one below the template's.
TEST(MainWindow, GrowsWithItsLogPaneAndComesBackAtTheSizeItWasLeft) {
    PellmarProcess station;
    RECT rect{};
    const auto start = [&] { return station.Start() && GetWindowRect(station.window(), &rect); };
    ASSERT_TRUE(start());
    HWND window = station.window();
    const RECT smallest = rect;
    const std::map<int, RECT> at_template = ControlRects(window);
    SetWindowPos(window, nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(GetWindowRect(window, &rect));
    EXPECT_EQ(std::make_pair(rect.right - rect.left, rect.bottom - rect.top),
              std::make_pair(smallest.right - smallest.left, smallest.bottom - smallest.top));
    // Wine under a display without a window manager leaves a maximised window's picture at
    // its old size, so the picture is of the window made as large as the screen instead.
    RECT work{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    SetWindowPos(window, nullptr, work.left, work.top, work.right - work.left,
                 work.bottom - work.top, SWP_NOZORDER);
    SaveNamedScreenshot(window, "main_window_large");
    const LONG width = smallest.right - smallest.left + 200;
    const LONG height = smallest.bottom - smallest.top + 150;
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(HeightOf(ControlRects(window)[IDC_LOG_PANE]),
              HeightOf(at_template.at(IDC_LOG_PANE)) + 150);

    ShowWindow(window, SW_MAXIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsZoomed(window) != FALSE; },
                          std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(20)));
    const std::map<int, RECT> maximised = ControlRects(window);
    EXPECT_GT(HeightOf(maximised.at(IDC_LOG_PANE)), HeightOf(at_template.at(IDC_LOG_PANE)) + 150);
    EXPECT_EQ(Overlapping(maximised), Overlapping(at_template));
    RECT client{};
    GetClientRect(window, &client);
    for (const auto& [id, control] : maximised) {
        RECT inside{};
        EXPECT_TRUE(IntersectRect(&inside, &control, &client) && EqualRect(&inside, &control))
            << "control " << id;
    }

    ui::Click(window, IDC_EXIT);
    ASSERT_EQ(station.WaitForExit(kWaitMs), 0);
    ASSERT_TRUE(start());
    EXPECT_FALSE(IsZoomed(station.window()));
    EXPECT_EQ(std::make_pair(rect.right - rect.left, rect.bottom - rect.top),
              std::make_pair(width, height));
}

// yes makes Windows start this pellmar.exe at logon, no takes that back; a start that finds
// the entry as asked says nothing.
TEST(MainWindow, StartWithWindowsWritesTheStartUpEntryAndNoRemovesIt) {
    PellmarProcess station;
    const auto log_of_a_start_with = [&](const std::string& setting) {
        std::ofstream(station.folder() + "pellmar.ini")
            << "[Windows]\nStartWithWindows = " << setting << "\n";
        if (!station.Start() ||
            !ui::WaitForText(station.window(), IDC_NET_STATUS, "No Network Connection", kWaitMs)) {
            return std::string("no start");
        }
        const std::string log = ui::ReadText(station.window(), IDC_LOG_PANE);
        ui::Click(station.window(), IDC_EXIT);
        return station.WaitForExit(kWaitMs) == 0 ? log : "no exit";
    };
    const std::string command = '"' + station.folder() + "pellmar.exe\"";
    EXPECT_EQ(log_of_a_start_with("yes"),
              "\r\nStart-up entry written: Windows starts " + command + " when you log on.");
    EXPECT_EQ(StartUpEntry(), command);
    EXPECT_EQ(log_of_a_start_with("yes"), "");
    EXPECT_EQ(log_of_a_start_with("no"),
              "\r\nStart-up entry removed: Windows no longer starts Pellmar when you log on.");
    EXPECT_EQ(StartUpEntry(), std::nullopt);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName);
}

TEST(MainWindow, AServerOpenedAtStartShowsItsWaitAndStillExits) {
    PellmarProcess station;
    Bytes image = StationImage(1, kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide,
                               FreeLoopbackPort(), 20);
    image[offsetof(SettingsRecord, open_at_startup)] = 1;
    station.WriteConfig(image);
    ASSERT_TRUE(station.Start());
    EXPECT_TRUE(
        ui::WaitForText(station.window(), IDC_NET_STATUS, "Waiting 30 s to listen", kWaitMs));
    EXPECT_FALSE(ui::IsControlEnabled(station.window(), IDC_OPEN_CLOSE));
    ui::Click(station.window(), IDC_EXIT);
    EXPECT_EQ(station.WaitForExit(kWaitMs), 0);
}

TEST(MainWindow, ExitButtonEndsTheProgramWithCodeZero) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    ui::Click(station.window(), IDC_EXIT);
    EXPECT_EQ(station.WaitForExit(kWaitMs), 0);
}

TEST(MainWindow, CloseBoxEndsTheProgramWithCodeZero) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    ui::PressCloseBox(station.window());
    EXPECT_EQ(station.WaitForExit(kWaitMs), 0);
}

TEST(MainWindow, EscapeDoesNotEndTheProgram) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    ui::SendCommand(station.window(), IDCANCEL);
    EXPECT_EQ(station.WaitForExit(500), -1) << "the cancel command must not end the window";
    EXPECT_TRUE(IsWindow(station.window()));
    ui::Click(station.window(), IDC_EXIT);
    EXPECT_EQ(station.WaitForExit(kWaitMs), 0);
}

// A button with a key names it when the pointer rests on it, and the tip goes as soon as the
// pointer moves off, onto the window's own surface or another button.
TEST(MainWindow, APointerRestingOnAButtonWithAKeyShowsTheKeyUntilItMovesOff) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    HWND window = station.window();
    const auto tip_is = [&](const std::string& text) {
        return WaitUntil([&] { return ShownTip(station.process_id()) == text; },
                         std::chrono::milliseconds(3000), std::chrono::milliseconds(20));
    };
    const POINT m1 = CentreOf(ui::Control(window, IDC_M1));
    SetCursorPos(m1.x, m1.y);
    EXPECT_TRUE(tip_is("Send message 1 (F1); right-click to edit it"));
    const POINT tune = CentreOf(ui::Control(window, IDC_TUNE));
    SetCursorPos(tune.x, tune.y);
    EXPECT_TRUE(tip_is(""));
    const POINT clear = CentreOf(ui::Control(window, IDC_CLEAR));
    SetCursorPos(clear.x, clear.y);
    EXPECT_TRUE(tip_is("Stop sending and clear (Esc)"));
    // Below the buttons, beside the status texts: the window's own surface.
    RECT below{};
    GetWindowRect(ui::Control(window, IDC_SETUP), &below);
    SetCursorPos(below.left - 8, below.top - 4);
    EXPECT_TRUE(tip_is(""));
    // Straight off the window, as a screenshot's pointer goes: nothing lingers.
    SetCursorPos(clear.x, clear.y);
    EXPECT_TRUE(tip_is("Stop sending and clear (Esc)"));
    SetCursorPos(0, 0);
    EXPECT_TRUE(WaitUntil([&] { return ShownTip(station.process_id()).empty(); },
                          std::chrono::milliseconds(1000), std::chrono::milliseconds(20)));
}

TEST(MainWindow, RightClickShowsTheAboutBoxWhichEscapeLeavesOpen) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    ui::RightClick(station.window(), 0);
    HWND box = ui::WaitForDialog(station.process_id(), "About Pellmar", kWaitMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::ReadText(box, IDC_ABOUT_TITLE), "Pellmar - Internet Capable Tarvel");
    const std::string version = ui::ReadText(box, IDC_ABOUT_VERSION);
    const std::string built = std::string("Ver ") + PELLMAR_VERSION_TEXT + ", Built ";
    EXPECT_EQ(version.rfind(built, 0), 0u) << version;
    EXPECT_EQ(version.size(), (built + "10:51:01, Dec 15 2014 ").size()) << version;
    EXPECT_EQ(ui::ReadText(box, IDC_ABOUT_OS), "Operating System is WinNT/WinXP");
    SaveNamedScreenshot(box, "about_box");

    ui::SendCommand(box, IDCANCEL);
    EXPECT_FALSE(ui::WaitForWindowGone(box, 500));
    ui::PressCloseBox(box);
    EXPECT_TRUE(ui::WaitForWindowGone(box, kWaitMs));

    // Enter (the OK command) ends it too, and the focus goes to the log pane.
    ui::RightClick(station.window(), 0);
    box = ui::WaitForDialog(station.process_id(), "About Pellmar", kWaitMs);
    ASSERT_NE(box, nullptr);
    ui::SendCommand(box, IDOK);
    EXPECT_TRUE(ui::WaitForWindowGone(box, kWaitMs));
    EXPECT_TRUE(ui::WaitForFocus(station.window(), IDC_LOG_PANE, kWaitMs));
}

// The system menu's "Make a Link Key..." writes a key into the .ini beside the program and
// shows its line to copy; asked again, it keeps that key and says why.
TEST(MainWindow, MakeALinkKeyWritesOneAndShowsItsLineOnce) {
    PellmarProcess station;
    ASSERT_TRUE(station.Start());
    constexpr WPARAM kMakeLinkKey = 0x0010;
    PostMessageA(station.window(), WM_SYSCOMMAND, kMakeLinkKey, 0);
    HWND box = ui::WaitForDialog(station.process_id(), "Link Key", kWaitMs);
    ASSERT_NE(box, nullptr);
    const std::string line = ui::ReadText(box, IDC_LINK_KEY_LINE);
    EXPECT_EQ(line.rfind("Key = ", 0), 0u) << line;
    EXPECT_EQ(line.size(), 6u + 64u) << line;
    EXPECT_EQ(ui::FocusedControl(box), ui::Control(box, IDC_LINK_KEY_LINE));
    SaveNamedScreenshot(box, "link_key_box");
    ui::SendCommand(box, IDOK);
    ASSERT_TRUE(ui::WaitForWindowGone(box, kWaitMs));
    std::ifstream ini(station.folder() + "pellmar.ini", std::ios::binary);
    const std::string written(std::istreambuf_iterator<char>(ini), {});
    EXPECT_EQ(written, "[Network]\r\n" + line + "\r\n");

    PostMessageA(station.window(), WM_SYSCOMMAND, kMakeLinkKey, 0);
    box = ui::WaitForDialog(station.process_id(), "Link Key", kWaitMs);
    ASSERT_NE(box, nullptr);
    const std::string refusal = ui::ReadText(box, IDC_LINK_KEY_MESSAGE);
    EXPECT_NE(refusal.find("has a link key already"), std::string::npos) << refusal;
    EXPECT_FALSE(IsWindowVisible(ui::Control(box, IDC_LINK_KEY_LINE)));
    ui::PressCloseBox(box);
    EXPECT_TRUE(ui::WaitForWindowGone(box, kWaitMs));
    ui::Click(station.window(), IDC_EXIT);
    EXPECT_EQ(station.WaitForExit(kWaitMs), 0);
}

}  // namespace
