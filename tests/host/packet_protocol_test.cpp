// The packet protocol as one station runs it: the test is the other station, a plain
// socket on loopback that reads the exact bytes sent, and, where the local keyer matters,
// the keyer too, through the emulator on a pty whose wire shows every command byte.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/resource_ids.h"
#include "keyer/keyer_link.h"
#include "net/packet_link.h"
#include "station/station.h"
#include "tests/host/station_rig.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"

namespace {

using namespace loopback;
using namespace std::chrono_literals;
using ByteList = std::vector<uint8_t>;

// The 20 bytes of a packet as this station writes it: what carries nothing is zero.
ByteList Wire(uint8_t type, uint8_t value, const ByteList& payload = {}) {
    ByteList bytes(kPacketSize, 0);
    bytes[0] = 0xA5;
    bytes[1] = type;
    bytes[2] = value;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        bytes[4 + i] = payload[i];
    }
    return bytes;
}

Packet Received(const ByteList& bytes) {
    Packet packet{};
    std::memcpy(packet.bytes, bytes.data(), kPacketSize);
    return packet;
}

Packet Received(uint8_t type, uint8_t value) {
    return Received(Wire(type, value));
}

ByteList BlockBytes(const KeyerSettings& block) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
    return ByteList(bytes, bytes + sizeof block);
}

// The keyer's load command for a block: 0F, the 15 bytes, then 07 and 15.
ByteList LoadCommand(const ByteList& block) {
    ByteList bytes{0x0F};
    bytes.insert(bytes.end(), block.begin(), block.end());
    bytes.push_back(0x07);
    bytes.push_back(0x15);
    return bytes;
}

// A heartbeat that proves the stream quiet: its answer must be the next thing on it.
constexpr uint8_t kProbeBeat = 0x5A;
// Speeds that prove the keyer's wire quiet; no case sets them otherwise. Each probe differs
// from the one before, since the keyer link keeps its last-sent speed across host sessions
// when the cases share one process.
uint8_t NextProbeSpeed() {
    static uint8_t next = 31;
    return next++;
}

class PacketProtocol : public station_rig::StationRigTest {
  protected:
    PacketProtocol() : StationRigTest(station_rig::kMessagesStayStarted) {}

    void SetUp() override {
        LoopbackTest::SetUp();
        ConnectPeer();
        std::memset(&settings, 0, sizeof settings);
        BeNetServer(kNetRoleControlPoint);
        station_.net().SetLinked(true);
        station_.state().remote_busy = 0;
        station_.state().local_keyer_open = 0;
        station_.state().bad_packet_count = 0;
    }

    // A server sends on its accepted connection and keeps the listener as its link socket;
    // a client's one socket is both. Each role is given the wrong socket for the other, so
    // a send on the wrong one never reaches the peer.
    void BeNetServer(uint32_t role_and_flags) {
        settings.net_flags = kNetModeServer | role_and_flags;
        ServeThePeer();
    }
    void BeNetClient(uint32_t role_and_flags) {
        settings.net_flags = kNetModeClient | role_and_flags;
        station_.net().HoldLinkSocket(connection_, LinkSocketUse::kConnects);
        station_.net().HoldAcceptedSocket(listener_);
    }

    ByteList PeerReceives() { return RawReceive(peer_, kPacketSize); }

    // What the peer wrote, read through the seam as the window's read notifications read
    // it, each whole packet going to the dispatcher.
    void DispatchFromTheStream(int packets) {
        int delivered = 0;
        WaitUntil([&] { return delivered >= packets; }, 10s,
                  [&] {
                      SocketEvent event{};
                      if (sockets_.Wait(100, &event) && event.socket == connection_ &&
                          event.event == kSocketRead) {
                          ReadPacketsFrom(sockets_, connection_, &reassembler_,
                                          [this, &delivered](const Packet& packet) {
                                              station_.processIPpacket(packet);
                                              ++delivered;
                                          });
                      }
                  });
        ASSERT_EQ(delivered, packets);
    }

    void ExpectNothingMoreSent() {
        station_.processIPpacket(Received(PKT_HEARTBEAT, kProbeBeat));
        EXPECT_EQ(PeerReceives(), Wire(PKT_HEARTBEAT_REPLY, kProbeBeat))
            << "the stream carried something before the probe's answer";
    }

