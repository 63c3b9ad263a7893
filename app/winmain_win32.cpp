// Program start: fixes the start-up texts, registers the window class that gives the Main
// window its icon, and runs the Main window until the operator ends it.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <string>
#include <vector>

#include "app/main_window_win32.h"
#include "app/resource_ids.h"
#include "app/resource_texts.h"
#include "app/startup_paths.h"

namespace {

// Windows gives paths longer than MAX_PATH to programs in deep folders; the configuration
// file must still land next to the program, so the buffer grows until the path fits.
std::string RunningProgramPath() {
    std::vector<char> buffer(260);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < buffer.size()) {
            return std::string(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

int PlatformId() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version)) {
        return VER_PLATFORM_WIN32_NT;
    }
#pragma GCC diagnostic pop
    return static_cast<int>(version.dwPlatformId);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    program_instance = instance;

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = 0xFF;
    InitCommonControlsEx(&controls);

    const StartupTexts texts = DeriveStartupTexts(PlatformId(), RunningProgramPath());
    os_name = texts.os_name;

    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    if (!GetClassInfoExA(nullptr, MAKEINTATOM(0x8002), &window_class)) {
        return 0;
    }
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PELLMAR));
    window_class.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_PELLMAR),
                                                         IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                         GetSystemMetrics(SM_CYSMICON), 0));
    window_class.lpszClassName = PELLMAR_CLASS_NAME;
    if (!RegisterClassExA(&window_class)) {
        return 0;
    }

    return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_WINDOW), nullptr,
                                            MainWindowProc, reinterpret_cast<LPARAM>(&texts)));
}
