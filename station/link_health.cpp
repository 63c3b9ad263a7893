// The link's health in view: the heartbeat's round trip at the station that sends heartbeats,
// whom it is linked to at the one that only answers them (a RemoteSide), nothing unlinked.
// Shown only when it changes, since the link timer asks on every tick.
#include <chrono>
#include <optional>

#include "settings/settings_record.h"
#include "station/station.h"

void Station::RefreshLinkHealth() {
    LinkHealth health;
    if (!net_.IsLinked()) {
        health.kind = LinkHealth::Kind::kNone;
    } else if (settings_.NetRole() == kNetRoleRemoteSide) {
        health.kind =
            IsServer() ? LinkHealth::Kind::kClientAddress : LinkHealth::Kind::kServerAddress;
        health.address = peer_address_;
    } else if (const std::optional<std::chrono::milliseconds> trip =
                   round_trips_.RoundTrip(std::chrono::steady_clock::now())) {
        health.kind = LinkHealth::Kind::kRoundTrip;
        health.round_trip_ms = static_cast<int>(trip->count());
    } else {
        health.kind = LinkHealth::Kind::kSilent;
    }
    if (health.kind == LinkHealth::Kind::kRoundTrip && far_paddle_delay_ms_) {
        health.paddle_delay_ms = *far_paddle_delay_ms_;
    }
    health.keyed = health.kind != LinkHealth::Kind::kNone && net_.IsSealed();
    if (health != shown_health_) {
        shown_health_ = health;
        view_.ShowLinkHealth(health);
    }
}