    PacketReassembler reassembler_;
};

// The same station with its keyer attached in host mode.
class PacketProtocolWithKeyer : public PacketProtocol {
  protected:
    void SetUp() override {
        PacketProtocol::SetUp();
        uint8_t version = 0;
        keyer_.Attach(station_rig::FastKeyer(), station_.keyer(), &version);
        ASSERT_EQ(version, 23);
        // The keyer volunteers nothing (the pot's answer to a load, echoes), which the station
        // would pass on: the peer sees only what the packets make. What a case injects still
        // comes.
        ASSERT_EQ(keyer_.Sim().Command("silent on"), "ok");
        station_.state().local_keyer_open = 1;
    }

    void ExpectKeyerWireQuiet() {
        const uint8_t probe = NextProbeSpeed();
        station_.processIPpacket(Received(PKT_SPEED, probe));
        EXPECT_EQ(KeyerWire(2), (ByteList{0x02, probe}))
            << "the keyer got something before the probe's speed";
    }
};

// Receiving: packets that drive the local keyer.

struct KeyerRow {
    const char* name;
    Packet packet;
    ByteList wire;
};

// In this order within one session: backspace relies on the text character having gone.
TEST_F(PacketProtocolWithKeyer, EachKeyerPacketPutsItsCommandOnTheKeyersWire) {
    const ByteList block{0x44, 22, 5, 50, 0, 0, 10, 25, 0, 0, 0, 0, 50, 0x0D, 0};
    const std::vector<KeyerRow> rows = {
        {"text character", Received(PKT_TEXT_CHAR, 'A'), {0x41}},
        {"speed", Received(PKT_SPEED, 25), {0x02, 0x19}},
        {"pause on", Received(PKT_PAUSE, 1), {0x06, 0x01}},
        {"pause off", Received(PKT_PAUSE, 0), {0x06, 0x00}},
        {"tune on", Received(PKT_TUNE, 1), {0x0B, 0x01}},
        {"tune off", Received(PKT_TUNE, 0), {0x0B, 0x00}},
        {"paddle left", Received(PKT_PADDLE, 2), {0x14, 0x02}},
        {"paddle right", Received(PKT_PADDLE, 1), {0x14, 0x01}},
        {"clear", Received(PKT_CLEAR, 0), {0x0A}},
        {"backspace with nothing queued", Received(PKT_BACKSPACE, 0), {0x08}},
        {"settings block", Received(Wire(PKT_KEYER_SETTINGS, 0, block)), LoadCommand(block)},
        {"text after the block", Received(PKT_TEXT_CHAR, 'Z'), {0x5A}},
    };
    for (const KeyerRow& row : rows) {
        station_.processIPpacket(row.packet);
        EXPECT_EQ(KeyerWire(row.wire.size()), row.wire) << row.name;
    }
    EXPECT_TRUE(window_.Calls().empty()) << "keyer packets show nothing";
    EXPECT_EQ(station_.state().bad_packet_count.load(), 0);
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocolWithKeyer, SettingsBlockIsTheKeyersNotTheRecords) {
    const ByteList block{0x41, 18, 0xC7, 45, 3, 4, 8, 30, 1, 2, 9, 7, 55, 0x3F, 0x11};
    const SettingsRecord before = settings;
    station_.processIPpacket(Received(Wire(PKT_KEYER_SETTINGS, 0, block)));
    EXPECT_EQ(KeyerWire(18), LoadCommand(block));
    EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0);
}

