#include "net/packet.h"

#include <cstring>

Packet BuildPacket(uint8_t type, uint8_t value) {
    return BuildPacket(type, value, 0, nullptr);
}

Packet BuildPacket(uint8_t type, uint8_t value, uint8_t second_value, const uint8_t* payload) {
    Packet packet{};
    packet.bytes[0] = PKT_MARKER;
    packet.bytes[1] = type;
    packet.bytes[2] = value;
    packet.bytes[3] = second_value;
    if (payload != nullptr) {
        std::memcpy(packet.bytes + kPacketPayloadOffset, payload, kPacketPayloadSize);
    }
    return packet;
}

bool IsKnownPacketType(uint8_t type) {
    switch (type) {
        case PKT_VERSION_REQUEST:
        case PKT_TEXT_CHAR:
        case PKT_KEYER_SETTINGS:
        case PKT_SPEED:
        case PKT_HEARTBEAT:
        case PKT_CLEAR:
        case PKT_PAUSE:
        case PKT_TUNE:
        case PKT_BACKSPACE:
        case PKT_VERSION_REPLY:
        case PKT_ECHO_CHAR:
        case PKT_STATUS:
        case PKT_HEARTBEAT_REPLY:
        case PKT_PADDLE:
            return true;
        default:
            return false;
    }
}

void PacketReassembler::Append(const uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0) {
        return;
    }
    // Delivered bytes are dropped only here, in one move, so that a burst of packets read
    // at once costs one shift instead of one per packet.
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + count);
}

bool PacketReassembler::Next(Packet* packet) {
    if (packet == nullptr || PendingBytes() < kPacketSize) {
        return false;
    }
    std::memcpy(packet->bytes, buffer_.data() + start_, kPacketSize);
    start_ += kPacketSize;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return true;
}

void PacketReassembler::Reset() {
    buffer_.clear();
    start_ = 0;
}
