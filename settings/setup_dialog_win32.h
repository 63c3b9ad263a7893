// The Setup dialog (template IDD_SETUP), run modally over the Main window.
#pragma once

#include <windows.h>

void RunSetupDialog(HWND owner);
