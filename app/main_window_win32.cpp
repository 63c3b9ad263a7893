#include "app/main_window_win32.h"

#include <chrono>
#include <memory>

#include "app/about_box_win32.h"
#include "app/main_window.h"
#include "app/main_window_commands.h"
#include "app/open_close_button.h"
#include "app/resource_ids.h"
#include "app/runtime_state.h"
#include "app/win32_window.h"
#include "keyer/keyer_host.h"
#include "messages/message_buttons.h"
#include "messages/message_editor_win32.h"
#include "messages/message_sender.h"
#include "net/link_events.h"
#include "net/link_timing.h"
#include "net/socket_api.h"
#include "settings/setup_dialog_win32.h"

HINSTANCE program_instance = nullptr;

namespace {

HWND main_window = nullptr;
HWND log_pane = nullptr;
std::unique_ptr<Win32Window> window_backend;

// The Main window's two timers; net/link_timing.h has their periods.
constexpr UINT_PTR kHeartbeatTimerId = 1;
constexpr UINT_PTR kLinkTimerId = 2;
std::chrono::milliseconds link_timer_period{0};

UINT TimerMs(std::chrono::milliseconds period) {
    return static_cast<UINT>(period.count());
}

// Setting a timer again with its id replaces it, so only a change of period costs a call.
void RearmLinkTimer(HWND window) {
    const std::chrono::milliseconds wanted = LinkTimerPeriod();
    if (wanted != link_timer_period) {
        SetTimer(window, kLinkTimerId, TimerMs(wanted), nullptr);
        link_timer_period = wanted;
    }
}

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

LRESULT CALLBACK SubclassedControlProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    const int id = GetDlgCtrlID(control);
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
            OnSpeedEntry();
            return 0;
        }
    }
    if (message == WM_RBUTTONDOWN && MessageNumberOf(id) != 0) {
        editor_message = MessageNumberOf(id);
        RunMessageEditor(control);
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

void Shutdown(HWND dialog) {
    CloseNetworkAtExit();
    // The keyer reader and a message sender may still be calling into the window; from here
    // on their calls do nothing, and none is left inside one when the window goes.
    CloseWindowSeam();
    // The keyer reader starts messages and sends packets; it stops before the sender ends.
    StopKeyerThreadsAtExit();
    EndMessageSender();
    EndDialog(dialog, 0);
}

// The low 16 bits of a command's first parameter name the control; the notification code
// is not looked at, and the dialog's own default and cancel commands (1 and 2) do nothing.
void OnCommand(HWND window, int id) {
    switch (id) {
        case IDC_CLEAR:
            OnClearButton();
            break;
        case IDC_TUNE:
            OnTuneButton();
            break;
        case IDC_PAUSE:
            OnPauseButton();
            break;
        case IDC_OPEN_CLOSE:
            OnOpenCloseButton(window);
            break;
        case IDC_EXIT:
            Shutdown(window);
            break;
        case IDC_SETUP:
            RunSetupDialog(window);
            FocusControl(IDC_LOG_PANE);
            break;
        case IDC_M1:
        case IDC_M2:
        case IDC_M3:
        case IDC_M4:
        case IDC_M5:
        case IDC_M6:
            OnMessageButton(MessageNumberOf(id));
            break;
        default:
            break;
    }
}

}  // namespace

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            main_window = window;
            window_backend = std::make_unique<Win32Window>(window);
            InstallWindowBackend(window_backend.get());
            SubclassControls(window);
            log_pane = GetDlgItem(window, IDC_LOG_PANE);
            InitializeMainWindowState(window);
            SetTimer(window, kHeartbeatTimerId, TimerMs(kHeartbeatPeriod), nullptr);
            RearmLinkTimer(window);
            RunStartupConnection(window);
            return TRUE;
        case WM_SIZE:
            return TRUE;
        case WM_TIMER:
            if (wparam == kHeartbeatTimerId) {
                OnHeartbeatTick();
            } else if (wparam == kLinkTimerId) {
                OnLinkWatchTick();
                CloseLocalKeyerIfLost();
                RearmLinkTimer(window);
            }
            return TRUE;
        case WM_COMMAND:
            OnCommand(window, LOWORD(wparam));
            return TRUE;
        case WM_CHAR:
            OnTypedCharacter(static_cast<unsigned int>(wparam));
            return TRUE;
        case WM_VSCROLL:
            OnSpinBar(LOWORD(wparam));
            return TRUE;
        case WM_RBUTTONDOWN:
            // Only the window's own surface: buttons and edits take their clicks themselves,
            // and the static texts and group boxes let them through to here.
            RunAboutBox(window);
            SetFocus(log_pane);
            return TRUE;
        case WM_SEAM_WORK:
            RunSentSeamWork(lparam);
            return TRUE;
        case kSocketNotifyMessage: {
            const int handled = HandleSocketNotify(DecodeSocketNotify(wparam, lparam));
            RearmLinkTimer(window);
            return handled;
        }
        case WM_CLOSE:
            Shutdown(window);
            return TRUE;
        default:
            return FALSE;
    }
}