TEST_F(PacketProtocol, KeyerPacketsWithoutAKeyerDoNothing) {
    const ByteList block{0x44, 22, 5, 50, 0, 0, 10, 25, 0, 0, 0, 0, 50, 0x0D, 0};
    station_.processIPpacket(Received(PKT_TEXT_CHAR, 'A'));
    station_.processIPpacket(Received(PKT_SPEED, 25));
    station_.processIPpacket(Received(PKT_PAUSE, 1));
    station_.processIPpacket(Received(PKT_TUNE, 1));
    station_.processIPpacket(Received(PKT_PADDLE, 2));
    station_.processIPpacket(Received(PKT_CLEAR, 0));
    station_.processIPpacket(Received(PKT_BACKSPACE, 0));
    station_.processIPpacket(Received(Wire(PKT_KEYER_SETTINGS, 0, block)));
    EXPECT_TRUE(window_.Calls().empty());
    EXPECT_EQ(station_.state().bad_packet_count.load(), 0);
    EXPECT_EQ(station_.state().remote_busy.load(), 0);
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocolWithKeyer, TextFromThePeerReachesTheKeyerThroughTheSocket) {
    BeNetServer(kNetRoleRemoteSide);
    ByteList stream = Wire(PKT_TEXT_CHAR, 'C');
    const ByteList text = Wire(PKT_TEXT_CHAR, 'Q');
    stream.insert(stream.end(), text.begin(), text.end());
    RawSendAll(peer_, stream);
    DispatchFromTheStream(2);
    EXPECT_EQ(KeyerWire(2), (ByteList{'C', 'Q'}));
    RawSendAll(peer_, Wire(PKT_SPEED, 28));
    DispatchFromTheStream(1);
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 28}));
}

// Receiving: the version exchange.

TEST_F(PacketProtocol, NetServerWithoutAKeyerReportsVersion255) {
    station_.state().local_keyer_open = 0;
    station_.keyer().OpenHostWithoutPort(23);  // a keyer once attached, now closed
    station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    EXPECT_EQ(PeerReceives(), Wire(PKT_VERSION_REPLY, 0xFF));
    EXPECT_TRUE(window_.Calls().empty());
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocolWithKeyer, NetServerReportsItsKeyersVersionWhileTheKeyerIsOpen) {
    BeNetServer(kNetRoleRemoteSide);
    station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    EXPECT_EQ(PeerReceives(), Wire(PKT_VERSION_REPLY, 23));
    // The version stays with the connection sequence's view of the keyer, not the port's.
    station_.state().local_keyer_open = 0;
    station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    EXPECT_EQ(PeerReceives(), Wire(PKT_VERSION_REPLY, 0xFF));
    EXPECT_TRUE(window_.Calls().empty());
    ExpectNothingMoreSent();
    ExpectKeyerWireQuiet();
}

TEST_F(PacketProtocol, RequestAndHeartbeatFromThePeerAreAnsweredOnTheStream) {
    BeNetServer(kNetRoleRemoteSide);
    ByteList stream = Wire(PKT_VERSION_REQUEST, 0);
    const ByteList beat = Wire(PKT_HEARTBEAT, 7);
    stream.insert(stream.end(), beat.begin(), beat.end());
    RawSendAll(peer_, stream);
    DispatchFromTheStream(2);
    ByteList expected = Wire(PKT_VERSION_REPLY, 0xFF);
    const ByteList reply = Wire(PKT_HEARTBEAT_REPLY, 7);
    expected.insert(expected.end(), reply.begin(), reply.end());
    EXPECT_EQ(RawReceive(peer_, 2 * kPacketSize), expected);
}

TEST_F(PacketProtocol, NetClientAskedForItsVersionLogsTheMismatchAndAnswersNothing) {
    BeNetClient(kNetRoleRemoteSide);
    station_.state().local_keyer_open = 1;
    station_.keyer().OpenHostWithoutPort(23);
    station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    const auto calls = window_.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "replace");
    EXPECT_EQ(calls[0].id, IDC_LOG_PANE);
    EXPECT_EQ(window_.Text(IDC_LOG_PANE), "\r\nprocessIPpacket: client/server mismatch");
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocol, VersionReplyShowsTheRemoteKeyersVersion) {
    BeNetClient(kNetRoleControlPoint);
    station_.processIPpacket(Received(PKT_VERSION_REPLY, 255));
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "Remote Tarvel Ver:255");
    station_.processIPpacket(Received(PKT_VERSION_REPLY, 23));
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "Remote Tarvel Ver:23");
    station_.processIPpacket(Received(PKT_VERSION_REPLY, 0));
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "Remote Tarvel Ver:0");
    for (const auto& call : window_.Calls()) {
        EXPECT_EQ(call.kind, "text");
        EXPECT_EQ(call.id, IDC_REMOTE_STATUS);
    }
    ExpectNothingMoreSent();
}

// Receiving: what the other keyer did.

