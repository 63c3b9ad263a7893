#include "app/window_place_win32.h"

#include "app/window_place.h"

namespace {

WorkArea WorkAreaOf(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoA(monitor, &info);
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

HMONITOR MainScreen() {
    const POINT origin{0, 0};
    return MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
}

RECT RectAt(WindowPlace place, PixelSize size) {
    return {place.left, place.top, place.left + size.width, place.top + size.height};
}

}  // namespace

void PlaceMainWindow(HWND window, const std::string& config_path) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const PixelSize smallest{rect.right - rect.left, rect.bottom - rect.top};
    const std::optional<WindowPlace> kept = KeptWindowPlace(config_path);
    const RECT at_smallest = kept ? RectAt(*kept, smallest) : RECT{};
    const WorkArea work =
        WorkAreaOf(kept ? MonitorFromRect(&at_smallest, MONITOR_DEFAULTTONEAREST) : MainScreen());
    const PixelSize size = KeptWindowSize(config_path, smallest, work).value_or(smallest);
    WindowPlace place{};
    if (!kept) {
        place = CentredIn(work, size.width, size.height);
    } else {
        const RECT wanted = RectAt(*kept, size);
        // A screen unplugged since, or a desk of screens arranged anew, would leave the
        // window out of reach; one still partly on a screen stays where the operator put it.
        place = MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL) != nullptr
                    ? *kept
                    : BroughtInto(work, *kept, size.width, size.height);
    }
    SetWindowPos(window, nullptr, place.left, place.top, size.width, size.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void KeepMainWindowPlace(HWND window, const std::string& config_path) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement)) {
        return;
    }
    // The normal place is in workspace coordinates, which start at the main screen's work
    // area: a taskbar at its top or left shifts them from the screen's.
    MONITORINFO main{};
    main.cbSize = sizeof main;
    GetMonitorInfoA(MainScreen(), &main);
    const RECT& normal = placement.rcNormalPosition;
    KeepWindowPlace(config_path,
                    {normal.left + main.rcWork.left - main.rcMonitor.left,
                     normal.top + main.rcWork.top - main.rcMonitor.top},
                    {normal.right - normal.left, normal.bottom - normal.top});
}
