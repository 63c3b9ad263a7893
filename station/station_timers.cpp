#include "station/station_timers.h"

#include <utility>

#include "net/link_timing.h"

StationTimers::StationTimers(Station& station, SetTimer set_timer)
    : station_(station), set_timer_(std::move(set_timer)) {}

void StationTimers::Start() {
    set_timer_(Timer::kHeartbeat, kHeartbeatPeriod);
    FollowLinkPeriod();
}

void StationTimers::OnTick(Timer timer) {
    if (timer == Timer::kHeartbeat) {
        station_.OnHeartbeatTick();
        return;
    }
    station_.OnLinkWatchTick();
    station_.CloseLocalKeyerIfLost();
    station_.AttachKeyerAgainIfDue();
    FollowLinkPeriod();
}

int StationTimers::OnSocketEvent(const SocketEvent& event) {
    const int handled = station_.OnSocketEvent(event);
    FollowLinkPeriod();
    return handled;
}

void StationTimers::FollowLinkPeriod() {
    const std::chrono::milliseconds wanted = station_.LinkTimerPeriod();
    if (wanted != link_period_) {
        link_period_ = wanted;
        set_timer_(Timer::kLink, wanted);
    }
}
