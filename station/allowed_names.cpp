#include <chrono>
#include <string>
#include <utility>

#include "station/station.h"

namespace {

constexpr std::chrono::minutes kAllowedNamesPeriod{5};

std::string Listed(const std::vector<NetAddress>& addresses) {
    std::string text;
    for (const NetAddress& address : addresses) {
        text += (text.empty() ? "" : ", ") + address.Text();
    }
    return text;
}

}  // namespace

void Station::LookUpAllowedNames() {
    next_allowed_names_lookup_.reset();
    if (allow_from_.names().empty() || !IsServer()) {
        return;
    }
    for (const auto& [name, addresses] : allowed_name_addresses_) {
        allow_from_.SetNameAddresses(name, addresses);
    }
    allowed_name_lookups_.LookUp(allow_from_.names());
    next_allowed_names_lookup_ = std::chrono::steady_clock::now() + kAllowedNamesPeriod;
}

// A name that stops resolving is told once, and once more when it comes back; a name is
// taken to resolve until a look-up says otherwise.
void Station::FollowAllowedNames() {
    if (std::optional<NameLookups::Answers> answers = allowed_name_lookups_.TakeAnswers()) {
        for (auto& [name, addresses] : *answers) {
            const bool resolves = !addresses.empty();
            const auto known = allowed_name_addresses_.find(name);
            if (resolves != (known == allowed_name_addresses_.end() || !known->second.empty())) {
                Log("\r\nAllowFrom name " + name +
                    (resolves ? " resolves again: " + Listed(addresses) + "."
                              : " does not resolve; it lets nobody in until it does."));
            }
            allow_from_.SetNameAddresses(name, addresses);
            allowed_name_addresses_[name] = std::move(addresses);
        }
    }
    // Only a listening server asks; a closed one asks again at its next Open.
    if (next_allowed_names_lookup_ && IsServer() && net_.LinkSocket() != kNoSocket &&
        std::chrono::steady_clock::now() >= *next_allowed_names_lookup_) {
        LookUpAllowedNames();
    }
}
