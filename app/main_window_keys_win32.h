// The Main window's keyboard beyond typing: the keys that stand for its buttons, the paste
// into the typing pane, and the tooltips that name the keys.
#pragma once

#include <windows.h>

#include <string>

class Station;

// F1 to F6 send the stored messages and Esc clears, whichever of `dialog`'s controls has the
// focus, from now until RemoveMainWindowKeys. On the window's thread.
void InstallMainWindowKeys(HWND dialog, Station& station);
void RemoveMainWindowKeys();
// The clipboard's text; empty when it holds none.
std::string ClipboardText(HWND owner);
// Each button that has a key says which when the pointer rests on it, and a pointer resting
// anywhere on the window costs nothing (app/pointer_rest_win32.h).
void AddKeyTooltips(HWND dialog);