TEST_F(PacketProtocol, EchoCharactersAreInsertedIntoTheEchoLine) {
    window_.SetControlText(IDC_ECHO_LINE, "CQ ");
    window_.SetSelection(IDC_ECHO_LINE, kTextEnd, kTextEnd);
    station_.processIPpacket(Received(PKT_ECHO_CHAR, 'D'));
    station_.processIPpacket(Received(PKT_ECHO_CHAR, 'E'));
    EXPECT_EQ(window_.Text(IDC_ECHO_LINE), "CQ DE");
    const auto calls = window_.Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].kind, "replace");
    EXPECT_EQ(calls[2].text, "D");
    EXPECT_EQ(calls[3].kind, "replace");
    EXPECT_EQ(calls[3].text, "E");
    ExpectNothingMoreSent();
}

struct StatusRow {
    uint8_t value;
    int32_t busy;
    int32_t still_sending;
    const char* busy_text;
    const char* wait_text;
};

TEST_F(PacketProtocol, StatusBitsDriveBusyBreakInAndTheStatusFields) {
    const std::vector<StatusRow> rows = {
        {0x00, 0, 1, " ", " "},       {0x01, 1, 1, " ", " "},       {0x02, 0, 0, " ", " "},
        {0x04, 0, 1, "Busy", " "},    {0x10, 0, 1, " ", "Wait"},    {0x08, 0, 1, " ", " "},
        {0x20, 0, 1, " ", " "},       {0x15, 1, 1, "Busy", "Wait"}, {0x3F, 1, 0, "Busy", "Wait"},
        {0x3E, 0, 0, "Busy", "Wait"},
    };
    for (const StatusRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "status " << std::hex << int{row.value});
        // The opposite of what the packet should leave, so that every row shows a change.
        station_.state().remote_busy = 1 - row.busy;
        MessageGoingOut(1);
        window_.SetControlText(IDC_BUSY_STATUS, "x");
        window_.SetControlText(IDC_WAIT_STATUS, "x");
        const std::size_t calls_before = window_.Calls().size();
        station_.processIPpacket(Received(PKT_STATUS, row.value));
        EXPECT_EQ(station_.state().remote_busy.load(), row.busy);
        EXPECT_EQ(SendingMessage(), row.still_sending);
        EXPECT_EQ(window_.Text(IDC_BUSY_STATUS), row.busy_text);
        EXPECT_EQ(window_.Text(IDC_WAIT_STATUS), row.wait_text);
        EXPECT_EQ(window_.Calls().size(), calls_before + 2) << "only the two fields change";
    }
    ExpectNothingMoreSent();
}

// The heartbeat, answered by any station and shown as a blinking mark.

TEST_F(PacketProtocol, HeartbeatsAreAnsweredWithTheirCounterAndTheReplyBlinksTheMark) {
    struct Beat {
        uint8_t count;
        const char* mark;
    };
    const std::vector<Beat> beats = {{254, "+"}, {255, " "}, {0, "+"}, {1, " "}};
    for (const bool server : {true, false}) {
        if (server) {
            BeNetServer(kNetRoleRemoteSide);
        } else {
            BeNetClient(kNetRoleConverse);
        }
        for (const Beat& beat : beats) {
            SCOPED_TRACE(testing::Message() << (server ? "server " : "client ") << int{beat.count});
            station_.processIPpacket(Received(PKT_HEARTBEAT, beat.count));
            EXPECT_EQ(PeerReceives(), Wire(PKT_HEARTBEAT_REPLY, beat.count));
            station_.processIPpacket(Received(PKT_HEARTBEAT_REPLY, beat.count));
            EXPECT_EQ(window_.Text(IDC_HEARTBEAT), beat.mark);
        }
    }
    for (const auto& call : window_.Calls()) {
        EXPECT_EQ(call.id, IDC_HEARTBEAT);
    }
    ExpectNothingMoreSent();
}

// What a receiver drops.

