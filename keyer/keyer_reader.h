// The keyer reader: sorts every byte the keyer sends into its four kinds.
#pragma once

#include <chrono>
#include <cstdint>

// The status byte's low six bits as the system uses them.
constexpr uint8_t kStatusHold = 0x01;     // the keyer's buffer is full: feed it nothing more
constexpr uint8_t kStatusBreakIn = 0x02;  // the operator's paddles took over from the buffer
constexpr uint8_t kStatusBusy = 0x04;     // the keyer is sending
// On a keyer of version 20 or later: the byte reports the keyer's own message buttons, and
// bits 0, 1, 2 and 4 stand for M1, M2, M3 and M4 instead of the keyer's state.
constexpr uint8_t kStatusButtonReport = 0x08;
constexpr uint8_t kStatusWait = 0x10;

// A button report (see above) from the keyer that host mode was last opened with.
bool IsKeyerButtonReport(uint8_t status);

// The port has refused every read for this long: the keyer was unplugged, or its adapter
// went. The reader then tells its listener and stops, and the keyer stays lost until it is
// closed and opened again.
constexpr std::chrono::milliseconds kKeyerLostAfter{1000};

int GetKeyerStatus();    // 0..63, or -9
int GetKeyerEchoByte();  // oldest unread echoed byte, 0 when none, or -9
