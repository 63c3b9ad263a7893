// The Main window's place on the screens: see app/window_place.h.
#pragma once

#include <windows.h>

#include <string>

// Before the window shows: where it was left, or centred on the main screen the first run.
void PlaceMainWindow(HWND window, const std::string& config_path);
// At exit. A minimized or maximized window keeps the place it had before.
void KeepMainWindowPlace(HWND window, const std::string& config_path);
