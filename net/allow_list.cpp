#include "net/allow_list.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A decimal number from 0 to `most` without a sign, blanks or leading zeros.
std::optional<uint32_t> StrictNumber(std::string_view text, uint32_t most) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > most) {
        return std::nullopt;
    }
    return value;
}

bool EqualIgnoringCase(std::string_view text, std::string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(), [](char c, char l) {
               return (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == l;
           });
}

}  // namespace

std::optional<uint32_t> Ipv4FromText(std::string_view text) {
    uint32_t address = 0;
    for (int octet = 0; octet < 4; ++octet) {
        const std::size_t dot = text.find('.');
        if ((octet < 3) == (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::optional<uint32_t> value = StrictNumber(text.substr(0, dot), 255);
        if (!value) {
            return std::nullopt;
        }
        address = address << 8 | *value;
        text.remove_prefix(octet < 3 ? dot + 1 : text.size());
    }
    return address;
}

std::string Ipv4Text(uint32_t ipv4_host_order) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ipv4_host_order >> 24,
                  ipv4_host_order >> 16 & 0xFF, ipv4_host_order >> 8 & 0xFF,
                  ipv4_host_order & 0xFF);
    return text;
}

std::string ConnectionRefusedLine(uint32_t ipv4_host_order) {
    return "Connection refused: " + Ipv4Text(ipv4_host_order) + " is not allowed.";
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
            list.blocks_.push_back({0, 0});
            continue;
        }
        const std::size_t slash = entry.find('/');
        const std::optional<uint32_t> address = Ipv4FromText(entry.substr(0, slash));
        const std::optional<uint32_t> bits =
            slash == std::string_view::npos ? 32 : StrictNumber(entry.substr(slash + 1), 32);
        const uint32_t mask = !bits || *bits == 0 ? 0 : ~uint32_t{0} << (32 - *bits);
        const std::optional<Fault> fault = !address || !bits         ? Fault::kMalformed
                                           : *bits == 0              ? Fault::kWholeSpace
                                           : (*address & ~mask) != 0 ? Fault::kHostBitsSet
                                                                     : std::optional<Fault>();
        if (!fault) {
            list.blocks_.push_back({*address, mask});
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
                       [](const Block& block) { return block.mask == 0; });
}

AllowList AllowList::LoopbackOnly() {
    return FromEntries("127.0.0.0/8");
}

bool AllowList::Allows(uint32_t ipv4_host_order) const {
    return std::any_of(blocks_.begin(), blocks_.end(), [ipv4_host_order](const Block& block) {
        return (ipv4_host_order & block.mask) == block.network;
    });
}
