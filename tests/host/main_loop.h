// The Main window's message loop as a host test plays it on its own thread: the socket
// events the window would get as messages, and, where the case runs the link timer, the
// timer's ticks at the period the station asks for. Cases that tick the timer themselves
// leave it stopped.
#pragma once

#include <chrono>
#include <functional>

#include "net/link_events.h"
#include "net/socket_api.h"
#include "tools/common/wait_until.h"

class MainLoop {
  public:
    enum class LinkTimer { kStopped, kRunning };

    MainLoop(LinkTimer timer, std::chrono::milliseconds patience)
        : timer_(timer), patience_(patience) {}

    // Plays the loop until `done` holds or the patience has run out; whether it held.
    bool PumpUntil(const std::function<bool()>& done) { return PumpUntil(done, patience_); }
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds patience) {
        using Clock = std::chrono::steady_clock;
        unsigned period = LinkTimerPeriodMs();
        auto next_tick = Clock::now();
        // As the window does: a change of period sets the timer afresh.
        const auto rearm = [&] {
            if (LinkTimerPeriodMs() != period) {
                period = LinkTimerPeriodMs();
                next_tick = Clock::now() + std::chrono::milliseconds(period);
            }
        };
        return WaitUntil(done, patience, [&] {
            SocketEvent event{};
            if (WaitSocketEvent(5, &event)) {
                HandleSocketNotify(event);
                rearm();
            }
            if (timer_ == LinkTimer::kRunning && Clock::now() >= next_tick) {
                OnLinkWatchTick();
                next_tick = Clock::now() + std::chrono::milliseconds(period);
                rearm();
            }
        });
    }
    void PumpFor(std::chrono::milliseconds time) {
        PumpUntil([] { return false; }, time);
    }

  private:
    const LinkTimer timer_;
    const std::chrono::milliseconds patience_;
};
