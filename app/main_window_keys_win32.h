// The Main window's keyboard beyond typing: the keys that stand for its buttons, and the
// tooltips that name them.
#pragma once

#include <windows.h>

class Station;

// F1 to F6 send the stored messages and Esc clears, whichever of `dialog`'s controls has the
// focus, from now until RemoveMainWindowKeys. On the window's thread.
void InstallMainWindowKeys(HWND dialog, Station& station);
void RemoveMainWindowKeys();
// Each button that has a key says which when the pointer rests on it.
void AddKeyTooltips(HWND dialog);
