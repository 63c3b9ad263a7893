// The heartbeat's round trip, as the station that sends heartbeats measures it: from a
// heartbeat's send to the answer that carries its count byte back. What it tells is the
// median of the last five round trips (of fewer at a link's start), so that one answer held
// up by a retransmission or a busy moment at the far end does not make the figure jump.
//
// Answers come one heartbeat period apart on a live link. One late or lost answer is a
// moment's trouble and the figure stands; with none for two periods the figure says nothing
// about the link any more, and the meter tells silence instead. That is still a period before
// the link's watch gives a quiet link up, so the operator sees the trouble before the drop.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "net/link_timing.h"

constexpr std::chrono::milliseconds kRoundTripSilence{2 * kHeartbeatPeriod};

class RoundTripMeter {
  public:
    using Clock = std::chrono::steady_clock;

    // A new link: nothing sent or answered on it yet.
    void Restart();
    void HeartbeatSent(uint8_t count, Clock::time_point now);
    // False for an answer that matches no heartbeat still waiting for one: it counts for
    // nothing.
    bool AnswerHeard(uint8_t count, Clock::time_point now);
    // The median round trip, rounded to the millisecond; nothing before the first answer or
    // while the link is silent.
    std::optional<std::chrono::milliseconds> RoundTrip(Clock::time_point now) const;

  private:
    struct Sent {
        uint8_t count;
        Clock::time_point at;
    };
    // Heartbeats still waiting for their answer, oldest first. A few are enough: one that
    // has waited longer than that is past the silence anyway.
    std::deque<Sent> unanswered_;
    std::deque<Clock::duration> trips_;  // the newest last
    std::optional<Clock::time_point> last_answer_;
};
