// The far station's paddles, played out on this station's clock. The other station stamps
// each change of its paddles with the time it was read there (net/timed_packets.h); the path
// between the two delays each packet by a different amount, and a change applied as it
// arrives would stretch or squeeze the element it begins or ends. So each change is applied
// at its own time mapped onto this clock, plus a delay that covers the path's jitter: the
// fist arrives a steady few milliseconds behind instead of ragged.
//
// The mapping comes from the earliest arrivals: the least of (arrival − stamp) over the
// recent stamps (paddle changes and heartbeats alike) is the path at its quickest, and the
// clocks' offset with it. How much later than that the recent stamps arrive is the jitter;
// the delay covers its 99th percentile, at most kLongestDelay, or is the operator's fixed
// figure. The mapping and the delay move only while the paddles are up and the last release
// has been applied, so that no element is cut or stretched by a change of either. A change
// that arrives after its time is applied at once, and counted late.
//
// Time is given, never read here; one instance belongs to one link.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

class PaddlePlayout {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kLongestDelay{250};
    // About ten seconds of paddling, or a few minutes of heartbeats alone.
    static constexpr std::size_t kStampsKept = 256;

    // Nothing: the delay is sized from the jitter; a figure fixes it (0 applies each change
    // as it arrives).
    void SetFixedDelay(std::optional<std::chrono::milliseconds> fixed);
    // A new link: its stamps count from its own start.
    void Restart();

    // A stamp that carries no change (a heartbeat): it teaches the mapping and the jitter.
    void NoteStamp(uint32_t time_ms, Clock::time_point arrival);

    struct Placed {
        Clock::time_point at;
        bool late;
    };
    // When paddle code `code`, stamped `time_ms` with `sequence`, is to be applied. A
    // sequence number that is not newer than the last one's is applied at once.
    Placed Place(uint8_t code, uint32_t time_ms, uint16_t sequence, Clock::time_point arrival);

    // The delay in use, whole milliseconds: the one the next press will have while the
    // paddles are up.
    std::chrono::milliseconds Delay() const;

  private:
    // The stamp in microseconds since the other station's link began, with its wraps counted.
    int64_t Unwrapped(uint32_t time_ms);
    // Also the arrival's offset from the stamp, kept; returns the stamp's microseconds.
    int64_t Take(uint32_t time_ms, Clock::time_point arrival);
    // The mapping and the delay sized afresh, unless a change is down or still to come.
    void FollowWhileUp(Clock::time_point arrival);
    // The least offset kept, and the delay that the kept offsets ask for.
    void Size(int64_t* quickest_us, int64_t* delay_us) const;

    std::optional<std::chrono::milliseconds> fixed_delay_;
    // This station's zero: the first arrival of the link.
    std::optional<Clock::time_point> epoch_;
    std::optional<uint32_t> last_time_ms_;
    int64_t time_ms_ = 0;
    // Arrival minus stamp, in microseconds, for the last kStampsKept stamps.
    std::array<int64_t, kStampsKept> offsets_us_{};
    std::size_t offsets_kept_ = 0;
    std::size_t next_offset_ = 0;
    // A change plays at epoch + stamp + base; base is the quickest offset plus the delay.
    std::optional<int64_t> base_us_;
    int64_t delay_us_ = 0;
    std::optional<uint16_t> last_sequence_;
    uint8_t last_code_ = 0;
    Clock::time_point last_at_{};
};
