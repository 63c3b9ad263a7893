// The link key: a secret two stations share, which each proves to the other at the start of
// every link, and from which every later packet's tag is made. The exchange and the seal here
// are pure: they take packets and give packets, so both roles and every failure are checked
// without a socket, and the station decides what to do with a link that proved or failed.
//
// Threads. An exchange and a PacketTagChecker belong to the window's thread. A PacketSealer is
// used by whichever thread sends, under the link's send lock, so that the order of its count
// is the order of the stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/link_crypto.h"
#include "net/packet.h"

constexpr std::size_t kLinkKeySize = 32;
using LinkKey = std::array<uint8_t, kLinkKeySize>;
constexpr std::size_t kLinkNonceSize = kPacketPayloadSize;
using LinkNonce = std::array<uint8_t, kLinkNonceSize>;

// The one version of the exchange this program speaks; a challenge's value.
constexpr uint8_t kLinkKeyVersion = 1;

// What is wrong with a `[Network] Key` value. Each is told by its name, never with the key.
enum class LinkKeyProblem {
    kNone,
    kWrongLength,      // not 64 hexadecimal digits
    kNotHex,           // a character that is not a hexadecimal digit
    kTestKey,          // the published test key, bytes 00 to 1F
    kOneRepeatedByte,  // every byte the same
};

struct ParsedLinkKey {
    LinkKeyProblem problem = LinkKeyProblem::kNone;
    LinkKey key{};
};

// The value of `[Network] Key` as the .ini has it (spaces around it allowed).
ParsedLinkKey ParseLinkKey(std::string_view text);
// The Connect log's words for a problem, without the key.
std::string LinkKeyProblemText(LinkKeyProblem problem);
// The 64 hexadecimal digits of a key, upper case.
std::string LinkKeyText(const LinkKey& key);
// A new key from the secure random source; nothing when that failed, or when by some chance
// it gave a key that ParseLinkKey would refuse.
std::optional<LinkKey> MakeLinkKey();

// Which end of the TCP connection a station is; its letter goes into every proof and tag.
enum class LinkRole : uint8_t { kServer = 'S', kClient = 'C' };

// The proof `prover` sends: the first 15 bytes of HMAC-SHA256(key, "pellmar link key 1" ‖
// role letter ‖ verifier's nonce ‖ prover's nonce). Nothing when the MAC failed.
std::optional<LinkNonce> LinkProof(const LinkKey& key, LinkRole prover,
                                   const LinkNonce& verifier_nonce, const LinkNonce& prover_nonce);
// K_link, never sent: HMAC-SHA256(key, "pellmar link seal 1" ‖ server nonce ‖ client nonce).
std::optional<Sha256Mac> LinkSealKey(const LinkKey& key, const LinkNonce& server_nonce,
                                     const LinkNonce& client_nonce);

// Equal, taking the same time wherever the first difference is.
bool SameBytesInConstantTime(const uint8_t* a, const uint8_t* b, std::size_t count);

// Puts each packet's tag after it: the sender's half of a sealed link.
class PacketSealer {
  public:
    PacketSealer(const Sha256Mac& seal_key, LinkRole sender);
    // The PKT_KEY_TAG for `packet`, the next sealed packet of this sender; counts it. Nothing
    // when the MAC failed, and then the packet must not go.
    std::optional<Packet> TagFor(const Packet& packet);

  private:
    Sha256Mac seal_key_;
    LinkRole sender_;
    uint64_t sent_ = 0;
};

// What one arriving packet does on a sealed link.
enum class SealCheck {
    kWaitForTag,  // a packet, held until its tag arrives
    kSealed,      // its tag checked: the held packet may be acted on
    kBroken,      // a packet where its tag was due, a wrong tag, a tag with no packet, or a
                  // challenge or proof after the exchange
};

// The receiver's half: checks each packet's tag in the peer's count.
class PacketTagChecker {
  public:
    PacketTagChecker(const Sha256Mac& seal_key, LinkRole peer);
    // After kSealed, `sealed` is the packet the tag vouches for. After kBroken the link is
    // to end; nothing more is checked.
    SealCheck Check(const Packet& arrived, Packet* sealed);

  private:
    Sha256Mac seal_key_;
    LinkRole peer_;
    uint64_t received_ = 0;
    std::optional<Packet> held_;
    bool broken_ = false;
};

// What one packet did to an exchange.
enum class ExchangeStep {
    kGoOn,          // wait for the next packet (after sending what was given to send)
    kProved,        // the exchange has ended: the link starts now
    kWrongProof,    // the peer's proof did not check
    kOtherVersion,  // the peer's challenge names another version (PeerVersion())
    kOutOfOrder,    // any other packet, order or value before the end
    kMacFailed,     // the crypto library failed: no link
};

// One station's side of the challenge and proof at the start of a link. The Net Client proves
// first; the Net Server proves only after the client's proof has checked, so a stranger never
// sees a byte made from the key.
class KeyExchange {
  public:
    // With a nonce from the secure random source; nothing when that failed.
    static std::optional<KeyExchange> Begin(const LinkKey& key, LinkRole role);
    KeyExchange(const LinkKey& key, LinkRole role, const LinkNonce& own_nonce);

    // The first packet this station sends on the link.
    Packet Challenge() const;
    // One packet from the peer. What this station must send now is appended to `to_send` (the
    // client's proof on the server's challenge, the server's proof on a right client proof).
    // After any step but kGoOn the exchange takes nothing more.
    ExchangeStep Receive(const Packet& packet, std::vector<Packet>* to_send);
    // The version the peer's challenge named, after kOtherVersion.
    uint8_t PeerVersion() const { return peer_version_; }
    // After kProved: the key every later packet is sealed with.
    const Sha256Mac& SealKey() const { return seal_key_; }
    LinkRole Role() const { return role_; }
    LinkRole PeerRole() const;

  private:
    ExchangeStep TakeChallenge(const Packet& packet, std::vector<Packet>* to_send);
    ExchangeStep TakeProof(const Packet& packet, std::vector<Packet>* to_send);
    // Appends this station's proof; kGoOn when it could be made.
    ExchangeStep SendOwnProof(std::vector<Packet>* to_send) const;

    LinkKey key_;
    LinkRole role_;
    LinkNonce own_nonce_;
    std::optional<LinkNonce> peer_nonce_;
    bool ended_ = false;
    uint8_t peer_version_ = 0;
    Sha256Mac seal_key_{};
};
