// The About box (template 1004), run modally over the Main window.
#pragma once

#include <windows.h>

// Returns when the operator ends the box with OK, Enter or the close box.
void RunAboutBox(HWND owner);
