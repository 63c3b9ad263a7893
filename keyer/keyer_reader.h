// The keyer reader: sorts every byte the keyer sends into its four kinds.
#pragma once

#include <chrono>
#include <cstdint>

#include "keyer/keyer_result.h"
#include "keyer/keyer_wire.h"

// The status byte's bits, which the keyer's events carry.
using keyer_wire::kStatusBreakIn;
using keyer_wire::kStatusBusy;
using keyer_wire::kStatusButtonReport;
using keyer_wire::kStatusHold;
using keyer_wire::kStatusWait;

// A button report (see above) from the keyer that host mode was last opened with.
bool IsKeyerButtonReport(uint8_t status);

// The port has refused every read for this long: the keyer was unplugged, or its adapter
// went. The reader then tells its listener and stops, and the keyer stays lost until it is
// closed and opened again.
constexpr std::chrono::milliseconds kKeyerLostAfter{1000};

int GetKeyerStatus();    // 0..63, or kKeyerHostNotOpen
int GetKeyerEchoByte();  // oldest unread echoed byte, 0 when none, or kKeyerHostNotOpen
