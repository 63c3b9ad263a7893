#include "app/window_place_win32.h"

#include "app/window_place.h"

namespace {

WorkArea WorkAreaOf(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoA(monitor, &info);
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

}  // namespace

void PlaceMainWindow(HWND window, const std::string& config_path) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const std::optional<WindowPlace> kept = KeptWindowPlace(config_path);
    WindowPlace place{};
    if (!kept) {
        const POINT origin{0, 0};
        place = CentredIn(WorkAreaOf(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY)), width,
                          height);
    } else {
        const RECT wanted{kept->left, kept->top, kept->left + width, kept->top + height};
        // A screen unplugged since, or a desk of screens arranged anew, would leave the
        // window out of reach; one still partly on a screen stays where the operator put it.
        place = MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL) != nullptr
                    ? *kept
                    : BroughtInto(WorkAreaOf(MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST)),
                                  *kept, width, height);
    }
    SetWindowPos(window, nullptr, place.left, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void KeepMainWindowPlace(HWND window, const std::string& config_path) {
    RECT rect{};
    if (IsIconic(window) || IsZoomed(window) || !GetWindowRect(window, &rect)) {
        return;
    }
    KeepWindowPlace(config_path, {rect.left, rect.top});
}
