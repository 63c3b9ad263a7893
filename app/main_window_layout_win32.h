// The Main window's controls following its size (app/window_layout.h), and its smallest size.
#pragma once

#include <windows.h>

#include <vector>

#include "app/window_layout.h"

class MainWindowLayout {
  public:
    // Takes the window's size and its controls' rectangles as the template made them, so it
    // is made before anything changes the window's size.
    explicit MainWindowLayout(HWND dialog);

    // The client area is now `client`'s size.
    void Fit(PixelSize client) const;
    // The window is never made smaller than the template.
    void LimitTracking(MINMAXINFO* limits) const;

  private:
    struct Placed {
        ControlAnchor anchor;
        PixelRect at_smallest;
    };

    HWND dialog_;
    PixelSize smallest_window_{};
    PixelSize smallest_client_{};
    std::vector<Placed> controls_;
};
