// Packets are checked as wire bytes: the other station is a separate program that only
// ever sees these 20 bytes, so an image that is off by one byte breaks the link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/packet.h"
#include "station/keyer_settings_packet.h"

namespace {

std::vector<uint8_t> Image(const Packet& packet) {
    return std::vector<uint8_t>(packet.bytes, packet.bytes + kPacketSize);
}

std::vector<uint8_t> Expected(std::vector<uint8_t> head) {
    head.resize(kPacketSize, 0);
    return head;
}

TEST(PacketImage, SpeedIsMarkerTypeValueThenZeros) {
    EXPECT_EQ(Image(BuildPacket(PKT_SPEED, 25)), Expected({0xA5, 0x25, 0x19, 0x00}));
}

TEST(PacketImage, EveryTypeTravelsAsItsCharacter) {
    const struct {
        uint8_t type;
        char character;
    } types[] = {
        {PKT_VERSION_REQUEST, '!'}, {PKT_TEXT_CHAR, '"'}, {PKT_KEYER_SETTINGS, '$'},
        {PKT_SPEED, '%'},           {PKT_HEARTBEAT, '&'}, {PKT_CLEAR, '\''},
        {PKT_PAUSE, '('},           {PKT_TUNE, ')'},      {PKT_BACKSPACE, '*'},
        {PKT_VERSION_REPLY, '3'},   {PKT_ECHO_CHAR, '4'}, {PKT_STATUS, '6'},
        {PKT_HEARTBEAT_REPLY, '7'}, {PKT_PADDLE, '8'},
    };
    for (const auto& entry : types) {
        const Packet packet = BuildPacket(entry.type, 0x41);
        EXPECT_EQ(packet.bytes[1], static_cast<uint8_t>(entry.character)) << entry.character;
        EXPECT_EQ(Image(packet), Expected({PKT_MARKER, packet.bytes[1], 0x41, 0x00}))
            << entry.character;
        EXPECT_TRUE(IsKnownPacketType(entry.type)) << entry.character;
    }
}

TEST(PacketImage, ValueIsCarriedUnsigned) {
    EXPECT_EQ(Image(BuildPacket(PKT_VERSION_REPLY, kNoKeyerVersion)),
              Expected({0xA5, 0x33, 0xFF, 0x00}));
    EXPECT_EQ(Image(BuildPacket(PKT_HEARTBEAT, 0)), Expected({0xA5, 0x26, 0x00, 0x00}));
    const Packet reply = BuildPacket(PKT_HEARTBEAT_REPLY, 200);
    EXPECT_EQ(PacketValue(reply), 200);
}

TEST(PacketImage, SecondValueAndPayloadLandAtTheirOffsets) {
    uint8_t payload[kPacketPayloadSize];
    for (std::size_t i = 0; i < sizeof payload; ++i) {
        payload[i] = static_cast<uint8_t>(0xB0 + i);
    }
    const Packet packet = BuildPacket(PKT_TEXT_CHAR, 0x41, 0x7E, payload);
    EXPECT_EQ(Image(packet),
              Expected({0xA5, 0x22, 0x41, 0x7E, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5,
                        0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0x00}));
    EXPECT_EQ(PacketSecondValue(packet), 0x7E);
    EXPECT_EQ(std::memcmp(PacketPayload(packet), payload, sizeof payload), 0);
}

TEST(PacketImage, NoPayloadLeavesEveryUnusedByteZero) {
    const Packet packet = BuildPacket(PKT_TUNE, 1, 0, nullptr);
    for (std::size_t i = 3; i < kPacketSize; ++i) {
        EXPECT_EQ(packet.bytes[i], 0) << "offset " << i;
    }
}

KeyerSettings NumberedSettings() {
    KeyerSettings settings;
    settings.mode_register = 0x01;
    settings.wpm = 0x02;
    settings.sidetone = 0x03;
    settings.weight = 0x04;
    settings.lead_in = 0x05;
    settings.tail = 0x06;
    settings.min_wpm = 0x07;
    settings.wpm_range = 0x08;
    settings.first_extension = 0x09;
    settings.key_compensation = 0x0A;
    settings.farnsworth = 0x0B;
    settings.paddle_setpoint = 0x0C;
    settings.dit_dah_ratio = 0x0D;
    settings.pin_config = 0x0E;
    settings.keyer_spare = 0x0F;
    return settings;
}

TEST(KeyerSettingsPacket, BlockFollowsTheRecordOrderFromOffsetFour) {
    EXPECT_EQ(Image(BuildKeyerSettingsPacket(NumberedSettings())),
              Expected({0xA5, 0x24, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                        0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x00}));
}

TEST(KeyerSettingsPacket, ReadsBackAsTheSameBlock) {
    const KeyerSettings sent = NumberedSettings();
    const KeyerSettings received = PacketKeyerSettings(BuildKeyerSettingsPacket(sent));
    EXPECT_EQ(std::memcmp(&sent, &received, sizeof sent), 0);
    EXPECT_EQ(received.mode_register, 0x01);
    EXPECT_EQ(received.pin_config, 0x0E);
}

TEST(PacketTypes, GapsAndOutsidersAreUnknown) {
    for (unsigned type : {0x00u, 0x20u, 0x23u, 0x2Bu, 0x2Fu, 0x32u, 0x35u, 0x39u, 0xA5u, 0xFFu}) {
        EXPECT_FALSE(IsKnownPacketType(static_cast<uint8_t>(type))) << type;
    }
}

TEST(PacketTypes, AccessorsReadTheWireFields) {
    Packet packet{};
    const uint8_t raw[kPacketSize] = {0x5A, 0x36, 0x15, 0x09, 0x77};
    std::memcpy(packet.bytes, raw, sizeof raw);
    EXPECT_EQ(PacketMarker(packet), 0x5A);
    EXPECT_FALSE(HasPacketMarker(packet));
    EXPECT_EQ(PacketType(packet), PKT_STATUS);
    EXPECT_EQ(PacketValue(packet), 0x15);
    EXPECT_EQ(PacketSecondValue(packet), 0x09);
    EXPECT_EQ(PacketPayload(packet)[0], 0x77);
    EXPECT_TRUE(HasPacketMarker(BuildPacket(PKT_STATUS, 0)));
}

// A stream of distinct packets, so that a packet delivered twice, skipped or shifted by a
// byte shows up as a mismatch.
std::vector<Packet> NumberedStream(int count) {
    std::vector<Packet> packets;
    for (int i = 0; i < count; ++i) {
        uint8_t payload[kPacketPayloadSize];
        for (std::size_t j = 0; j < sizeof payload; ++j) {
            payload[j] = static_cast<uint8_t>(i * 7 + j);
        }
        packets.push_back(BuildPacket(PKT_TEXT_CHAR, static_cast<uint8_t>(i), 0, payload));
    }
    return packets;
}

std::vector<uint8_t> Concatenate(const std::vector<Packet>& packets) {
    std::vector<uint8_t> bytes;
    for (const Packet& packet : packets) {
        bytes.insert(bytes.end(), packet.bytes, packet.bytes + kPacketSize);
    }
    return bytes;
}

std::vector<Packet> Drain(PacketReassembler& reassembler) {
    std::vector<Packet> packets;
    Packet packet;
    while (reassembler.Next(&packet)) {
        packets.push_back(packet);
    }
    return packets;
}

void ExpectSamePackets(const std::vector<Packet>& got, const std::vector<Packet>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(Image(got[i]), Image(want[i])) << "packet " << i;
    }
}

