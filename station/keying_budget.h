// How much of every minute keying from the link may hold a RemoteSide's key or PTT down.
//
// The continuous limits alone bound one press, not a peer that lets go just before the limit
// and presses again. So the time down is kept as a record of intervals, and any 60 s, sliding
// rather than by the calendar, may hold only the allowance. The record is the transmitter's,
// not one link's: a peer that links again finds the same minute behind it.
//
// The check that lets go comes on a timer, not at the moment the minute is spent. So a press
// is taken only while the minute has room for one more wait between checks, and a check that
// finds no such room while the key is down lets go: the key is never down longer than allowed
// as long as checks come no further apart than that wait. Time is given, never read here.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>

class KeyingBudget {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr Clock::duration kWindow = std::chrono::minutes(1);
    // A peer whose keying goes over this many times within kTripWindow is not kept.
    static constexpr int kTripsThatEndTheLink = 3;
    static constexpr Clock::duration kTripWindow = std::chrono::minutes(10);

    enum class Verdict { kWithin, kTripped, kTrippedTooOften };

    // `longest_between_checks`: how far apart the checks may come.
    explicit KeyingBudget(Clock::duration longest_between_checks)
        : longest_between_checks_(longest_between_checks) {}

    // Zero, or the whole window, is no budget at all.
    void SetAllowance(std::chrono::seconds allowance) { allowance_ = allowance; }
    std::chrono::seconds Allowance() const { return allowance_; }

    // Whether anything from the link holds the key or PTT down from `now` on.
    void Note(bool down, Clock::time_point now);
    // Whether a press at `now` may key.
    bool HasRoom(Clock::time_point now) const;
    // With the key down and no room left: a trip, the key counted up from `now` on, and the
    // caller lets go.
    Verdict Check(Clock::time_point now);
    // The time down within the window that ends at `now`.
    Clock::duration DownInWindow(Clock::time_point now) const;

    // A peer that presses and lets go as fast as it can send must not grow the record without
    // end: past this many intervals the oldest two become one, their gap counted as down.
    static constexpr std::size_t kMostIntervals = 1024;

  private:
    struct Interval {
        Clock::time_point start;
        Clock::time_point end;
    };

    void Forget(Clock::time_point now);
    bool IsLimited() const { return allowance_ > Clock::duration::zero() && allowance_ < kWindow; }

    const Clock::duration longest_between_checks_;
    std::chrono::seconds allowance_{0};
    std::deque<Interval> down_;
    // The length of every interval in down_, so that a press costs no walk of the record.
    Clock::duration down_total_{0};
    std::optional<Clock::time_point> down_since_;
    std::deque<Clock::time_point> trips_;
};