TEST_F(PacketProtocol, PacketWithoutTheMarkerIsCountedAndChangesNothingElse) {
    BeNetServer(kNetRoleControlPoint);
    station_.state().remote_busy = 1;
    MessageGoingOut(1);
    const std::vector<uint8_t> markers = {0x00, 0xA4, 0x5A, 0xFF};
    const std::vector<uint8_t> types = {PKT_VERSION_REQUEST, PKT_HEARTBEAT,     PKT_VERSION_REPLY,
                                        PKT_ECHO_CHAR,       PKT_STATUS,        PKT_HEARTBEAT_REPLY,
                                        PKT_SPEED,           PKT_KEYER_SETTINGS};
    int32_t expected = 0;
    for (const uint8_t marker : markers) {
        for (const uint8_t type : types) {
            ByteList bytes = Wire(type, 0x02);
            bytes[0] = marker;
            station_.processIPpacket(Received(bytes));
            ++expected;
            EXPECT_EQ(station_.state().bad_packet_count.load(), expected)
                << "marker " << int{marker} << " type " << int{type};
        }
    }
    EXPECT_TRUE(window_.Calls().empty());
    EXPECT_EQ(station_.state().remote_busy.load(), 1);
    EXPECT_EQ(SendingMessage(), 1);
    ExpectNothingMoreSent();
    EXPECT_EQ(station_.state().bad_packet_count.load(), expected) << "a good packet is not counted";
}

TEST_F(PacketProtocolWithKeyer, PacketWithoutTheMarkerNeverReachesTheKeyer) {
    for (const uint8_t type : {PKT_TEXT_CHAR, PKT_SPEED, PKT_TUNE, PKT_CLEAR, PKT_BACKSPACE}) {
        ByteList bytes = Wire(type, 1);
        bytes[0] = 0x00;
        station_.processIPpacket(Received(bytes));
    }
    ByteList block = Wire(PKT_KEYER_SETTINGS, 0, ByteList(15, 0x11));
    block[0] = 0xA6;
    station_.processIPpacket(Received(block));
    EXPECT_EQ(station_.state().bad_packet_count.load(), 6);
    ExpectKeyerWireQuiet();
}

ByteList UnusedTypes() {
    ByteList types = {0x23, 0x35, 0x00, 0x20, 0x39, 0x41, 0x7F, 0xA5, 0xFF};
    for (uint8_t type = 0x2B; type <= 0x32; ++type) {
        types.push_back(type);
    }
    return types;
}

TEST_F(PacketProtocol, UnusedTypesAreIgnoredAndNotCounted) {
    station_.state().remote_busy = 1;
    MessageGoingOut(1);
    for (const uint8_t type : UnusedTypes()) {
        station_.processIPpacket(Received(type, 0x02));
        station_.processIPpacket(Received(Wire(type, 0x00, ByteList(15, 0x02))));
    }
    EXPECT_EQ(station_.state().bad_packet_count.load(), 0);
    EXPECT_TRUE(window_.Calls().empty());
    EXPECT_EQ(station_.state().remote_busy.load(), 1);
    EXPECT_EQ(SendingMessage(), 1);
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocolWithKeyer, UnusedTypesNeverReachTheKeyer) {
    for (const uint8_t type : UnusedTypes()) {
        station_.processIPpacket(Received(type, 0x41));
    }
    EXPECT_EQ(station_.state().bad_packet_count.load(), 0);
    ExpectKeyerWireQuiet();
    EXPECT_TRUE(window_.Calls().empty());
}

// The busy test that paces typing and stored messages.

TEST_F(PacketProtocol, LinkedTheBusyTestFollowsTheRemoteKeyer) {
    station_.processIPpacket(Received(PKT_STATUS, 0x01));
    EXPECT_EQ(station_.IsLinkBusy(), 1);
    station_.processIPpacket(Received(PKT_STATUS, 0x00));
    EXPECT_EQ(station_.IsLinkBusy(), 0) << "linked, a station without a keyer is not busy";
}

TEST_F(PacketProtocol, UnlinkedWithoutAKeyerTheStationCountsAsBusy) {
    station_.net().SetLinked(false);
    station_.state().remote_busy = 0;
    EXPECT_EQ(station_.IsLinkBusy(), -9);
    station_.state().remote_busy = 1;
    EXPECT_EQ(station_.IsLinkBusy(), -9)
        << "the remote keyer's bit does not count without the link";
}

TEST_F(PacketProtocolWithKeyer, UnlinkedTheBusyTestFollowsTheLocalQueue) {
    station_.net().SetLinked(false);
    station_.state().remote_busy = 1;
    EXPECT_EQ(station_.IsLinkBusy(), 0);
    // The keyer holds, so nothing drains while the queue fills past its mark.
    keyer_.Sim().Inject({0xC1});
    ASSERT_TRUE(WaitUntil([this] { return station_.keyer().Status() == 1; }));
    for (int i = 0; i < 43; ++i) {
        ASSERT_EQ(station_.keyer().QueueByte('E'), 0);
    }
    EXPECT_EQ(station_.IsLinkBusy(), 1);
    station_.net().SetLinked(true);
    station_.state().remote_busy = 0;
    EXPECT_EQ(station_.IsLinkBusy(), 0) << "linked, only the remote keyer counts";
    station_.keyer().ClearBuffer();
}

