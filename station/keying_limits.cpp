// How long keying that came over the link may hold the key at a RemoteSide. A home station
// whose operator walked away with Tune on, or whose paddle contact stuck, must not keep the
// site's transmitter keyed: after the limit the site lets go as the operator would (a key-up,
// a paddle release), says so, and the link goes on.
#include <chrono>
#include <string>

#include "keyer/keyer_link.h"
#include "station/station.h"

namespace {

bool Expired(const std::optional<std::chrono::steady_clock::time_point>& since,
             uint32_t limit_seconds) {
    return since && limit_seconds != 0 &&
           std::chrono::steady_clock::now() - *since >= std::chrono::seconds(limit_seconds);
}

}  // namespace

void Station::NoteKeyingFromLink(uint8_t type, uint8_t value) {
    std::optional<std::chrono::steady_clock::time_point>& since =
        type == PKT_TUNE ? tune_from_link_since_ : paddles_from_link_since_;
    if (value == 0) {
        since.reset();
    } else if (!since) {
        since = std::chrono::steady_clock::now();
    }
}

void Station::EnforceKeyingLimits() {
    if (settings_.NetRole() != kNetRoleRemoteSide) {
        return;
    }
    if (Expired(tune_from_link_since_, limits_.tune_seconds)) {
        tune_from_link_since_.reset();
        keyer_.SetKeyDown(0);
        Log("\r\nTune from the link released after " + std::to_string(limits_.tune_seconds) +
            " s.");
    }
    if (Expired(paddles_from_link_since_, limits_.paddle_seconds)) {
        paddles_from_link_since_.reset();
        keyer_.SetPaddleInput(0);
        Log("\r\nPaddles from the link released after " + std::to_string(limits_.paddle_seconds) +
            " s.");
    }
}
