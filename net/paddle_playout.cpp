#include "net/paddle_playout.h"

#include <algorithm>

namespace {

using std::chrono::microseconds;

constexpr int64_t kMicrosecondsPerMillisecond = 1000;
// The share of the recent stamps whose jitter the delay covers, in hundredths.
constexpr std::size_t kCoveredPercent = 99;

}  // namespace

void PaddlePlayout::SetFixedDelay(std::optional<std::chrono::milliseconds> fixed) {
    fixed_delay_ = fixed;
}

void PaddlePlayout::Restart() {
    const std::optional<std::chrono::milliseconds> fixed = fixed_delay_;
    *this = PaddlePlayout();
    fixed_delay_ = fixed;
}

int64_t PaddlePlayout::Unwrapped(uint32_t time_ms) {
    if (last_time_ms_) {
        // Stamps from two threads of the other station may cross by a little; a wrap after
        // 49 days comes out as a small step forward like any other.
        time_ms_ += static_cast<int32_t>(time_ms - *last_time_ms_);
    } else {
        time_ms_ = time_ms;
    }
    last_time_ms_ = time_ms;
    return time_ms_ * kMicrosecondsPerMillisecond;
}

int64_t PaddlePlayout::Take(uint32_t time_ms, Clock::time_point arrival) {
    if (!epoch_) {
        epoch_ = arrival;
    }
    const int64_t stamp_us = Unwrapped(time_ms);
    const int64_t arrival_us = std::chrono::duration_cast<microseconds>(arrival - *epoch_).count();
    offsets_us_[next_offset_] = arrival_us - stamp_us;
    next_offset_ = (next_offset_ + 1) % kStampsKept;
    offsets_kept_ = std::min(offsets_kept_ + 1, kStampsKept);
    return stamp_us;
}

void PaddlePlayout::NoteStamp(uint32_t time_ms, Clock::time_point arrival) {
    Take(time_ms, arrival);
    FollowWhileUp(arrival);
}

void PaddlePlayout::FollowWhileUp(Clock::time_point arrival) {
    const bool paddles_up = last_code_ == 0 && arrival >= last_at_;
    if (base_us_ && !paddles_up) {
        return;
    }
    int64_t quickest_us = 0;
    Size(&quickest_us, &delay_us_);
    base_us_ = quickest_us + delay_us_;
}

void PaddlePlayout::Size(int64_t* quickest_us, int64_t* delay_us) const {
    std::array<int64_t, kStampsKept> offsets = offsets_us_;
    const auto end = offsets.begin() + static_cast<std::ptrdiff_t>(offsets_kept_);
    *quickest_us = *std::min_element(offsets.begin(), end);
    if (fixed_delay_) {
        *delay_us = std::chrono::duration_cast<microseconds>(*fixed_delay_).count();
        return;
    }
    // With fewer than a hundred stamps this is the slowest of them.
    const std::size_t covered = (offsets_kept_ * kCoveredPercent + 99) / 100 - 1;
    std::nth_element(offsets.begin(), offsets.begin() + static_cast<std::ptrdiff_t>(covered), end);
    const int64_t longest_us = std::chrono::duration_cast<microseconds>(kLongestDelay).count();
    *delay_us = std::min(offsets[covered] - *quickest_us, longest_us);
}

PaddlePlayout::Placed PaddlePlayout::Place(uint8_t code, uint32_t time_ms, uint16_t sequence,
                                           Clock::time_point arrival) {
    if (fixed_delay_ && fixed_delay_->count() == 0) {
        return {arrival, false};  // the operator's choice: each change as it comes
    }
    const int64_t stamp_us = Take(time_ms, arrival);
    // Sequence numbers wrap: a newer one is ahead of the last by less than half the range.
    const bool newer = !last_sequence_ ||
                       static_cast<int16_t>(static_cast<uint16_t>(sequence - *last_sequence_)) > 0;
    if (!newer) {
        return {arrival, false};
    }
    last_sequence_ = sequence;
    FollowWhileUp(arrival);
    Clock::time_point at = *epoch_ + microseconds(stamp_us + *base_us_);
    // A change never goes ahead of the one before it, whatever moved between them.
    at = std::max(at, last_at_);
    const bool late = at < arrival;
    if (late) {
        at = arrival;
    }
    last_code_ = code;
    last_at_ = at;
    return {at, late};
}

std::chrono::milliseconds PaddlePlayout::Delay() const {
    return std::chrono::milliseconds((delay_us_ + kMicrosecondsPerMillisecond / 2) /
                                     kMicrosecondsPerMillisecond);
}
