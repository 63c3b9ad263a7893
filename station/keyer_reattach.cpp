// A keyer that comes back. USB serial adapters reset under RF, and a site has nobody to press
// Open: a keyer that was lost, or that a site could not attach at its start, is tried again on
// the link timer's tick every kKeyerRetryPeriod, with the attach's own close and handshake,
// until it answers or the operator opens or closes the station.
#include <chrono>
#include <string>

#include "settings/settings_record.h"
#include "station/station.h"

namespace {

constexpr std::chrono::seconds kKeyerRetryPeriod{5};

}  // namespace

std::string Station::KeyerPortName() const {
    const std::string device = KeyerDevice();
    return device.empty() ? "COM" + std::to_string(static_cast<int>(settings_.record().com_port))
                          : device;
}

void Station::TryKeyerAgainLater() {
    keyer_retry_at_ = std::chrono::steady_clock::now() + kKeyerRetryPeriod;
}

// A keyer back at its first try needs no word of the tries; one still missing is told once.
void Station::TellKeyerRetries() {
    if (keyer_retries_told_) {
        return;
    }
    keyer_retries_told_ = true;
    Log("\r\nNo keyer on " + KeyerPortName() + "; trying it again every " +
        std::to_string(kKeyerRetryPeriod.count()) + " s.");
}

void Station::StopTryingKeyer() {
    keyer_retry_at_.reset();
    keyer_retries_told_ = false;
}

void Station::AttachKeyerAgainIfDue() {
    if (!keyer_retry_at_ || std::chrono::steady_clock::now() < *keyer_retry_at_) {
        return;
    }
    if (AttachLocalKeyer(AttachLog::kNothing) == 0) {
        TellKeyerRetries();
        TryKeyerAgainLater();
        return;
    }
    StopTryingKeyer();
    Log("\r\nKeyer back on " + KeyerPortName() + ".");
    if (net_.IsLinked()) {
        // The attach loaded the operator's block; linked, the role adjusts it, and what the
        // other station told the keyer that went holds for this one.
        ApplyKeyerSettings();
        // One load with the later speed in it: a speed set beside a load races the writer,
        // whose load may go out before or after the speed is folded in.
        if (link_keyer_block_) {
            KeyerSettings block = *link_keyer_block_;
            block.wpm = link_keyer_speed_.value_or(block.wpm);
            keyer_.LoadSettings(&block);
        } else if (link_keyer_speed_) {
            keyer_.SetSpeed(*link_keyer_speed_);
        }
        RetellKeyerVersion();
    }
    view_.OfferClose();
}
