#include "net/net_address.h"

#include <cstdio>
#include <vector>

namespace {

constexpr int kGroups = 8;

bool IsMappedIpv4(const NetAddress::Bytes& bytes) {
    for (int i = 0; i < 10; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return bytes[10] == 0xFF && bytes[11] == 0xFF;
}

std::optional<uint16_t> HexGroup(std::string_view text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    uint16_t value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        value = static_cast<uint16_t>(value << 4 | digit);
    }
    return value;
}

// The groups of one side of a `::` (or of the whole address when it has none); a dotted quad
// is allowed as the last two groups of the address's final side only.
std::optional<std::vector<uint16_t>> Groups(std::string_view text, bool final_side) {
    std::vector<uint16_t> groups;
    if (text.empty()) {
        return groups;
    }
    for (bool more = true; more;) {
        const std::size_t colon = text.find(':');
        more = colon != std::string_view::npos;
        const std::string_view part = text.substr(0, colon);
        text.remove_prefix(more ? colon + 1 : text.size());
        if (!more && final_side && part.find('.') != std::string_view::npos) {
            const std::optional<uint32_t> quad = Ipv4FromText(part);
            if (!quad) {
                return std::nullopt;
            }
            groups.push_back(static_cast<uint16_t>(*quad >> 16));
            groups.push_back(static_cast<uint16_t>(*quad & 0xFFFF));
            break;
        }
        const std::optional<uint16_t> group = HexGroup(part);
        if (!group) {
            return std::nullopt;
        }
        groups.push_back(*group);
    }
    return groups;
}

std::optional<NetAddress> Ipv6FromText(std::string_view text) {
    const std::size_t gap = text.find("::");
    std::optional<std::vector<uint16_t>> head;
    std::optional<std::vector<uint16_t>> tail = std::vector<uint16_t>();
    if (gap == std::string_view::npos) {
        head = Groups(text, true);
    } else {
        if (text.find("::", gap + 1) != std::string_view::npos) {
            return std::nullopt;
        }
        head = Groups(text.substr(0, gap), false);
        tail = Groups(text.substr(gap + 2), true);
    }
    if (!head || !tail) {
        return std::nullopt;
    }
    const std::size_t written = head->size() + tail->size();
    if (gap == std::string_view::npos ? written != kGroups : written >= kGroups) {
        return std::nullopt;
    }
    NetAddress::Bytes bytes{};
    auto put = [&bytes](std::size_t group, uint16_t value) {
        bytes[2 * group] = static_cast<uint8_t>(value >> 8);
        bytes[2 * group + 1] = static_cast<uint8_t>(value & 0xFF);
    };
    for (std::size_t i = 0; i < head->size(); ++i) {
        put(i, (*head)[i]);
    }
    for (std::size_t i = 0; i < tail->size(); ++i) {
        put(kGroups - tail->size() + i, (*tail)[i]);
    }
    return NetAddress::Ipv6(bytes);
}

std::string Ipv6Text(const NetAddress::Bytes& bytes) {
    uint16_t groups[kGroups];
    for (int i = 0; i < kGroups; ++i) {
        groups[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    }
    int run_start = -1;
    int run_length = 1;  // a lone zero group is written as 0
    for (int i = 0; i < kGroups;) {
        int j = i;
        while (j < kGroups && groups[j] == 0) {
            ++j;
        }
        if (j - i > run_length) {
            run_start = i;
            run_length = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string text;
    char group[8];
    for (int i = 0; i < kGroups; ++i) {
        if (i == run_start) {
            text += "::";
            i += run_length - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text += ':';
        }
        std::snprintf(group, sizeof group, "%x", static_cast<unsigned>(groups[i]));
        text += group;
    }
    return text;
}

}  // namespace

std::optional<uint32_t> StrictDecimal(std::string_view text, uint32_t most) {
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

std::optional<uint32_t> Ipv4FromText(std::string_view text) {
    uint32_t address = 0;
    for (int octet = 0; octet < 4; ++octet) {
        const std::size_t dot = text.find('.');
        if ((octet < 3) == (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::optional<uint32_t> value = StrictDecimal(text.substr(0, dot), 255);
        if (!value) {
            return std::nullopt;
        }
        address = address << 8 | *value;
        text.remove_prefix(octet < 3 ? dot + 1 : text.size());
    }
    return address;
}

NetAddress NetAddress::Ipv4(uint32_t host_order) {
    NetAddress address;
    for (int i = 0; i < 4; ++i) {
        address.bytes_[i] = static_cast<uint8_t>(host_order >> (24 - 8 * i));
    }
    return address;
}

NetAddress NetAddress::Ipv6(const Bytes& bytes) {
    if (IsMappedIpv4(bytes)) {
        return Ipv4(static_cast<uint32_t>(bytes[12]) << 24 |
                    static_cast<uint32_t>(bytes[13]) << 16 | static_cast<uint32_t>(bytes[14]) << 8 |
                    bytes[15]);
    }
    NetAddress address;
    address.family_ = Family::kIpv6;
    address.bytes_ = bytes;
    return address;
}

NetAddress NetAddress::Any(Family family) {
    NetAddress address;
    address.family_ = family;
    return address;
}

std::optional<NetAddress> NetAddress::FromText(std::string_view text) {
    if (const std::optional<uint32_t> quad = Ipv4FromText(text)) {
        return Ipv4(*quad);
    }
    if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    return text.find(':') != std::string_view::npos ? Ipv6FromText(text) : std::nullopt;
}

uint32_t NetAddress::Ipv4HostOrder() const {
    return static_cast<uint32_t>(bytes_[0]) << 24 | static_cast<uint32_t>(bytes_[1]) << 16 |
           static_cast<uint32_t>(bytes_[2]) << 8 | bytes_[3];
}

NetAddress NetAddress::Prefix(int bits) const {
    NetAddress kept = *this;
    for (int i = 0; i < 16; ++i) {
        const int left = bits - 8 * i;
        kept.bytes_[i] &= left >= 8   ? 0xFF
                          : left <= 0 ? 0
                                      : static_cast<uint8_t>(0xFF << (8 - left));
    }
    return kept;
}

std::string NetAddress::Text() const {
    if (IsIpv6()) {
        return Ipv6Text(bytes_);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes_[0], bytes_[1], bytes_[2], bytes_[3]);
    return text;
}
