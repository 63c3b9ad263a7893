// pellmar_demo: the two-station demo that scripts/run starts. It sets up a RemoteSide "Net
// Server" and a ControlPoint "Net Client" in two folders of the demo folder, each with a
// keyer emulator already linked into the Wine prefix as its COM port, opens both so that
// they link over loopback, and puts them side by side, the ControlPoint on the left.
//
//   pellmar_demo DEMO_FOLDER REMOTE_COM HOME_COM [--type TEXT --screenshot FILE.bmp]
//
// Without --type it waits until the person watching has closed both windows. With it, it
// types TEXT at the ControlPoint itself, waits for the echo, saves a screenshot of the two
// windows, closes them and ends: 0 when the echo came back, 1 otherwise.
#include <winsock2.h>

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "settings/settings_record.h"
#include "tools/wine_kit/station_kit.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

constexpr int kWaitMs = 20000;
constexpr uint8_t kDemoWpm = 20;
// Long enough for a short text keyed at real speed to come back.
constexpr int kEchoWaitMs = 60000;
constexpr int kMarginPx = 16;

int Usage() {
    std::fprintf(stderr,
                 "usage: pellmar_demo DEMO_FOLDER REMOTE_COM HOME_COM "
                 "[--type TEXT --screenshot FILE.bmp]\n");
    return 2;
}

struct DemoStation {
    const char* name;
    std::string folder;
    ui::Program program;
};

// A fresh folder with the program and `image` as its configuration, started and opened
// until its network line shows `opened`.
bool StartStation(DemoStation* station, const Bytes& image, const std::string& opened) {
    CreateDirectoryA(station->folder.c_str(), nullptr);
    const std::string exe = station->folder + "pellmar.exe";
    if (!CopyFileA((ui::OwnFolder() + "pellmar.exe").c_str(), exe.c_str(), FALSE)) {
        std::fprintf(stderr, "pellmar_demo: cannot copy pellmar.exe to %s\n", exe.c_str());
        return false;
    }
    std::ofstream config(station->folder + "pellmar.cfg", std::ios::binary | std::ios::trunc);
    config.write(reinterpret_cast<const char*>(image.data()),
                 static_cast<std::streamsize>(image.size()));
    config.close();
    if (!config || !ui::StartProgram(exe, station->folder, &station->program) ||
        ui::WaitForMainWindow(&station->program, kWaitMs) == nullptr) {
        std::fprintf(stderr, "pellmar_demo: the %s station did not start\n", station->name);
        return false;
    }
    HWND window = station->program.window;
    ui::Click(window, IDC_OPEN_CLOSE);
    if (!ui::WaitForText(window, IDC_NET_STATUS, opened, kWaitMs)) {
        std::fprintf(stderr, "pellmar_demo: the %s station did not open; its log:\n%s\n",
                     station->name, ui::ReadText(window, IDC_LOG_PANE).c_str());
        return false;
    }
    return true;
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return Usage();
    }
    std::string demo = argv[1];
    if (demo.back() != '\\') {
        demo += '\\';
    }
    const uint32_t remote_com = static_cast<uint32_t>(std::atoi(argv[2]));
    const uint32_t home_com = static_cast<uint32_t>(std::atoi(argv[3]));
    std::string text;
    std::string screenshot;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--type") {
            text = argv[i + 1];
        } else if (flag == "--screenshot") {
            screenshot = argv[i + 1];
        } else {
            return Usage();
        }
    }
    if (remote_com == 0 || home_com == 0 || (argc - 4) % 2 != 0 ||
        text.empty() != screenshot.empty()) {
        return Usage();
    }

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 1;
    }
    const uint16_t port = FreeLoopbackPort();
    WSACleanup();

    // As the Setup dialog leaves them for their roles: the site's keyer echoes what it is
    // sent, the home keyer what its paddles key.
    const size_t mode_at =
        offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, mode_register);
    Bytes remote_image = StationImage(
        remote_com, kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide, port, kDemoWpm);
    remote_image[mode_at] = kModeSerialEcho;
    Bytes home_image =
        StationImage(home_com, kNetModeClient | kNetRoleControlPoint, port, kDemoWpm);
    home_image[mode_at] = kModePaddleEcho;
    PutMessage(&home_image, 1, "cq cq cq de demo demo k");
    PutMessage(&home_image, 2, "[S25]qrz? de demo k[X]");
    PutMessage(&home_image, 3, "tu 73 de demo sk");

    DemoStation remote{"RemoteSide", demo + "remote\\", {}};
    DemoStation home{"ControlPoint", demo + "home\\", {}};
    const bool linked =
        StartStation(&remote, remote_image, "Listening for Request....") &&
        StartStation(&home, home_image, "Connected to server.") &&
        ui::WaitForText(home.program.window, IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs);
    if (!linked) {
        ui::StopProgram(&home.program);
        ui::StopProgram(&remote.program);
        return 1;
    }
    HWND home_window = home.program.window;
    HWND remote_window = remote.program.window;
    ui::PlaceSideBySide(home_window, remote_window, kMarginPx);
    SetForegroundWindow(home_window);
    std::printf(
        "Linked over 127.0.0.1 port %u. Left: the ControlPoint at home, its keyer on\n"
        "COM%u. Right: the RemoteSide at the site, its keyer on COM%u.\n",
        port, home_com, remote_com);
    std::fflush(stdout);

    if (text.empty()) {
        std::printf(
            "Type into the left window's log pane, or press M1 to M3: the right\n"
            "station's keyer keys it and its echo comes back to the left window's\n"
            "echo line. Close both windows to end the demo.\n");
        std::fflush(stdout);
        HANDLE both[2] = {home.program.process, remote.program.process};
        WaitForMultipleObjects(2, both, TRUE, INFINITE);
        ui::StopProgram(&home.program);
        ui::StopProgram(&remote.program);
        return 0;
    }

    ui::TypeText(home_window, IDC_LOG_PANE, text);
    const std::string echo = UpperCase(text);
    const bool echoed = ui::WaitForText(home_window, IDC_ECHO_LINE, echo, kEchoWaitMs);
    std::printf("Typed \"%s\" at the ControlPoint; its echo line shows \"%s\".\n", text.c_str(),
                ui::ReadText(home_window, IDC_ECHO_LINE).c_str());
    // The link field fills with the first heartbeat's answer, a moment after the link.
    WaitForTextEnding(home_window, IDC_LINK_HEALTH, " ms", kWaitMs);
    // The home window last: the active one in the picture.
    const bool saved = ui::SaveScreenshot(
        std::vector<HWND>{remote_window, home_window}, screenshot,
        {"Site (RemoteSide): its keyer keys what home sends", "Home (ControlPoint): type here"});
    ui::PressCloseBox(home_window);
    ui::PressCloseBox(remote_window);
    ui::WaitForExit(&home.program, kWaitMs);
    ui::WaitForExit(&remote.program, kWaitMs);
    ui::StopProgram(&home.program);
    ui::StopProgram(&remote.program);
    return echoed && saved ? 0 : 1;
}
