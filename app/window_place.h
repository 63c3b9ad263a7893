// Where the Main window opens: centred on the screen the first run, and after that where the
// operator left it, kept in the `.ini` beside the configuration file under `[Window]` as
// `Left` and `Top` (screen coordinates of its top-left corner, negative on a screen left of
// the main one). A place on a screen that has gone since is brought back onto one.
#pragma once

#include <optional>
#include <string>

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
// Kept for the next run; false when the .ini could not be written.
bool KeepWindowPlace(const std::string& config_path, WindowPlace place);

// A window of `width` by `height` in the middle of `work`.
WindowPlace CentredIn(const WorkArea& work, int width, int height);
// `place` moved the least that puts the window inside `work`, its top-left corner first when
// it is larger, so that its caption can always be reached.
WindowPlace BroughtInto(const WorkArea& work, WindowPlace place, int width, int height);
