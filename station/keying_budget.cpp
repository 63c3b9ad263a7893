#include "station/keying_budget.h"

#include <algorithm>

void KeyingBudget::Note(bool down, Clock::time_point now) {
    Forget(now);
    if (down && !down_since_) {
        down_since_ = now;
    } else if (!down && down_since_) {
        down_.push_back({*down_since_, now});
        down_total_ += now - *down_since_;
        down_since_.reset();
        if (down_.size() > kMostIntervals) {
            const Interval oldest = down_.front();
            down_.pop_front();
            down_total_ += down_.front().start - oldest.end;
            down_.front().start = oldest.start;
        }
    }
}

// What lies wholly outside every window still to come goes.
void KeyingBudget::Forget(Clock::time_point now) {
    while (!down_.empty() && down_.front().end <= now - kWindow) {
        down_total_ -= down_.front().end - down_.front().start;
        down_.pop_front();
    }
    while (!trips_.empty() && trips_.front() <= now - kTripWindow) {
        trips_.pop_front();
    }
}

KeyingBudget::Clock::duration KeyingBudget::DownInWindow(Clock::time_point now) const {
    const Clock::time_point window_start = now - kWindow;
    Clock::duration down = down_total_;
    // Only the oldest intervals, not yet forgotten, reach back before the window.
    for (const Interval& interval : down_) {
        if (interval.start >= window_start) {
            break;
        }
        down -= std::min(interval.end, window_start) - interval.start;
    }
    if (down_since_) {
        down += now - std::max(*down_since_, window_start);
    }
    return down;
}

bool KeyingBudget::HasRoom(Clock::time_point now) const {
    return !IsLimited() || DownInWindow(now) + longest_between_checks_ < allowance_;
}

KeyingBudget::Verdict KeyingBudget::Check(Clock::time_point now) {
    if (!down_since_ || HasRoom(now)) {
        return Verdict::kWithin;
    }
    Note(false, now);
    trips_.push_back(now);
    if (trips_.size() < static_cast<std::size_t>(kTripsThatEndTheLink)) {
        return Verdict::kTripped;
    }
    trips_.clear();
    return Verdict::kTrippedTooOften;
}
