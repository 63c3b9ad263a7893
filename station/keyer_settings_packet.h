// The keyer-settings packet: a ControlPoint sends the other station the block its keyer is to
// load, byte for byte as the keyer takes it, in the packet's payload.
#pragma once

#include <cstring>

#include "keyer/keyer_settings.h"
#include "net/packet.h"

static_assert(sizeof(KeyerSettings) == kPacketPayloadSize,
              "the settings packet carries the keyer's load block whole");

// PKT_KEYER_SETTINGS with value 0 and the block in the Settings record's order,
// `mode_register` first.
inline Packet BuildKeyerSettingsPacket(const KeyerSettings& settings) {
    uint8_t block[kPacketPayloadSize];
    std::memcpy(block, &settings, sizeof block);
    return BuildPacket(PKT_KEYER_SETTINGS, 0, 0, block);
}

// The payload of a settings packet read back as the keyer's load block.
inline KeyerSettings PacketKeyerSettings(const Packet& packet) {
    KeyerSettings settings;
    std::memcpy(&settings, PacketPayload(packet), sizeof settings);
    return settings;
}
