// Times that two copies of this program add to three packets, in bytes that the plain
// protocol leaves at zero and a receiver that knows only the plain packets ignores, so a link
// to such a peer works as before:
//
// | packet | second value | payload (offsets 4..)                                    |
// |---|---|---|
// | PKT_PADDLE          | 'T' | the change's time (4 bytes), its sequence number (2 bytes)  |
// | PKT_HEARTBEAT       | 'T' | the heartbeat's time (4 bytes)                              |
// | PKT_HEARTBEAT_REPLY | 'T' | the paddle delay the answering station uses, in ms (2 bytes) |
//
// A time is milliseconds since the sender's link began, taken when the paddle byte was read
// or the heartbeat sent; it wraps after 49 days, as the receiver expects. The sequence
// number starts at 0 with each link and wraps. Numbers go most significant byte first, as
// the link key's counters do. Every other byte of these packets stays zero.
#pragma once

#include <cstdint>
#include <optional>

#include "net/packet.h"

// The second value that says the times are there.
constexpr uint8_t kTimedPacketMark = 'T';

struct TimedPaddle {
    uint32_t time_ms;
    uint16_t sequence;
};

Packet TimedPaddlePacket(uint8_t code, const TimedPaddle& timed);
Packet TimedHeartbeatPacket(uint8_t count, uint32_t time_ms);
Packet HeartbeatReplyWithDelay(uint8_t count, uint16_t paddle_delay_ms);

// What the packet carries beyond the plain protocol; nothing for one without the mark or of
// another type.
std::optional<TimedPaddle> ReadTimedPaddle(const Packet& packet);
std::optional<uint32_t> ReadHeartbeatTime(const Packet& packet);
std::optional<uint16_t> ReadPaddleDelay(const Packet& packet);
