#include "station/unproved_peers.h"

NetAddress PeerNetwork(const NetAddress& address) {
    constexpr int kIpv6HostNetwork = 64;
    return address.IsIpv6() ? address.Prefix(kIpv6HostNetwork) : address;
}

bool WrongProofWatch::NoteWrongProof(const NetAddress& peer, Clock::time_point now) {
    Forget(now);
    const NetAddress address = PeerNetwork(peer);
    if (records_.size() >= kMostAddresses && records_.count(address) == 0) {
        return false;
    }
    Record& record = records_[address];
    if (record.quiet_until && now < *record.quiet_until) {
        return false;
    }
    record.quiet_until.reset();
    record.wrong.push_back(now);
    while (now - record.wrong.front() >= kWrongProofWindow) {
        record.wrong.pop_front();
    }
    if (static_cast<int>(record.wrong.size()) < kWrongProofsBeforeQuiet) {
        return false;
    }
    record.wrong.clear();
    record.quiet_until = now + kQuietTime;
    return true;
}

bool WrongProofWatch::IsQuiet(const NetAddress& address, Clock::time_point now) const {
    const auto found = records_.find(PeerNetwork(address));
    return found != records_.end() && found->second.quiet_until && now < *found->second.quiet_until;
}

void WrongProofWatch::Forget(Clock::time_point now) {
    for (auto it = records_.begin(); it != records_.end();) {
        const Record& record = it->second;
        const bool quiet = record.quiet_until && now < *record.quiet_until;
        const bool recent = !record.wrong.empty() && now - record.wrong.back() < kWrongProofWindow;
        it = quiet || recent ? std::next(it) : records_.erase(it);
    }
}
