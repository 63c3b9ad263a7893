#include "net/allow_list.h"

#include <algorithm>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool EqualIgnoringCase(std::string_view text, std::string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(), [](char c, char l) {
               return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == l;
           });
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A letter first, as the record's address field tells a name from an address, then labels of
// letters, digits and hyphens between single dots.
bool IsHostName(std::string_view text) {
    constexpr std::size_t kLongestName = 253;
    if (text.empty() || text.size() > kLongestName || !IsLetter(text.front()) ||
        text.find("..") != std::string_view::npos) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return IsLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

}  // namespace

std::string ConnectionRefusedLine(const NetAddress& address) {
    return "Connection refused: " + address.Text() + " is not allowed.";
}

AllowList AllowList::FromEntries(std::string_view entries) {
    AllowList list;
    std::string_view rest = entries;
    for (bool more = true; more;) {
        const std::size_t comma = rest.find(',');
        more = comma != std::string_view::npos;
        const std::string_view entry = Trimmed(rest.substr(0, comma));
        rest.remove_prefix(more ? comma + 1 : rest.size());

        if (EqualIgnoringCase(entry, "any")) {
            list.blocks_.push_back({NetAddress::Any(NetAddress::Family::kIpv4), 0});
            list.blocks_.push_back({NetAddress::Any(NetAddress::Family::kIpv6), 0});
            continue;
        }
        if (IsHostName(entry)) {
            const std::string name(entry);
            if (list.name_addresses_.emplace(name, std::vector<NetAddress>()).second) {
                list.names_.push_back(name);
            }
            continue;
        }
        const std::size_t slash = entry.find('/');
        const std::optional<NetAddress> address = NetAddress::FromText(entry.substr(0, slash));
        const uint32_t most = address ? static_cast<uint32_t>(address->Bits()) : 0;
        const std::optional<uint32_t> bits =
            slash == std::string_view::npos ? most : StrictDecimal(entry.substr(slash + 1), most);
        const std::optional<Fault> fault = !address || !bits ? Fault::kMalformed
                                           : *bits == 0      ? Fault::kWholeSpace
                                           : address->Prefix(static_cast<int>(*bits)) != *address
                                               ? Fault::kHostBitsSet
                                               : std::optional<Fault>();
        if (!fault) {
            list.blocks_.push_back({*address, static_cast<int>(*bits)});
        } else if (std::none_of(
                       list.faults_.begin(), list.faults_.end(),
                       [entry](const FaultyEntry& faulty) { return faulty.entry == entry; })) {
            list.faults_.push_back({std::string(entry), *fault});
        }
    }
    return list;
}

bool AllowList::AllowsEveryone() const {
    return std::any_of(blocks_.begin(), blocks_.end(),
                       [](const Block& block) { return block.bits == 0; });
}

AllowList AllowList::LoopbackOnly() {
    return FromEntries("127.0.0.0/8, ::1");
}

bool AllowList::Allows(const NetAddress& address) const {
    const bool in_block = std::any_of(blocks_.begin(), blocks_.end(), [&](const Block& block) {
        return address.family() == block.network.family() &&
               address.Prefix(block.bits) == block.network;
    });
    return in_block ||
           std::any_of(name_addresses_.begin(), name_addresses_.end(), [&](const auto& named) {
               return std::find(named.second.begin(), named.second.end(), address) !=
                      named.second.end();
           });
}

void AllowList::SetNameAddresses(const std::string& name, std::vector<NetAddress> addresses) {
    const auto found = name_addresses_.find(name);
    if (found != name_addresses_.end()) {
        found->second = std::move(addresses);
    }
}
