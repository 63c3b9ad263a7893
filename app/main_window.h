// The Main window's behaviour that needs no window system: it works through the window
// seam, so host tests drive it with a recording window.
#pragma once

#include "app/window.h"

// Initialisation after the controls are subclassed: loads the Settings record, sets up the
// WPM field, clears the link flags and writes the first status texts.
void InitializeMainWindowState(WindowHandle main_window);