// Loading the settings block, and on a ControlPoint sending the other side its copy.

KeyerSettings SampleBlock(uint8_t pin_config) {
    return KeyerSettings{0x41, 22, 0xC5, 50, 1, 2, 10, 25, 3, 4, 5, 6, 50, pin_config, 0x09};
}

class ApplySettings : public PacketProtocolWithKeyer {
  protected:
    void Apply(const KeyerSettings& block) {
        settings.keyer_settings = block;
        settings.magic = kSettingsMagic;
        settings.padding = 0x77;
        std::strcpy(settings.ip_address, "127.0.0.1");
        const SettingsRecord before = settings;
        station_.ApplyKeyerSettings();
        EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0)
            << "the record is left as it was";
    }
};

TEST_F(ApplySettings, ControlPointWithRemoteSidetoneSendsTheAdjustedBlock) {
    BeNetServer(kNetRoleControlPoint | kNetRemoteSidetone);
    const KeyerSettings block = SampleBlock(0x3D);
    Apply(block);
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block))) << "the local keyer's is unchanged";
    EXPECT_EQ(PeerReceives(), Wire(PKT_KEYER_SETTINGS, 0,
                                   {0x05, 22, 0x05, 50, 1, 2, 10, 25, 3, 4, 5, 6, 50, 0x3F, 0x09}));
    ExpectNothingMoreSent();
}

TEST_F(ApplySettings, ControlPointWithoutRemoteSidetoneKeepsTheSidetone) {
    BeNetClient(kNetRoleControlPoint);
    const KeyerSettings block = SampleBlock(0x3F);
    Apply(block);
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
    EXPECT_EQ(PeerReceives(), Wire(PKT_KEYER_SETTINGS, 0,
                                   {0x05, 22, 0xC5, 50, 1, 2, 10, 25, 3, 4, 5, 6, 50, 0x3D, 0x09}));
    ExpectNothingMoreSent();
}

TEST_F(ApplySettings, ControlPointEchoBitsAreSetWhateverTheyWere) {
    BeNetServer(kNetRoleControlPoint);
    KeyerSettings block = SampleBlock(0x00);
    block.mode_register = 0x04;
    Apply(block);
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
    EXPECT_EQ(PeerReceives(), Wire(PKT_KEYER_SETTINGS, 0,
                                   {0x04, 22, 0xC5, 50, 1, 2, 10, 25, 3, 4, 5, 6, 50, 0x00, 0x09}));
    // Both role bits: the ControlPoint bit decides.
    BeNetServer(kNetRoleControlPoint | kNetRoleRemoteSide | kNetRemoteSidetone);
    block.mode_register = 0xFF;
    Apply(block);
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
    EXPECT_EQ(PeerReceives(), Wire(PKT_KEYER_SETTINGS, 0,
                                   {0xBF, 22, 0x05, 50, 1, 2, 10, 25, 3, 4, 5, 6, 50, 0x02, 0x09}));
}

TEST_F(ApplySettings, RemoteSideLoadsItsOwnAndSendsNothing) {
    BeNetClient(kNetRoleRemoteSide | kNetRemoteSidetone);
    const KeyerSettings block = SampleBlock(0x3F);
    Apply(block);
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
    ExpectNothingMoreSent();
}

TEST_F(ApplySettings, ConverseTakesPttAndOutputsOffOnlyWhileLinked) {
    BeNetServer(kNetRoleConverse | kNetRemoteSidetone);
    const KeyerSettings block = SampleBlock(0x3F);
    Apply(block);
    KeyerSettings linked = block;
    linked.pin_config = 0x32;
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(linked)));
    ExpectNothingMoreSent();

    station_.net().SetLinked(false);
    Apply(block);
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
}

