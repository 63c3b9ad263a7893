// The Message Editor dialog (template 1003) on Windows.
#pragma once

#include <windows.h>

// Runs the editor modally for the message `editor_message` names, owned by `parent`.
void RunMessageEditor(HWND parent);
