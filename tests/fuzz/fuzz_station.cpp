#include "tests/fuzz/fuzz_station.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "keyer/keyer_host.h"
#include "keyer/keyer_internal.h"
#include "settings/settings_record.h"
#include "station/station.h"

using namespace keyer_internal;

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

void ResetStation() {
    std::memset(&settings, 0, sizeof settings);

    host_open = 0;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        ResetTransmitQueueLocked();
        std::memset(queue_ring, 0, sizeof queue_ring);
        std::memset(wanted_settings, 0, sizeof wanted_settings);
        std::memset(sent_settings, 0, sizeof sent_settings);
    }
    for (std::atomic<int32_t>* slot :
         {&key_down_wanted, &pause_wanted, &clear_requested, &speed_pot_requested, &load_requested,
          &backspace_requested, &base_mode_requested, &extended_mode_requested, &close_requested,
          &break_in_pending, &release_requested}) {
        *slot = 0;
    }
    for (std::atomic<int32_t>& slot : spare_admin_requested) {
        slot = 0;
    }
    paddle_input_wanted = 0;
    key_down_sent = 0;
    pause_sent = 0;
    paddle_input_sent = 0;
    keyer_status = 0;
    host_keyer_version = 0;
    keyer_listener = nullptr;
    for (std::atomic<uint8_t>& byte : echo_ring) {
        byte = 0;
    }
    echo_write = 0;
    echo_read = 0;
    last_echo = 0;
}

void OpenStalledKeyer(uint8_t version, Station& station) {
    host_keyer_version = version;
    keyer_listener = &station;
    station.state().keyer_version = version;
    station.state().keyer_v2 = IsExtendedKeyerVersion(version) ? 1 : 0;
    host_open = 1;
}

std::vector<uint8_t> QueuedBytes() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    std::vector<uint8_t> bytes;
    for (int32_t i = 0; i < queue_count; ++i) {
        bytes.push_back(queue_ring[(queue_read + i) % kQueueSize]);
    }
    return bytes;
}

std::size_t QueuedCount() {
    return static_cast<std::size_t>(GetKeyerQueueSnapshot().queue_count);
}

bool QueueEndsWith(const uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> lock(queue_mutex);
    if (count > static_cast<std::size_t>(queue_count)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t back = count - i;
        if (queue_ring[(queue_write + kQueueSize - back) % kQueueSize] != bytes[i]) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> TakeQueuedBytes() {
    std::vector<uint8_t> bytes = QueuedBytes();
    std::lock_guard<std::mutex> lock(queue_mutex);
    ResetTransmitQueueLocked();
    return bytes;
}
