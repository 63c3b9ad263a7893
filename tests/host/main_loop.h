// The Main window's message loop as a host test plays it on its own thread: the socket
// events the window would get as messages, and, where the case runs the link timer, the
// timer's ticks at the period the station asks for. Cases that tick the timer themselves
// leave it stopped.
#pragma once

#include <chrono>
#include <functional>

#include "net/socket_api.h"
#include "station/station.h"
#include "tools/common/wait_until.h"

class MainLoop {
  public:
    enum class LinkTimer { kStopped, kRunning };

    MainLoop(Station& station, SocketLoop& sockets, LinkTimer timer,
             std::chrono::milliseconds patience)
        : station_(station), sockets_(sockets), timer_(timer), patience_(patience) {}

    // Plays the loop until `done` holds or the patience has run out; whether it held.
    bool PumpUntil(const std::function<bool()>& done) { return PumpUntil(done, patience_); }
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds patience) {
        using Clock = std::chrono::steady_clock;
        std::chrono::milliseconds period = station_.LinkTimerPeriod();
        auto next_tick = Clock::now();
        // As the window does: a change of period sets the timer afresh.
        const auto rearm = [&] {
            if (station_.LinkTimerPeriod() != period) {
                period = station_.LinkTimerPeriod();
                next_tick = Clock::now() + period;
            }
        };
        return WaitUntil(done, patience, [&] {
            SocketEvent event{};
            if (sockets_.Wait(5, &event)) {
                station_.OnSocketEvent(event);
                rearm();
            }
            if (timer_ == LinkTimer::kRunning && Clock::now() >= next_tick) {
                station_.OnLinkWatchTick();
                next_tick = Clock::now() + period;
                rearm();
            }
        });
    }
    void PumpFor(std::chrono::milliseconds time) {
        PumpUntil([] { return false; }, time);
    }

  private:
    Station& station_;
    SocketLoop& sockets_;
    const LinkTimer timer_;
    const std::chrono::milliseconds patience_;
};
