#include "net/link_key.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kProofLabel = "pellmar link key 1";
constexpr std::string_view kSealLabel = "pellmar link seal 1";
constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Keys that parse but must not open a station: the published test key, and any that a
// broken generator or a typing habit would give.
LinkKeyProblem WeakKeyProblem(const LinkKey& key) {
    bool test_key = true;
    bool one_byte = true;
    for (std::size_t i = 0; i < key.size(); ++i) {
        test_key = test_key && key[i] == i;
        one_byte = one_byte && key[i] == key[0];
    }
    if (test_key) {
        return LinkKeyProblem::kTestKey;
    }
    return one_byte ? LinkKeyProblem::kOneRepeatedByte : LinkKeyProblem::kNone;
}

struct Bytes {
    const uint8_t* data;
    std::size_t size;
};

// HMAC-SHA256 over the concatenation of `parts`, built in one buffer: every message here is a
// few dozen bytes.
std::optional<Sha256Mac> MacOf(const uint8_t* key, std::size_t key_size,
                               std::initializer_list<Bytes> parts) {
    std::vector<uint8_t> message;
    for (const Bytes& part : parts) {
        message.insert(message.end(), part.data, part.data + part.size);
    }
    Sha256Mac mac;
    if (!HmacSha256(key, key_size, message.data(), message.size(), &mac)) {
        return std::nullopt;
    }
    return mac;
}

Bytes BytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

Bytes BytesOf(const LinkNonce& nonce) {
    return {nonce.data(), nonce.size()};
}

std::optional<Packet> TagPacket(const Sha256Mac& seal_key, LinkRole sender, uint64_t count,
                                const Packet& packet) {
    const uint8_t role = static_cast<uint8_t>(sender);
    uint8_t count_bytes[8];
    for (int i = 0; i < 8; ++i) {
        count_bytes[i] = static_cast<uint8_t>(count >> (56 - 8 * i));
    }
    const std::optional<Sha256Mac> tag =
        MacOf(seal_key.data(), seal_key.size(),
              {{&role, 1}, {count_bytes, sizeof count_bytes}, {packet.bytes, kPacketSize}});
    if (!tag) {
        return std::nullopt;
    }
    return BuildPacket(PKT_KEY_TAG, kLinkKeyVersion, 0, tag->data());
}

bool IsKeyExchangePacket(const Packet& packet) {
    return PacketType(packet) == PKT_KEY_CHALLENGE || PacketType(packet) == PKT_KEY_PROOF;
}

// Marker, second value and spare byte as every packet has them.
bool IsWellFormed(const Packet& packet) {
    return HasPacketMarker(packet) && PacketSecondValue(packet) == 0 &&
           packet.bytes[kPacketSize - 1] == 0;
}

}  // namespace

ParsedLinkKey ParseLinkKey(std::string_view text) {
    ParsedLinkKey parsed;
    const std::size_t first = text.find_first_not_of(kBlanks);
    const std::string_view digits =
        first == std::string_view::npos
            ? std::string_view()
            : text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
    for (char c : digits) {
        if (HexDigitValue(c) < 0) {
            parsed.problem = LinkKeyProblem::kNotHex;
            return parsed;
        }
    }
    if (digits.size() != 2 * kLinkKeySize) {
        parsed.problem = LinkKeyProblem::kWrongLength;
        return parsed;
    }
    for (std::size_t i = 0; i < kLinkKeySize; ++i) {
        parsed.key[i] = static_cast<uint8_t>(HexDigitValue(digits[2 * i]) * 16 +
                                             HexDigitValue(digits[2 * i + 1]));
    }
    parsed.problem = WeakKeyProblem(parsed.key);
    if (parsed.problem != LinkKeyProblem::kNone) {
        parsed.key = {};
    }
    return parsed;
}

std::string LinkKeyProblemText(LinkKeyProblem problem) {
    switch (problem) {
        case LinkKeyProblem::kNone:
            return "";
        case LinkKeyProblem::kWrongLength:
            return "The link key ([Network] Key) is not 64 hexadecimal digits.";
        case LinkKeyProblem::kNotHex:
            return "The link key ([Network] Key) has a character that is not a hexadecimal "
                   "digit.";
        case LinkKeyProblem::kTestKey:
            return "The link key ([Network] Key) is the published test key.";
        case LinkKeyProblem::kOneRepeatedByte:
            return "The link key ([Network] Key) is one byte repeated.";
    }
    return "";
}

std::string LinkKeyText(const LinkKey& key) {
    std::string text;
    for (uint8_t byte : key) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
    }
    return text;
}

std::optional<LinkKey> MakeLinkKey() {
    LinkKey key;
    if (!FillSecureRandom(key.data(), key.size()) || WeakKeyProblem(key) != LinkKeyProblem::kNone) {
        return std::nullopt;
    }
    return key;
}

std::optional<LinkNonce> LinkProof(const LinkKey& key, LinkRole prover,
                                   const LinkNonce& verifier_nonce, const LinkNonce& prover_nonce) {
    const uint8_t role = static_cast<uint8_t>(prover);
    const std::optional<Sha256Mac> mac =
        MacOf(key.data(), key.size(),
              {BytesOf(kProofLabel), {&role, 1}, BytesOf(verifier_nonce), BytesOf(prover_nonce)});
    if (!mac) {
        return std::nullopt;
    }
    LinkNonce proof;
    std::memcpy(proof.data(), mac->data(), proof.size());
    return proof;
}

