// What the keyer sends, turned into what the operator sees and what the link carries.
// Runs on the keyer reader thread.
#pragma once

#include <cstdint>

void DispatchKeyerEvent(int type, uint8_t value);
