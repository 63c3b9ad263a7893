// The Message Editor dialog (template 1003) on Windows.
#pragma once

#include <windows.h>

class Station;

// Runs the editor modally for message `number`, owned by `parent`, storing through `station`.
void RunMessageEditor(HWND parent, int number, Station& station);
