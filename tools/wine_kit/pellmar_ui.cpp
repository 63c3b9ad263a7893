// pellmar_ui: the UI driver as a command, for scripts and for poking at a running
// pellmar.exe by hand. Acts on the first Main window it finds.
//
//   pellmar_ui click ID | type ID TEXT | rclick ID | text ID | wait-text ID TEXT [MS]
//              close | screenshot FILE.bmp | box CAPTION | dismiss CAPTION
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/wine_kit/ui_driver.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: pellmar_ui click ID | type ID TEXT | rclick ID | text ID |\n"
                 "                  wait-text ID TEXT [MS] | close | screenshot FILE |\n"
                 "                  box CAPTION | dismiss CAPTION\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage();
    }
    const std::string verb = argv[1];
    auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };
    auto id = [&](int i) { return std::atoi(arg(i).c_str()); };

    if (verb == "box" || verb == "dismiss") {
        HWND box = ui::WaitForMessageBox(0, arg(2), 5000);
        if (box == nullptr) {
            std::fprintf(stderr, "no message box \"%s\"\n", arg(2).c_str());
            return 1;
        }
        if (verb == "box") {
            std::printf("%s\n", ui::MessageBoxText(box).c_str());
        } else {
            ui::DismissMessageBox(box);
        }
        return 0;
    }

    HWND window = ui::FindAnyMainWindow(10000);
    if (window == nullptr) {
        std::fprintf(stderr, "no Pellmar window found\n");
        return 1;
    }
    if (verb == "click" && argc >= 3) {
        ui::Click(window, id(2));
    } else if (verb == "type" && argc >= 4) {
        ui::TypeText(window, id(2), arg(3));
    } else if (verb == "rclick" && argc >= 3) {
        ui::RightClick(window, id(2));
    } else if (verb == "text" && argc >= 3) {
        std::printf("%s\n", ui::ReadText(window, id(2)).c_str());
    } else if (verb == "wait-text" && argc >= 4) {
        const int timeout = argc >= 5 ? id(4) : 5000;
        if (!ui::WaitForText(window, id(2), arg(3), timeout)) {
            std::fprintf(stderr, "control %d shows \"%s\"\n", id(2),
                         ui::ReadText(window, id(2)).c_str());
            return 1;
        }
    } else if (verb == "close") {
        ui::PressCloseBox(window);
    } else if (verb == "screenshot" && argc >= 3) {
        if (!ui::SaveScreenshot(window, arg(2))) {
            std::fprintf(stderr, "screenshot failed\n");
            return 1;
        }
    } else {
        return Usage();
    }
    return 0;
}
