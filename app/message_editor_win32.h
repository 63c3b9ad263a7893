// The Message Editor dialog (template 1003) on Windows.
#pragma once

#include <windows.h>

#include "station/station_view.h"

// Runs the editor modally for message `number`, owned by `parent`; a failed save is reported
// to `view`.
void RunMessageEditor(HWND parent, int number, StationView& view);
