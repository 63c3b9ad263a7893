#include "app/main_window_win32.h"

#include <chrono>
#include <memory>

#include "app/about_box_win32.h"
#include "app/link_key_box_win32.h"
#include "app/main_window_keys_win32.h"
#include "app/main_window_layout_win32.h"
#include "app/main_window_view.h"
#include "app/message_editor_win32.h"
#include "app/resource_ids.h"
#include "app/setup_dialog_win32.h"
#include "app/spin_bar.h"
#include "app/start_with_windows_win32.h"
#include "app/startup_paths.h"
#include "app/win32_window.h"
#include "app/window_place_win32.h"
#include "net/socket_api.h"
#include "station/station.h"
#include "station/station_timers.h"

HINSTANCE program_instance = nullptr;

namespace {

// The view's calls from the station's worker threads reach the window as this message.
constexpr UINT WM_VIEW_WORK = WM_APP + 2;

class Win32WindowThread final : public WindowThread {
  public:
    explicit Win32WindowThread(HWND dialog) : dialog_(dialog) {}
    bool IsCurrent() override {
        return GetWindowThreadProcessId(dialog_, nullptr) == GetCurrentThreadId();
    }
    void Wake() override { PostMessageA(dialog_, WM_VIEW_WORK, 0, 0); }

  private:
    HWND dialog_;
};

// "Make a Link Key..." in the system menu: a command below the system's own (0xF000 and up),
// whose low four bits are Windows' to use.
constexpr UINT_PTR kMakeLinkKeyCommand = 0x0010;
constexpr WPARAM kSystemCommandBits = 0xFFF0;

// The Main window's two timers, whose periods the station's timers say.
constexpr UINT_PTR kHeartbeatTimerId = 1;
constexpr UINT_PTR kLinkTimerId = 2;

UINT_PTR TimerIdOf(StationTimers::Timer timer) {
    return timer == StationTimers::Timer::kHeartbeat ? kHeartbeatTimerId : kLinkTimerId;
}

// Setting a timer again with its id replaces it.
StationTimers::SetTimer WindowTimers(HWND dialog) {
    return [dialog](StationTimers::Timer timer, std::chrono::milliseconds period) {
        SetTimer(dialog, TimerIdOf(timer), static_cast<UINT>(period.count()), nullptr);
    };
}

// Everything the one Main window is: its controls as the window seam sees them and how they
// follow its size, the view the station speaks to, the station with the socket loop its
// window's messages play, and the station's timers.
struct MainWindow {
    MainWindow(HWND dialog, const std::string& config_path)
        : layout(dialog),
          backend(dialog),
          window_thread(dialog),
          view(backend, &window_thread),
          sockets(dialog),
          station(view, view, sockets, StationSetup{config_path, {}, {}, {}}),
          timers(station, WindowTimers(dialog)) {}

    MainWindowLayout layout;
    Win32Window backend;
    Win32WindowThread window_thread;
    MainWindowView view;
    SocketLoop sockets;
    Station station;
    StationTimers timers;
    // Set by the exit; from then on the window only waits to go, and nothing reaches the
    // station again.
    bool ended = false;
};

std::unique_ptr<MainWindow> main_window;
HWND log_pane = nullptr;

struct SubclassedControl {
    int id;
    WNDPROC previous;
};

// The nine controls whose window procedures are replaced; each replacement intercepts one
// message and passes everything else on unchanged.
SubclassedControl subclassed[] = {
    {IDC_ECHO_LINE, nullptr}, {IDC_LOG_PANE, nullptr}, {IDC_WPM, nullptr},
    {IDC_M1, nullptr},        {IDC_M2, nullptr},       {IDC_M3, nullptr},
    {IDC_M4, nullptr},        {IDC_M5, nullptr},       {IDC_M6, nullptr},
};

int MessageNumberOf(int id) {
    switch (id) {
        case IDC_M1:
            return 1;
        case IDC_M2:
            return 2;
        case IDC_M3:
            return 3;
        case IDC_M4:
            return 4;
        case IDC_M5:
            return 5;
        case IDC_M6:
            return 6;
        default:
            return 0;
    }
}

WNDPROC PreviousProcOf(int id) {
    for (const SubclassedControl& control : subclassed) {
        if (control.id == id) {
            return control.previous;
        }
    }
    return nullptr;
}

// What the typing pane's edit control would paste into itself (Ctrl+V, Shift+Insert, a paste
// message) is typed instead.
bool IsPasteIntoPane(UINT message, WPARAM wparam) {
    constexpr WPARAM kCtrlV = 0x16;
    return message == WM_PASTE || (message == WM_CHAR && wparam == kCtrlV) ||
           (message == WM_KEYDOWN && wparam == VK_INSERT && GetKeyState(VK_SHIFT) < 0);
}

LRESULT CALLBACK SubclassedControlProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    const int id = GetDlgCtrlID(control);
    if (id == IDC_LOG_PANE && IsPasteIntoPane(message, wparam)) {
        main_window->station.TypeText(ClipboardText(control));
        main_window->timers.FollowLinkPeriod();
        return 0;
    }
    if (message == WM_CHAR) {
        if (id == IDC_ECHO_LINE) {
            return 0;
        }
        if (id == IDC_LOG_PANE) {
            // The pane never inserts what is typed: the typed-character path decides what
            // is sent and shown.
            SendMessageA(GetParent(control), WM_CHAR, wparam, 0);
            return 0;
        }
        if (id == IDC_WPM && wparam == 13) {
            main_window->station.EnterSpeed(main_window->backend.GetControlText(IDC_WPM));
            return 0;
        }
    }
    if (message == WM_RBUTTONDOWN && MessageNumberOf(id) != 0) {
        RunMessageEditor(control, MessageNumberOf(id), main_window->station);
        return 0;
    }
    return CallWindowProcA(PreviousProcOf(id), control, message, wparam, lparam);
}

