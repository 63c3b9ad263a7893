// Where the Main window opens: centred on the screen the first run, and after that where the
// operator left it, kept in the `.ini` beside the configuration file under `[Window]` as
// `Left` and `Top` (screen coordinates of its top-left corner, negative on a screen left of
// the main one). A place on a screen that has gone since is brought back onto one.
//
// Its size is kept beside the place as `Width` and `Height`, the window's normal size: one
// left maximised comes back at the size it had before, not maximised, since a window that
// fills the screen at every start would hide whatever else the operator runs beside it. A
// size smaller than the template's (which the window cannot take) or larger than the screen
// it opens on (one unplugged since, or set smaller) is not taken: the window opens at the
// template's size.
#pragma once

#include <optional>
#include <string>

#include "app/window_layout.h"

struct WindowPlace {
    int left;
    int top;
};

// A screen's work area: the screen less the taskbar.
struct WorkArea {
    int left;
    int top;
    int right;
    int bottom;
};

// The place kept beside `config_path`, or nothing the first run (or when the operator's edit
// left something that is not a number there).
std::optional<WindowPlace> KeptWindowPlace(const std::string& config_path);
// The size kept beside `config_path`, when there is one that is no smaller than `smallest`
// and fits in `work`.
std::optional<PixelSize> KeptWindowSize(const std::string& config_path, PixelSize smallest,
                                        const WorkArea& work);
// Kept for the next run; false when the .ini could not be written.
bool KeepWindowPlace(const std::string& config_path, WindowPlace place, PixelSize size);

// A window of `width` by `height` in the middle of `work`.
WindowPlace CentredIn(const WorkArea& work, int width, int height);
// `place` moved the least that puts the window inside `work`, its top-left corner first when
// it is larger, so that its caption can always be reached.
WindowPlace BroughtInto(const WorkArea& work, WindowPlace place, int width, int height);