TEST_F(ApplySettings, UnlinkedEveryRoleLoadsTheBlockUnchangedAndSendsNothing) {
    station_.net().SetLinked(false);
    const KeyerSettings block = SampleBlock(0x3F);
    for (const uint32_t role : {kNetRoleControlPoint, kNetRoleRemoteSide, kNetRoleConverse}) {
        SCOPED_TRACE(testing::Message() << "role " << role);
        BeNetServer(role | kNetRemoteSidetone);
        Apply(block);
        EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
    }
    station_.net().SetLinked(true);
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocol, ControlPointWithoutAKeyerStillSendsTheOtherSideItsBlock) {
    BeNetServer(kNetRoleControlPoint | kNetRemoteSidetone);
    settings.keyer_settings = SampleBlock(0x3D);
    const SettingsRecord before = settings;
    station_.ApplyKeyerSettings();
    EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0);
    EXPECT_EQ(PeerReceives(), Wire(PKT_KEYER_SETTINGS, 0,
                                   {0x05, 22, 0x05, 50, 1, 2, 10, 25, 3, 4, 5, 6, 50, 0x3F, 0x09}));
    ExpectNothingMoreSent();
}

// Sending.

TEST_F(PacketProtocol, SendPacketPutsTheTwentyBytesOnTheRolesDataSocket) {
    const ByteList payload{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    BeNetServer(kNetRoleControlPoint);
    station_.net().SendPacket(PKT_SPEED, 25, 0, nullptr);
    EXPECT_EQ(PeerReceives(),
              (ByteList{0xA5, 0x25, 0x19, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    BeNetClient(kNetRoleControlPoint);
    station_.net().SendPacket(PKT_KEYER_SETTINGS, 0, 7, payload.data());
    ByteList expected = Wire(PKT_KEYER_SETTINGS, 0, payload);
    expected[3] = 7;
    EXPECT_EQ(PeerReceives(), expected);
    // Not linked is the caller's test, not the sender's.
    station_.net().SetLinked(false);
    station_.net().SendPacket(PKT_CLEAR, 0, 0, nullptr);
    EXPECT_EQ(PeerReceives(), Wire(PKT_CLEAR, 0));
}

TEST_F(PacketProtocol, SendPacketWithNoDataSocketDoesNothing) {
    BeNetServer(kNetRoleControlPoint);
    station_.net().HoldAcceptedSocket(kNoSocket);
    station_.net().SendPacket(PKT_SPEED, 25, 0, nullptr);
    station_.net().HoldAcceptedSocket(connection_);
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocol, PacketsFromThreeThreadsAtOnceArriveWhole) {
    constexpr int kSenders = 3;
    constexpr int kPerSender = 400;
    std::atomic<int> ready{0};
    std::vector<std::thread> senders;
    for (int sender = 1; sender <= kSenders; ++sender) {
        senders.emplace_back([this, sender, &ready] {
            const ByteList payload(kPacketPayloadSize, static_cast<uint8_t>(sender * 0x11));
            ++ready;
            while (ready.load() < kSenders) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kPerSender; ++i) {
                station_.net().SendPacket(PKT_KEYER_SETTINGS, static_cast<uint8_t>(i),
                                          static_cast<uint8_t>(sender), payload.data());
            }
        });
    }
    const ByteList stream = RawReceive(peer_, kSenders * kPerSender * kPacketSize);
    for (std::thread& sender : senders) {
        sender.join();
    }
    ASSERT_EQ(stream.size(), kSenders * kPerSender * kPacketSize);
    std::vector<int> next(kSenders + 1, 0);
    for (std::size_t offset = 0; offset < stream.size(); offset += kPacketSize) {
        const ByteList packet(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                              stream.begin() + static_cast<std::ptrdiff_t>(offset + kPacketSize));
        const int sender = packet[3];
        ASSERT_TRUE(sender >= 1 && sender <= kSenders) << "packet at " << offset;
        ByteList expected = Wire(PKT_KEYER_SETTINGS, static_cast<uint8_t>(next[sender]),
                                 ByteList(kPacketPayloadSize, static_cast<uint8_t>(sender * 0x11)));
        expected[3] = static_cast<uint8_t>(sender);
        ASSERT_EQ(packet, expected) << "packet at " << offset;
        ++next[sender];
    }
    for (int sender = 1; sender <= kSenders; ++sender) {
        EXPECT_EQ(next[sender], kPerSender);
    }
}

}  // namespace
