#include "app/main_window_layout_win32.h"

MainWindowLayout::MainWindowLayout(HWND dialog) : dialog_(dialog) {
    RECT window{};
    GetWindowRect(dialog, &window);
    smallest_window_ = {window.right - window.left, window.bottom - window.top};
    RECT client{};
    GetClientRect(dialog, &client);
    smallest_client_ = {client.right, client.bottom};
    for (const ControlAnchor& anchor : kMainWindowAnchors) {
        RECT rect{};
        GetWindowRect(GetDlgItem(dialog, anchor.id), &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        controls_.push_back({anchor, {rect.left, rect.top, rect.right, rect.bottom}});
    }
    int pane_right = 0;
    for (const Placed& control : controls_) {
        if (control.anchor.id == IDC_LOG_PANE) {
            pane_right = control.at_smallest.right;
        }
    }
    for (Placed& control : controls_) {
        if (control.anchor.id == kWidenedToThePane) {
            control.at_smallest.right = pane_right;
        }
    }
    Fit(smallest_client_);
}

void MainWindowLayout::Fit(PixelSize client) const {
    const PixelSize growth = GrowthBeyond(smallest_client_, client);
    for (const Placed& control : controls_) {
        const PixelRect rect = Anchored(control.at_smallest, control.anchor, growth);
        SetWindowPos(GetDlgItem(dialog_, control.anchor.id), nullptr, rect.left, rect.top,
                     rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    }
    // A group box paints only its frame, so what the controls left behind is painted over.
    RedrawWindow(dialog_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void MainWindowLayout::LimitTracking(MINMAXINFO* limits) const {
    limits->ptMinTrackSize = {smallest_window_.width, smallest_window_.height};
}
