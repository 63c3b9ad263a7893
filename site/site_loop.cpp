#include "site/site_loop.h"

#include <algorithm>
#include <chrono>

#include "net/link_timing.h"
#include "net/socket_api.h"

namespace {

using Clock = std::chrono::steady_clock;

// Rounded up: a wait rounded down to 0 ms would spin until the timer is due.
int MillisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

int RunSite(Station& station, const std::function<bool()>& stop_requested) {
    station.Start();
    if (station.OpenConnection() == 0) {
        station.Exit();
        return 1;
    }
    std::chrono::milliseconds link_period = station.LinkTimerPeriod();
    auto next_heartbeat = Clock::now() + kHeartbeatPeriod;
    auto next_link_tick = Clock::now() + link_period;
    // As the window does: a change of period sets the timer afresh.
    const auto rearm = [&] {
        if (station.LinkTimerPeriod() != link_period) {
            link_period = station.LinkTimerPeriod();
            next_link_tick = Clock::now() + link_period;
        }
    };
    while (!stop_requested()) {
        SocketEvent event{};
        const int wait_ms =
            std::min(MillisecondsUntil(next_heartbeat), MillisecondsUntil(next_link_tick));
        if (WaitSocketEvent(wait_ms, &event)) {
            station.OnSocketEvent(event);
            rearm();
        }
        if (Clock::now() >= next_heartbeat) {
            station.OnHeartbeatTick();
            next_heartbeat = Clock::now() + kHeartbeatPeriod;
        }
        if (Clock::now() >= next_link_tick) {
            station.OnLinkWatchTick();
            station.CloseLocalKeyerIfLost();
            next_link_tick = Clock::now() + link_period;
            rearm();
        }
    }
    station.CloseAndExit("the site was stopped");
    return 0;
}