void SubclassControls(HWND dialog) {
    for (SubclassedControl& control : subclassed) {
        HWND handle = GetDlgItem(dialog, control.id);
        control.previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassedControlProc)));
    }
}

// The one way out, whether the operator ends the program or Windows ends the session.
void Shutdown(HWND dialog) {
    // The station's threads stop first; none of them waits for the window, so the window's
    // thread can wait for them. Then nothing calls the view, and what it still holds goes.
    main_window->ended = true;
    RemoveMainWindowKeys();
    main_window->station.Exit();
    KeepMainWindowPlace(dialog, main_window->station.settings().config_path());
    main_window->view.Close();
    EndDialog(dialog, 0);
    // A problem report's box leaves the window usable, so the exit may come from inside the
    // box's own message loop; the quit message ends that loop too, where the end of the dialog
    // alone would wait for the box.
    PostQuitMessage(0);
}

// The low 16 bits of a command's first parameter name the control; the notification code
// is not looked at, and the dialog's own default and cancel commands (1 and 2) do nothing.
void OnCommand(HWND window, int id) {
    Station& station = main_window->station;
    switch (id) {
        case IDC_CLEAR:
            station.Clear();
            break;
        case IDC_TUNE:
            station.ToggleTune();
            break;
        case IDC_PAUSE:
            station.TogglePause();
            break;
        case IDC_OPEN_CLOSE:
            station.OpenOrClose();
            break;
        case IDC_EXIT:
            Shutdown(window);
            break;
        case IDC_SETUP:
            RunSetupDialog(window, station);
            main_window->backend.FocusControl(IDC_LOG_PANE);
            break;
        case IDC_M1:
        case IDC_M2:
        case IDC_M3:
        case IDC_M4:
        case IDC_M5:
        case IDC_M6:
            station.SendStoredMessage(MessageNumberOf(id));
            break;
        default:
            break;
    }
}

void StartMainWindow(HWND window, const StartupTexts& texts) {
    main_window = std::make_unique<MainWindow>(window, texts.config_path);
    SubclassControls(window);
    InstallMainWindowKeys(window, main_window->station);
    AddKeyTooltips(window);
    log_pane = GetDlgItem(window, IDC_LOG_PANE);
    HMENU system_menu = GetSystemMenu(window, FALSE);
    AppendMenuA(system_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(system_menu, MF_STRING, kMakeLinkKeyCommand, "Make a Link Key...");
    main_window->station.Start();
    RunKeyEntry run_key;
    FollowStartWithWindows(main_window->station.StartWithWindows(), texts.program_path, run_key,
                           main_window->station.connect_log());
    PlaceMainWindow(window, main_window->station.settings().config_path());
    main_window->timers.Start();
    main_window->station.OpenAtStartup();
}

}  // namespace

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (main_window != nullptr && main_window->ended) {
        return FALSE;
    }
    switch (message) {
        case WM_INITDIALOG:
            // WinMain hands over where the program and its configuration file live.
            StartMainWindow(window, *reinterpret_cast<const StartupTexts*>(lparam));
            return TRUE;
        case WM_SIZE:
            // The first comes while the window is made, before there is a layout.
            if (main_window != nullptr && wparam != SIZE_MINIMIZED) {
                main_window->layout.Fit({LOWORD(lparam), HIWORD(lparam)});
            }
            return TRUE;
        case WM_GETMINMAXINFO:
            if (main_window != nullptr) {
                main_window->layout.LimitTracking(reinterpret_cast<MINMAXINFO*>(lparam));
            }
            return TRUE;
        case WM_TIMER:
            if (wparam == kHeartbeatTimerId) {
                main_window->timers.OnTick(StationTimers::Timer::kHeartbeat);
            } else if (wparam == kLinkTimerId) {
                main_window->timers.OnTick(StationTimers::Timer::kLink);
            }
            return TRUE;
        case WM_COMMAND:
            OnCommand(window, LOWORD(wparam));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wparam & kSystemCommandBits) != kMakeLinkKeyCommand) {
                return FALSE;
            }
            RunLinkKeyBox(window, main_window->station.settings().config_path());
            SetFocus(log_pane);
            return TRUE;
        case WM_CHAR:
            main_window->station.TypeCharacter(static_cast<unsigned int>(wparam));
            return TRUE;
        case WM_VSCROLL:
            main_window->station.StepSpeed(SpeedStepOfScrollCode(LOWORD(wparam)));
            return TRUE;
        case WM_RBUTTONDOWN:
            // Only the window's own surface: buttons and edits take their clicks themselves,
            // and the static texts and group boxes let them through to here.
            RunAboutBox(window);
            SetFocus(log_pane);
            return TRUE;
        case WM_VIEW_WORK:
            main_window->view.RunHandedOver();
            return TRUE;
        case kSocketNotifyMessage:
            return main_window->timers.OnSocketEvent(DecodeSocketNotify(wparam, lparam));
        case WM_CLOSE:
            Shutdown(window);
            return TRUE;
        case WM_QUERYENDSESSION:
            // An unattended site must never hold up a shutdown or an update restart; what it
            // has to let go of, it lets go of when the end comes.
            SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            // Windows may end the process as soon as this returns, before the dialog's loop
            // runs again, so the keyer is released here. An end that was called off (FALSE)
            // leaves the station running.
            if (wparam != FALSE) {
                Shutdown(window);
            }
            return TRUE;
        default:
            return FALSE;
    }
}
