// The Main window's dialog procedure: translates window messages into the portable
// handlers.
#pragma once

#include <windows.h>

extern HINSTANCE program_instance;

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
