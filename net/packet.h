// The 20-byte packet that the two stations exchange over their one TCP connection, and the
// cutting of the received byte stream into whole packets. The stream has no length field,
// checksum or sequence number: framing rests only on every packet being exactly 20 bytes,
// so a packet is built here with every byte decided and the receiver never guesses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t kPacketSize = 20;
constexpr std::size_t kPacketPayloadOffset = 4;
constexpr std::size_t kPacketPayloadSize = 15;

constexpr uint8_t PKT_MARKER = 0xA5;

constexpr uint8_t PKT_VERSION_REQUEST = 0x21;
constexpr uint8_t PKT_TEXT_CHAR = 0x22;
constexpr uint8_t PKT_KEYER_SETTINGS = 0x24;
constexpr uint8_t PKT_SPEED = 0x25;
constexpr uint8_t PKT_HEARTBEAT = 0x26;
constexpr uint8_t PKT_CLEAR = 0x27;
constexpr uint8_t PKT_PAUSE = 0x28;
constexpr uint8_t PKT_TUNE = 0x29;
constexpr uint8_t PKT_BACKSPACE = 0x2A;
constexpr uint8_t PKT_VERSION_REPLY = 0x33;
constexpr uint8_t PKT_ECHO_CHAR = 0x34;
constexpr uint8_t PKT_STATUS = 0x36;
constexpr uint8_t PKT_HEARTBEAT_REPLY = 0x37;
constexpr uint8_t PKT_PADDLE = 0x38;
// The link key's exchange and seal; a station without a key ignores them as unknown types.
constexpr uint8_t PKT_KEY_CHALLENGE = 0x2B;
constexpr uint8_t PKT_KEY_PROOF = 0x2C;
constexpr uint8_t PKT_KEY_TAG = 0x2D;

// The version a Net Server reports when it has no keyer attached.
constexpr uint8_t kNoKeyerVersion = 0xFF;

static_assert(kPacketPayloadOffset + kPacketPayloadSize + 1 == kPacketSize,
              "marker, type, value, second value, payload and one spare byte");

// The wire image, byte for byte. A plain record so that it can be copied into a send
// buffer or out of a receive buffer without any conversion.
struct Packet {
    uint8_t bytes[kPacketSize];
};
static_assert(sizeof(Packet) == kPacketSize, "a packet is its 20 wire bytes and nothing else");

// Marker, type, value, second value 0; the payload and the spare byte are 0, so two
// packets of the same meaning are the same bytes.
Packet BuildPacket(uint8_t type, uint8_t value);
// As above with a second value, and with exactly 15 payload bytes copied to offsets 4 to 18
// when `payload` is not null.
Packet BuildPacket(uint8_t type, uint8_t value, uint8_t second_value, const uint8_t* payload);

inline uint8_t PacketMarker(const Packet& packet) {
    return packet.bytes[0];
}
inline bool HasPacketMarker(const Packet& packet) {
    return packet.bytes[0] == PKT_MARKER;
}
inline uint8_t PacketType(const Packet& packet) {
    return packet.bytes[1];
}
inline uint8_t PacketValue(const Packet& packet) {
    return packet.bytes[2];
}
inline uint8_t PacketSecondValue(const Packet& packet) {
    return packet.bytes[3];
}
inline const uint8_t* PacketPayload(const Packet& packet) {
    return packet.bytes + kPacketPayloadOffset;
}

// True for the types a receiver acts on; every other type byte, including the unused ones
// inside the range, is to be ignored without being counted as a bad packet.
bool IsKnownPacketType(uint8_t type);

// Cuts the bytes of one TCP connection into whole packets, in the order they were sent.
// A read may bring part of a packet, several packets, or nothing; only whole packets come
// out, so a short read never reaches the dispatcher padded with stale bytes. There is no
// resynchronising on the marker byte: the protocol has no way to find a packet boundary
// again, so a packet with a wrong marker is delivered like any other and the dispatcher
// counts it. One instance belongs to one connection and is reset when that connection ends,
// so the partial tail of a closed link never joins the first bytes of the next one.
class PacketReassembler {
  public:
    void Append(const uint8_t* bytes, std::size_t count);
    // Takes the oldest whole packet; false, with `packet` untouched, when none is complete.
    bool Next(Packet* packet);
    void Reset();
    // Bytes received that are not yet part of a delivered packet.
    std::size_t PendingBytes() const { return buffer_.size() - start_; }

  private:
    std::vector<uint8_t> buffer_;
    std::size_t start_ = 0;
};
