// The keyer reader: sorts every byte the keyer sends into its four kinds.
#pragma once

#include <cstdint>

enum KeyerEventType {
    kStatusEvent = 1,
    kSpeedPotEvent = 2,
    kEchoEvent = 3,
    kPaddleEvent = 4,
};

int GetKeyerStatus();    // 0..63, or -9
int GetKeyerEchoByte();  // oldest unread echoed byte, 0 when none, or -9
