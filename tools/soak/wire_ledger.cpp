#include "tools/soak/wire_ledger.h"

#include <algorithm>
#include <cstdio>

#include "keyer/keyer_wire.h"

namespace soak {

namespace {

namespace wire = keyer_wire;

constexpr uint8_t kFirstText = wire::kFirstTextByte;
// Bytes shown on each side of the place where two streams part.
constexpr std::size_t kContext = 12;

// Text as text, anything else as <XX>.
std::string Shown(const Bytes& bytes, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
        if (bytes[i] >= kFirstText && bytes[i] < 0x7F) {
            text += static_cast<char>(bytes[i]);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", bytes[i]);
            text += hex;
        }
    }
    return text;
}

std::string Parting(const Bytes& sent, const Bytes& wire, std::size_t at, const char* how) {
    const std::size_t from = at > kContext ? at - kContext : 0;
    return std::string(how) + " at byte " + std::to_string(at) + " (sent " +
           std::to_string(sent.size()) + ", on the wire " + std::to_string(wire.size()) +
           "): sent \"" + Shown(sent, from, at + kContext) + "\", on the wire \"" +
           Shown(wire, from, at + kContext) + "\"";
}

std::size_t FirstDifference(const Bytes& sent, const Bytes& wire) {
    const std::size_t common = std::min(sent.size(), wire.size());
    return static_cast<std::size_t>(
        std::mismatch(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(common),
                      wire.begin())
            .first -
        sent.begin());
}

}  // namespace

void WireReader::Feed(const Bytes& bytes) {
    fed_ += bytes.size();
    for (uint8_t byte : bytes) {
        if (!pending_.empty()) {
            pending_.push_back(byte);
            if (pending_[0] == wire::kAdminPrefix && pending_.size() == 2 &&
                byte == wire::kAdminEchoTest) {
                needed_ = 3;
            }
            if (pending_.size() == needed_) {
                Take(pending_);
                pending_.clear();
            }
            continue;
        }
        if (byte == wire::kAdminPrefix) {
            pending_ = {byte};
            needed_ = 2;
        } else if (!host_) {
            // Out of host mode the keyer heeds only admin commands (the handshake's 13s).
        } else if (byte >= kFirstText || wire::ArgumentCount(byte) == 0) {
            Take({byte});
        } else {
            pending_ = {byte};
            needed_ = 1 + static_cast<std::size_t>(wire::ArgumentCount(byte));
        }
    }
}

void WireReader::Take(const Bytes& command) {
    const uint8_t first = command[0];
    // Every release sends PTT off right after its clear: that is the release's, not text.
    const bool release_ptt_off = clear_just_taken_ && command == Bytes{wire::kBufferedPtt, 0};
    clear_just_taken_ = false;
    if (release_ptt_off) {
        return;
    }
    if (first == wire::kAdminPrefix) {
        if (command[1] == wire::kAdminHostOpen) {
            host_ = true;
        } else if (command[1] == wire::kAdminHostClose) {
            host_ = false;
        }
    } else if (first >= kFirstText || wire::IsBufferedCommand(first) || first == kBackspace) {
        units_.push_back(command);
    } else if (first == wire::kSetSpeed) {
        last_speed_ = command[1];
        ++speed_commands_;
    } else if (first == wire::kClearBuffer) {
        ++clears_;
        clear_just_taken_ = true;
    }
}

std::vector<Unit> UnitsOf(const Bytes& stream) {
    std::vector<Unit> units;
    for (std::size_t i = 0; i < stream.size();) {
        const std::size_t length =
            1 +
            (stream[i] < kFirstText ? static_cast<std::size_t>(wire::ArgumentCount(stream[i])) : 0);
        const std::size_t end = std::min(stream.size(), i + length);
        units.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(i),
                           stream.begin() + static_cast<std::ptrdiff_t>(end));
        i = end;
    }
    return units;
}

std::vector<Unit> EffectiveUnits(const std::vector<Unit>& units, std::size_t from, std::size_t to) {
    std::vector<Unit> kept;
    for (std::size_t i = from; i < to && i < units.size(); ++i) {
        const bool backspace = units[i].size() == 1 && units[i][0] == kBackspace;
        if (backspace && !kept.empty() && kept.back() != Unit{kBackspace}) {
            kept.pop_back();
        } else {
            kept.push_back(units[i]);
        }
    }
    return kept;
}

Bytes Effective(const std::vector<Unit>& units, std::size_t from, std::size_t to) {
    Bytes bytes;
    for (const Unit& unit : EffectiveUnits(units, from, to)) {
        bytes.insert(bytes.end(), unit.begin(), unit.end());
    }
    return bytes;
}

std::string CompareExactly(const Bytes& sent, const Bytes& wire) {
    if (sent == wire) {
        return std::string();
    }
    const std::size_t at = FirstDifference(sent, wire);
    if (at == wire.size()) {
        return Parting(sent, wire, at, "missing from the wire");
    }
    if (at == sent.size()) {
        return Parting(sent, wire, at, "more on the wire than was sent");
    }
    return Parting(sent, wire, at, "the wire differs");
}

std::string CompareAsPrefix(const Bytes& sent, const Bytes& wire) {
    const std::size_t at = FirstDifference(sent, wire);
    if (at == wire.size()) {
        return std::string();
    }
    if (at == sent.size()) {
        return Parting(sent, wire, at, "more on the wire than was sent");
    }
    return Parting(sent, wire, at, "the wire differs");
}

std::string CompareAsCutShort(const std::vector<Unit>& sent, const std::vector<Unit>& wire) {
    std::size_t common = 0;
    while (common < sent.size() && common < wire.size() && sent[common] == wire[common]) {
        ++common;
    }
    if (common + 1 == wire.size() && std::find(sent.begin() + static_cast<std::ptrdiff_t>(common),
                                               sent.end(), wire.back()) != sent.end()) {
        return std::string();
    }
    return CompareAsPrefix(Effective(sent, 0, sent.size()), Effective(wire, 0, wire.size()));
}

std::size_t TextBytesIn(const std::vector<Unit>& units, std::size_t from, std::size_t to) {
    const std::vector<Unit> kept = EffectiveUnits(units, from, to);
    return static_cast<std::size_t>(std::count_if(
        kept.begin(), kept.end(), [](const Unit& unit) { return unit[0] >= kFirstText; }));
}

std::string GrowthBeyond(const std::string& what, long start, long end, long margin) {
    if (end - start <= margin) {
        return std::string();
    }
    return what + " grew from " + std::to_string(start) + " to " + std::to_string(end) +
           ", more than the " + std::to_string(margin) + " allowed";
}

}  // namespace soak
