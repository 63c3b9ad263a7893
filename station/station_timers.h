// The station's two timers as whatever plays its window runs them: the heartbeat at its
// fixed period, and the link timer at the period the station asks for, which changes with
// what waits to go on (Station::LinkTimerPeriod). The front end keeps the time (the
// window's own timers on Windows, deadlines in the site's loop); this says what each tick
// does and when the link timer is set afresh: after each of its ticks, each socket event and
// each paste, and only when the period has changed, since setting a timer costs a call.
#pragma once

#include <chrono>
#include <functional>

#include "net/socket_api.h"
#include "station/station.h"

class StationTimers {
  public:
    enum class Timer { kHeartbeat, kLink };
    // Starts `timer` ticking every `period` from now, replacing whatever period it had.
    using SetTimer = std::function<void(Timer timer, std::chrono::milliseconds period)>;

    StationTimers(Station& station, SetTimer set_timer);

    // Both timers, once the station has started.
    void Start();
    void OnTick(Timer timer);
    // The event handed to the station; its result.
    int OnSocketEvent(const SocketEvent& event);
    // Sets the link timer afresh when the station now asks for another period; after a
    // command that may leave text waiting its turn (a paste).
    void FollowLinkPeriod();

  private:
    Station& station_;
    const SetTimer set_timer_;
    // As the link timer was last set; zero before Start.
    std::chrono::milliseconds link_period_{0};
};
