#include "station/status_relay.h"

#include "keyer/keyer_wire.h"
#include "net/packet.h"

StatusRelay::StatusRelay(NetLink& net, const SettingsStore& settings)
    : net_(net), settings_(settings) {}

void StatusRelay::ReportKeyerStatus(uint8_t status) {
    std::lock_guard<std::mutex> lock(mutex_);
    keyer_bits_ = status;
    SendStatusLocked();
}

void StatusRelay::DecideHold(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (hold == reported_hold_) {
        return;
    }
    reported_hold_ = hold;
    if (ReportsStatus()) {
        SendStatusLocked();
    }
}

void StatusRelay::BeginLink() {
    std::lock_guard<std::mutex> lock(mutex_);
    reported_hold_ = false;
}

bool StatusRelay::IsHolding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reported_hold_;
}

bool StatusRelay::ReportsStatus() const {
    return net_.IsLinked() && settings_.NetRole() != kNetRoleControlPoint;
}

void StatusRelay::SendStatusLocked() {
    const uint8_t hold = reported_hold_ ? keyer_wire::kStatusHold : 0;
    net_.SendPacket(PKT_STATUS, static_cast<uint8_t>(keyer_bits_ | hold), 0, nullptr);
}