TEST(PacketReassembly, PacketSplitSevenThenThirteenIsJoined) {
    const Packet sent = BuildPacket(PKT_ECHO_CHAR, 'Q');
    PacketReassembler reassembler;
    reassembler.Append(sent.bytes, 7);
    Packet got;
    EXPECT_FALSE(reassembler.Next(&got));
    EXPECT_EQ(reassembler.PendingBytes(), 7u);
    reassembler.Append(sent.bytes + 7, 13);
    ASSERT_TRUE(reassembler.Next(&got));
    EXPECT_EQ(Image(got), Image(sent));
    EXPECT_FALSE(reassembler.Next(&got));
    EXPECT_EQ(reassembler.PendingBytes(), 0u);
}

TEST(PacketReassembly, ThreePacketsInOneReadAreAllDeliveredInOrder) {
    const std::vector<Packet> sent = NumberedStream(3);
    const std::vector<uint8_t> bytes = Concatenate(sent);
    PacketReassembler reassembler;
    reassembler.Append(bytes.data(), bytes.size());
    ExpectSamePackets(Drain(reassembler), sent);
}

TEST(PacketReassembly, ByteAtATimeCompletesOnlyOnTheTwentiethByte) {
    const std::vector<Packet> sent = NumberedStream(2);
    const std::vector<uint8_t> bytes = Concatenate(sent);
    PacketReassembler reassembler;
    std::vector<Packet> got;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        reassembler.Append(&bytes[i], 1);
        const std::vector<Packet> now = Drain(reassembler);
        EXPECT_EQ(now.size(), (i + 1) % kPacketSize == 0 ? 1u : 0u) << "after byte " << i;
        got.insert(got.end(), now.begin(), now.end());
    }
    ExpectSamePackets(got, sent);
}

