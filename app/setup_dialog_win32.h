// The Setup dialog (template IDD_SETUP), run modally over the Main window.
#pragma once

#include <windows.h>

class Station;

void RunSetupDialog(HWND owner, Station& station);
