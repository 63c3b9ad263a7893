// The Setup dialog (template IDD_SETUP), run modally over the Main window.
#pragma once

#include <windows.h>

class Station;
class WindowBackend;

// `main_window` is the controls of `owner`, the Main window.
void RunSetupDialog(HWND owner, WindowBackend& main_window, Station& station);