TEST(PacketReassembly, EmptyReadDeliversNothing) {
    const Packet sent = BuildPacket(PKT_PAUSE, 1);
    PacketReassembler reassembler;
    reassembler.Append(sent.bytes, 5);
    reassembler.Append(sent.bytes + 5, 0);
    reassembler.Append(nullptr, 0);
    Packet got;
    EXPECT_FALSE(reassembler.Next(&got));
    EXPECT_EQ(reassembler.PendingBytes(), 5u);
    reassembler.Append(sent.bytes + 5, 15);
    ASSERT_TRUE(reassembler.Next(&got));
    EXPECT_EQ(Image(got), Image(sent));
}

TEST(PacketReassembly, NoWholePacketLeavesTheCallersPacketUntouched) {
    PacketReassembler reassembler;
    const uint8_t part[3] = {0xA5, 0x22, 0x41};
    reassembler.Append(part, sizeof part);
    Packet got = BuildPacket(PKT_CLEAR, 9);
    EXPECT_FALSE(reassembler.Next(&got));
    EXPECT_EQ(Image(got), Image(BuildPacket(PKT_CLEAR, 9)));
    EXPECT_FALSE(reassembler.Next(nullptr));
    EXPECT_EQ(reassembler.PendingBytes(), 3u);
}

TEST(PacketReassembly, PeerClosingMidPacketLeavesThePartUndelivered) {
    const std::vector<Packet> sent = NumberedStream(2);
    const std::vector<uint8_t> bytes = Concatenate(sent);
    PacketReassembler reassembler;
    reassembler.Append(bytes.data(), kPacketSize + 9);
    ExpectSamePackets(Drain(reassembler), {sent[0]});
    EXPECT_EQ(reassembler.PendingBytes(), 9u);

    // The connection ends here; the next one starts from a clean stream.
    reassembler.Reset();
    EXPECT_EQ(reassembler.PendingBytes(), 0u);
    const Packet next = BuildPacket(PKT_HEARTBEAT, 3);
    reassembler.Append(next.bytes, kPacketSize);
    ExpectSamePackets(Drain(reassembler), {next});
}

TEST(PacketReassembly, BadMarkerPacketIsDeliveredInItsSlot) {
    std::vector<Packet> sent = NumberedStream(3);
    sent[1].bytes[0] = 0x00;
    const std::vector<uint8_t> bytes = Concatenate(sent);
    PacketReassembler reassembler;
    reassembler.Append(bytes.data(), bytes.size());
    const std::vector<Packet> got = Drain(reassembler);
    ExpectSamePackets(got, sent);
    EXPECT_FALSE(HasPacketMarker(got[1]));
    EXPECT_TRUE(HasPacketMarker(got[2]));
}

TEST(PacketReassembly, IrregularReadsKeepALongStreamInOrder) {
    const std::vector<Packet> sent = NumberedStream(60);
    const std::vector<uint8_t> bytes = Concatenate(sent);
    const std::size_t sizes[] = {1, 3, 19, 20, 21, 0, 7, 40, 13, 2, 61};
    PacketReassembler reassembler;
    std::vector<Packet> got;
    std::size_t offset = 0;
    for (std::size_t round = 0; offset < bytes.size(); ++round) {
        const std::size_t count =
            std::min(sizes[round % (sizeof sizes / sizeof sizes[0])], bytes.size() - offset);
        reassembler.Append(bytes.data() + offset, count);
        offset += count;
        const std::vector<Packet> now = Drain(reassembler);
        got.insert(got.end(), now.begin(), now.end());
        EXPECT_EQ(reassembler.PendingBytes(), offset % kPacketSize);
    }
    ExpectSamePackets(got, sent);
}

}  // namespace
