#include "app/pointer_rest_win32.h"

// after windows.h, which it needs
#include <commctrl.h>

#include "app/main_window_win32.h"

namespace {

constexpr UINT_PTR kPointerRestSubclassId = 0x5052;
// How long a tip stays while the pointer rests, as Windows' own tips do by default.
constexpr DWORD kTipLifeMs = 5000;

// The one tracking tooltip window of the Main window; it goes with the window, its owner.
HWND tip_window = nullptr;

TTTOOLINFOA ToolOf(HWND control) {
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    return tool;
}

bool HasTip(HWND control) {
    TTTOOLINFOA tool = ToolOf(control);
    return tip_window != nullptr &&
           SendMessageA(tip_window, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
}

void ShowTip(HWND control) {
    POINT pointer{};
    GetCursorPos(&pointer);
    // Below the pointer's arrow, as a tip that follows its tool appears.
    const int below = GetSystemMetrics(SM_CYCURSOR) * 2 / 3;
    SendMessageA(tip_window, TTM_TRACKPOSITION, 0, MAKELPARAM(pointer.x, pointer.y + below));
    TTTOOLINFOA tool = ToolOf(control);
    SendMessageA(tip_window, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
}

void HideTip(HWND control) {
    if (HasTip(control)) {
        TTTOOLINFOA tool = ToolOf(control);
        SendMessageA(tip_window, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
    }
}

// The window whose leave is watched now, or null.
HWND TrackedWindow() {
    TRACKMOUSEEVENT query{};
    query.cbSize = sizeof query;
    query.dwFlags = TME_QUERY;
    if (!TrackMouseEvent(&query) || (query.dwFlags & TME_LEAVE) == 0) {
        return nullptr;
    }
    return query.hwndTrack;
}

void Track(HWND control, DWORD flags, DWORD hover_ms) {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = flags;
    track.hwndTrack = control;
    track.dwHoverTime = hover_ms;
    TrackMouseEvent(&track);
}

// The pointer has left `control` without a poll noticing: it is told as a poll would.
void EndTracking(HWND control) {
    Track(control, TME_CANCEL | TME_LEAVE | TME_HOVER, 0);
    SendMessageA(control, WM_MOUSELEAVE, 0, 0);
}

void OnArrival(HWND control, WPARAM wparam, LPARAM lparam) {
    if (HWND tracked = TrackedWindow(); tracked != nullptr && tracked != control) {
        EndTracking(tracked);
    }
    Track(control, TME_LEAVE | TME_HOVER, HOVER_DEFAULT);
    DefSubclassProc(control, WM_MOUSEHOVER, wparam, lparam);
}

LRESULT CALLBACK ControlProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                             UINT_PTR /*id*/, DWORD_PTR tip_shown) {
    switch (message) {
        case WM_MOUSEMOVE:
            if (TrackedWindow() != control) {
                SetWindowSubclass(control, ControlProc, kPointerRestSubclassId, FALSE);
                OnArrival(control, wparam, lparam);
            }
            break;
        case WM_MOUSEHOVER:
            // The first hover after the arrival shows the tip; the one a tip's life later
            // hides it, and no more are asked for.
            if (tip_shown == FALSE && HasTip(control)) {
                ShowTip(control);
                SetWindowSubclass(control, ControlProc, kPointerRestSubclassId, TRUE);
                Track(control, TME_LEAVE | TME_HOVER, kTipLifeMs);
            } else {
                HideTip(control);
            }
            break;
        case WM_MOUSELEAVE:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            HideTip(control);
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(control, ControlProc, kPointerRestSubclassId);
            break;
        default:
            break;
    }
    return DefSubclassProc(control, message, wparam, lparam);
}

// The window's own surface: a move there means the pointer left whichever control it was on.
LRESULT CALLBACK SurfaceProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                             UINT_PTR /*id*/, DWORD_PTR /*data*/) {
    if (message == WM_MOUSEMOVE) {
        if (HWND tracked = TrackedWindow(); tracked != nullptr && tracked != window) {
            EndTracking(tracked);
        }
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SurfaceProc, kPointerRestSubclassId);
        tip_window = nullptr;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

BOOL CALLBACK WatchControl(HWND control, LPARAM /*unused*/) {
    SetWindowSubclass(control, ControlProc, kPointerRestSubclassId, FALSE);
    return TRUE;
}

void AddTips(HWND window, const PointerTip* tips, int tip_count) {
    tip_window =
        CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, program_instance, nullptr);
    if (tip_window == nullptr) {
        return;  // a window without tips works all the same
    }
    for (int i = 0; i < tip_count; ++i) {
        TTTOOLINFOA tool = ToolOf(GetDlgItem(window, tips[i].control_id));
        tool.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
        tool.lpszText = const_cast<char*>(tips[i].text);
        SendMessageA(tip_window, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

}  // namespace

void KeepPointerRestCheap(HWND window, const PointerTip* tips, int tip_count) {
    AddTips(window, tips, tip_count);
    EnumChildWindows(window, WatchControl, 0);
    SetWindowSubclass(window, SurfaceProc, kPointerRestSubclassId, 0);
}
