// The texts of the Main window's busy and wait fields, which both the local keyer's events
// and the other station's status packets write.
#pragma once

constexpr const char* kBusyText = "Busy";
constexpr const char* kWaitText = "Wait";
constexpr const char* kBreakInText = "BrkIn";
// A field with nothing to show holds one blank.
constexpr const char* kBlankText = " ";
