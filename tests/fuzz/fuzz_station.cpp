#include "tests/fuzz/fuzz_station.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "keyer/keyer_link.h"
#include "settings/settings_record.h"
#include "station/station.h"

std::size_t FuzzInput::Take(std::size_t count, const uint8_t** bytes) {
    const std::size_t available = size_ - at_ < count ? size_ - at_ : count;
    *bytes = data_ + at_;
    at_ += available;
    return available;
}

void FuzzCheck(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
        std::abort();
    }
}

void OpenStalledKeyer(uint8_t version, Station& station) {
    StationFuzzAccess::Keyer(station).OpenHostWithoutPort(version);
}

std::vector<uint8_t> QueuedBytes(KeyerLink& keyer) {
    KeyerLinkState& state = keyer.state();
    std::lock_guard<std::mutex> lock(state.queue_mutex);
    std::vector<uint8_t> bytes;
    for (int32_t i = 0; i < state.queue_count; ++i) {
        bytes.push_back(state.queue_ring[(state.queue_read + i) % kKeyerQueueSize]);
    }
    return bytes;
}

std::size_t QueuedCount(KeyerLink& keyer) {
    return static_cast<std::size_t>(keyer.QueueSnapshot().queue_count);
}

bool QueueEndsWith(KeyerLink& keyer, const uint8_t* bytes, std::size_t count) {
    KeyerLinkState& state = keyer.state();
    std::lock_guard<std::mutex> lock(state.queue_mutex);
    if (count > static_cast<std::size_t>(state.queue_count)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t back = count - i;
        if (state.queue_ring[(state.queue_write + kKeyerQueueSize - back) % kKeyerQueueSize] !=
            bytes[i]) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> TakeQueuedBytes(KeyerLink& keyer) {
    std::vector<uint8_t> bytes = QueuedBytes(keyer);
    std::lock_guard<std::mutex> lock(keyer.state().queue_mutex);
    keyer.state().ResetTransmitQueueLocked();
    return bytes;
}
