// The keyer event dispatcher's stand-in for the programs that test or measure the keyer link
// without the Main window behind it: every event the keyer reader hands on is kept, in
// order, for the cases that look at it. A program links this in place of the real
// dispatcher (target pellmar_recorded_keyer_events), never beside it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

struct KeyerEvent {
    int type;
    uint8_t value;
    bool operator==(const KeyerEvent& other) const {
        return type == other.type && value == other.value;
    }
};

std::vector<KeyerEvent> RecordedKeyerEvents();
// The events once at least `count` are there, or as they are when `timeout` has passed.
std::vector<KeyerEvent> WaitForKeyerEvents(std::size_t count, std::chrono::milliseconds timeout);
void ForgetKeyerEvents();
