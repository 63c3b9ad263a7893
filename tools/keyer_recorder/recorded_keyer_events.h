// A keyer listener for the programs that test or measure the keyer link without a station
// behind it: every event the keyer reader hands on is kept, in order, for the cases that
// look at it. Make the keyer link with *RecordingKeyerListener() as its listener.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "keyer/keyer_listener.h"

enum KeyerEventType {
    kStatusEvent = 1,
    kSpeedPotEvent = 2,
    kEchoEvent = 3,
    kPaddleEvent = 4,
    kLostEvent = 5,
};

struct KeyerEvent {
    int type;
    uint8_t value;
    bool operator==(const KeyerEvent& other) const {
        return type == other.type && value == other.value;
    }
};

KeyerListener* RecordingKeyerListener();
std::vector<KeyerEvent> RecordedKeyerEvents();
// The events once at least `count` are there, or as they are when `timeout` has passed.
std::vector<KeyerEvent> WaitForKeyerEvents(std::size_t count, std::chrono::milliseconds timeout);
void ForgetKeyerEvents();
