#include "net/round_trip_meter.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

constexpr std::size_t kTripsKept = 5;
constexpr std::size_t kUnansweredKept = 4;

}  // namespace

void RoundTripMeter::Restart() {
    unanswered_.clear();
    trips_.clear();
    last_answer_.reset();
}

void RoundTripMeter::HeartbeatSent(uint8_t count, Clock::time_point now) {
    if (unanswered_.size() == kUnansweredKept) {
        unanswered_.pop_front();
    }
    unanswered_.push_back({count, now});
}

bool RoundTripMeter::AnswerHeard(uint8_t count, Clock::time_point now) {
    const auto sent = std::find_if(unanswered_.begin(), unanswered_.end(),
                                   [count](const Sent& waiting) { return waiting.count == count; });
    if (sent == unanswered_.end()) {
        return false;
    }
    if (trips_.size() == kTripsKept) {
        trips_.pop_front();
    }
    trips_.push_back(now - sent->at);
    // An answer overtaken by a later one is not coming: its heartbeat waits no longer.
    unanswered_.erase(unanswered_.begin(), sent + 1);
    last_answer_ = now;
    return true;
}

std::optional<std::chrono::milliseconds> RoundTripMeter::RoundTrip(Clock::time_point now) const {
    if (!last_answer_ || now - *last_answer_ > kRoundTripSilence) {
        return std::nullopt;
    }
    std::vector<Clock::duration> sorted(trips_.begin(), trips_.end());
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    const Clock::duration median =
        sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
    return std::chrono::round<std::chrono::milliseconds>(median);
}
