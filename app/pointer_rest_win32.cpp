#include "app/pointer_rest_win32.h"

// after windows.h, which it needs
#include <commctrl.h>

#include "app/main_window_win32.h"

namespace {

constexpr UINT_PTR kPointerRestSubclassId = 0x5052;
// While a tip shows, the pointer's leave must hide it soon, so the hovers come this often; a
// tip's life is this many of them, as long as Windows' own tips stay by default.
constexpr DWORD kTipPollMs = 250;
constexpr DWORD_PTR kTipLifeInPolls = 20;

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

// The window whose hover or leave is watched now, or null.
HWND TrackedWindow() {
    TRACKMOUSEEVENT query{};
    query.cbSize = sizeof query;
    query.dwFlags = TME_QUERY;
    if (!TrackMouseEvent(&query) || (query.dwFlags & (TME_LEAVE | TME_HOVER)) == 0) {
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

void StopTracking(HWND control) {
    Track(control, TME_CANCEL | TME_LEAVE | TME_HOVER, 0);
}

// The pointer has left `control` without a poll noticing: it is told as a poll would.
void EndTracking(HWND control) {
    StopTracking(control);
    SendMessageA(control, WM_MOUSELEAVE, 0, 0);
}

// The control whose tip has had its life while the pointer stayed on it: it shows no tip
// again until the pointer has been elsewhere.
HWND tip_spent_on = nullptr;

// How many hovers came since the pointer arrived, kept with the control's subclass.
void SetHoversSeen(HWND control, DWORD_PTR hovers);

// The pointer is over `window` now: whatever watched another window's leave is over.
void OnPointerOver(HWND window) {
    if (HWND tracked = TrackedWindow(); tracked != nullptr && tracked != window) {
        EndTracking(tracked);
    }
    if (tip_spent_on != window) {
        tip_spent_on = nullptr;
    }
}

// Every hover a control gets is one the window asked for, for its tip.
void OnHover(HWND control, DWORD_PTR hovers_seen) {
    if (!HasTip(control)) {
        StopTracking(control);
        return;
    }
    if (hovers_seen == 0) {
        ShowTip(control);
    }
    if (hovers_seen + 1 < kTipLifeInPolls) {
        SetHoversSeen(control, hovers_seen + 1);
        Track(control, TME_LEAVE | TME_HOVER, kTipPollMs);
        return;
    }
    // The tip's life is over: nothing is left to undo when the pointer goes, so nothing is
    // watched from now on.
    HideTip(control);
    StopTracking(control);
    tip_spent_on = control;
}

constexpr WPARAM kPressedButtons = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;

LRESULT CALLBACK ControlProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                             UINT_PTR /*id*/, DWORD_PTR hovers_seen) {
    switch (message) {
        case WM_MOUSEMOVE:
            // A press dragged over the control is the control's own business; what it asked
            // Wine to watch meanwhile would be polled for after the press, so it goes.
            if ((wparam & kPressedButtons) != 0) {
                const LRESULT result = DefSubclassProc(control, message, wparam, lparam);
                if (TrackedWindow() == control && !HasTip(control)) {
                    StopTracking(control);
                }
                return result;
            }
            OnPointerOver(control);
            if (HasTip(control) && tip_spent_on != control && TrackedWindow() != control) {
                SetHoversSeen(control, 0);
                Track(control, TME_LEAVE | TME_HOVER, HOVER_DEFAULT);
            }
            // The control never sees the pointer come: it would ask for a hover and a leave
            // of its own, which Wine polls for as long as the pointer stays.
            return 0;
        case WM_MOUSEHOVER:
            OnHover(control, hovers_seen);
            return 0;
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

void SetHoversSeen(HWND control, DWORD_PTR hovers) {
    SetWindowSubclass(control, ControlProc, kPointerRestSubclassId, hovers);
}

// The window's own surface: a move there means the pointer left whichever control it was on.
LRESULT CALLBACK SurfaceProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                             UINT_PTR /*id*/, DWORD_PTR /*data*/) {
    if (message == WM_MOUSEMOVE) {
        OnPointerOver(window);
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SurfaceProc, kPointerRestSubclassId);
        tip_window = nullptr;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

BOOL CALLBACK WatchControl(HWND control, LPARAM /*unused*/) {
    SetWindowSubclass(control, ControlProc, kPointerRestSubclassId, 0);
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
