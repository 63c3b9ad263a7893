// Packets on their way to the other station, on the data socket of the role, from any
// thread.
#pragma once

#include <cstdint>

#include "net/packet.h"

// Builds the packet and puts its 20 bytes on the data socket of the role, whole or not at
// all. `payload` is exactly 15 bytes, or null.
void SendPacket(uint8_t type, uint8_t value, uint8_t second_value, const uint8_t* payload);
// A PKT_TEXT_CHAR for each of `count` bytes (1 to kMaxTextPackets), all in one write: a
// packet sent meanwhile from another thread (a Clear) goes before them all or after them
// all, never between a buffered command and its argument.
constexpr int kMaxTextPackets = 3;
void SendTextPackets(const uint8_t* bytes, int count);
