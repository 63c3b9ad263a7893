#include "station/refusal_log.h"

namespace {

std::string CountLine(uint64_t count, const std::string& from) {
    return "Refused " + WithThousands(count) + " more " +
           (count == 1 ? "connection" : "connections") + " from " + from + " in the last minute.";
}

}  // namespace

std::string WithThousands(uint64_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

std::optional<std::string> RefusalLog::Refused(const NetAddress& address, const std::string& line,
                                               Clock::time_point now) {
    auto found = addresses_.find(address);
    if (found == addresses_.end()) {
        if (addresses_.size() >= kTrackedAddresses) {
            if (!others_) {
                others_ = Minute{now};
            }
            ++others_->untold;
            return std::nullopt;
        }
        found = addresses_.emplace(address, Minute{now}).first;
    }
    Minute& minute = found->second;
    // A minute over with nothing untold starts afresh here; one with a count waits for
    // Summaries, so that the count is never lost.
    if (now - minute.start >= kPeriod && minute.untold == 0) {
        minute = Minute{now};
    }
    if (minute.told < kToldPerPeriod) {
        ++minute.told;
        return line;
    }
    ++minute.untold;
    return std::nullopt;
}

std::vector<std::string> RefusalLog::Summaries(Clock::time_point now) {
    std::vector<std::string> lines;
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        const Minute& minute = it->second;
        if (now - minute.start < kPeriod) {
            ++it;
            continue;
        }
        if (minute.untold > 0) {
            lines.push_back(CountLine(minute.untold, it->first.Text()));
        }
        it = addresses_.erase(it);
    }
    if (others_ && now - others_->start >= kPeriod) {
        lines.push_back(CountLine(others_->untold, "other addresses"));
        others_.reset();
    }
    return lines;
}
