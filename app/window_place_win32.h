// The Main window's place on the screens: see app/window_place.h.
#pragma once

#include <windows.h>

#include <string>

// Before the window shows: where it was left at the size it had, or centred on the main
// screen at the template's size the first run.
void PlaceMainWindow(HWND window, const std::string& config_path);
// At exit: the window's normal place and size, which a minimised or maximised window has
// kept from before.
void KeepMainWindowPlace(HWND window, const std::string& config_path);