std::optional<Sha256Mac> LinkSealKey(const LinkKey& key, const LinkNonce& server_nonce,
                                     const LinkNonce& client_nonce) {
    return MacOf(key.data(), key.size(),
                 {BytesOf(kSealLabel), BytesOf(server_nonce), BytesOf(client_nonce)});
}

bool SameBytesInConstantTime(const uint8_t* a, const uint8_t* b, std::size_t count) {
    uint8_t difference = 0;
    for (std::size_t i = 0; i < count; ++i) {
        difference |= static_cast<uint8_t>(a[i] ^ b[i]);
    }
    return difference == 0;
}

PacketSealer::PacketSealer(const Sha256Mac& seal_key, LinkRole sender)
    : seal_key_(seal_key), sender_(sender) {}

std::optional<Packet> PacketSealer::TagFor(const Packet& packet) {
    std::optional<Packet> tag = TagPacket(seal_key_, sender_, sent_, packet);
    if (tag) {
        ++sent_;
    }
    return tag;
}

PacketTagChecker::PacketTagChecker(const Sha256Mac& seal_key, LinkRole peer)
    : seal_key_(seal_key), peer_(peer) {}

SealCheck PacketTagChecker::Check(const Packet& arrived, Packet* sealed) {
    if (broken_) {
        return SealCheck::kBroken;
    }
    if (PacketType(arrived) != PKT_KEY_TAG) {
        if (held_ || IsKeyExchangePacket(arrived)) {
            broken_ = true;
            return SealCheck::kBroken;
        }
        held_ = arrived;
        return SealCheck::kWaitForTag;
    }
    const std::optional<Packet> expected =
        held_ ? TagPacket(seal_key_, peer_, received_, *held_) : std::nullopt;
    if (!expected || !SameBytesInConstantTime(expected->bytes, arrived.bytes, kPacketSize)) {
        broken_ = true;
        return SealCheck::kBroken;
    }
    *sealed = *held_;
    held_.reset();
    ++received_;
    return SealCheck::kSealed;
}

std::optional<KeyExchange> KeyExchange::Begin(const LinkKey& key, LinkRole role) {
    LinkNonce nonce;
    if (!FillSecureRandom(nonce.data(), nonce.size())) {
        return std::nullopt;
    }
    return KeyExchange(key, role, nonce);
}

KeyExchange::KeyExchange(const LinkKey& key, LinkRole role, const LinkNonce& own_nonce)
    : key_(key), role_(role), own_nonce_(own_nonce) {}

Packet KeyExchange::Challenge() const {
    return BuildPacket(PKT_KEY_CHALLENGE, kLinkKeyVersion, 0, own_nonce_.data());
}

LinkRole KeyExchange::PeerRole() const {
    return role_ == LinkRole::kServer ? LinkRole::kClient : LinkRole::kServer;
}

ExchangeStep KeyExchange::Receive(const Packet& packet, std::vector<Packet>* to_send) {
    if (ended_) {
        return ExchangeStep::kOutOfOrder;
    }
    const ExchangeStep step =
        peer_nonce_ ? TakeProof(packet, to_send) : TakeChallenge(packet, to_send);
    ended_ = step != ExchangeStep::kGoOn;
    return step;
}

ExchangeStep KeyExchange::TakeChallenge(const Packet& packet, std::vector<Packet>* to_send) {
    if (!IsWellFormed(packet) || PacketType(packet) != PKT_KEY_CHALLENGE) {
        return ExchangeStep::kOutOfOrder;
    }
    if (PacketValue(packet) != kLinkKeyVersion) {
        peer_version_ = PacketValue(packet);
        return ExchangeStep::kOtherVersion;
    }
    LinkNonce& peer_nonce = peer_nonce_.emplace();
    std::memcpy(peer_nonce.data(), PacketPayload(packet), peer_nonce.size());
    return role_ == LinkRole::kClient ? SendOwnProof(to_send) : ExchangeStep::kGoOn;
}

ExchangeStep KeyExchange::TakeProof(const Packet& packet, std::vector<Packet>* to_send) {
    if (!IsWellFormed(packet) || PacketType(packet) != PKT_KEY_PROOF ||
        PacketValue(packet) != kLinkKeyVersion) {
        return ExchangeStep::kOutOfOrder;
    }
    const std::optional<LinkNonce> expected = LinkProof(key_, PeerRole(), own_nonce_, *peer_nonce_);
    if (!expected) {
        return ExchangeStep::kMacFailed;
    }
    if (!SameBytesInConstantTime(expected->data(), PacketPayload(packet), expected->size())) {
        return ExchangeStep::kWrongProof;
    }
    const bool server = role_ == LinkRole::kServer;
    const std::optional<Sha256Mac> seal_key =
        LinkSealKey(key_, server ? own_nonce_ : *peer_nonce_, server ? *peer_nonce_ : own_nonce_);
    if (!seal_key || (server && SendOwnProof(to_send) != ExchangeStep::kGoOn)) {
        return ExchangeStep::kMacFailed;
    }
    seal_key_ = *seal_key;
    return ExchangeStep::kProved;
}

ExchangeStep KeyExchange::SendOwnProof(std::vector<Packet>* to_send) const {
    const std::optional<LinkNonce> proof = LinkProof(key_, role_, *peer_nonce_, own_nonce_);
    if (!proof) {
        return ExchangeStep::kMacFailed;
    }
    to_send->push_back(BuildPacket(PKT_KEY_PROOF, kLinkKeyVersion, 0, proof->data()));
    return ExchangeStep::kGoOn;
}
