#include "net/timed_packets.h"

namespace {

void PutBigEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        at[i] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

uint32_t GetBigEndian(const uint8_t* at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | at[i];
    }
    return value;
}

bool IsTimed(const Packet& packet, uint8_t type) {
    return HasPacketMarker(packet) && PacketType(packet) == type &&
           PacketSecondValue(packet) == kTimedPacketMark;
}

}  // namespace

Packet TimedPaddlePacket(uint8_t code, const TimedPaddle& timed) {
    uint8_t payload[kPacketPayloadSize] = {};
    PutBigEndian(payload, timed.time_ms, 4);
    PutBigEndian(payload + 4, timed.sequence, 2);
    return BuildPacket(PKT_PADDLE, code, kTimedPacketMark, payload);
}

Packet TimedHeartbeatPacket(uint8_t count, uint32_t time_ms) {
    uint8_t payload[kPacketPayloadSize] = {};
    PutBigEndian(payload, time_ms, 4);
    return BuildPacket(PKT_HEARTBEAT, count, kTimedPacketMark, payload);
}

Packet HeartbeatReplyWithDelay(uint8_t count, uint16_t paddle_delay_ms) {
    uint8_t payload[kPacketPayloadSize] = {};
    PutBigEndian(payload, paddle_delay_ms, 2);
    return BuildPacket(PKT_HEARTBEAT_REPLY, count, kTimedPacketMark, payload);
}

std::optional<TimedPaddle> ReadTimedPaddle(const Packet& packet) {
    if (!IsTimed(packet, PKT_PADDLE)) {
        return std::nullopt;
    }
    return TimedPaddle{GetBigEndian(PacketPayload(packet), 4),
                       static_cast<uint16_t>(GetBigEndian(PacketPayload(packet) + 4, 2))};
}

std::optional<uint32_t> ReadHeartbeatTime(const Packet& packet) {
    if (!IsTimed(packet, PKT_HEARTBEAT)) {
        return std::nullopt;
    }
    return GetBigEndian(PacketPayload(packet), 4);
}

std::optional<uint16_t> ReadPaddleDelay(const Packet& packet) {
    if (!IsTimed(packet, PKT_HEARTBEAT_REPLY)) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(GetBigEndian(PacketPayload(packet), 2));
}
