// The packet protocol as one station runs it: the test is the other station, a plain
// socket on loopback that reads the exact bytes sent, and, where the local keyer matters,
// the keyer too, through the emulator on a pty whose wire shows every command byte.
#include <sys/ioctl.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "keyer/keyer_link.h"
#include "station/station.h"
#include "tests/host/station_rig.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"

namespace {

using namespace loopback;
using namespace std::chrono_literals;
using ByteList = std::vector<uint8_t>;

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

class PacketProtocol : public station_rig::StationRigTest<station_rig::ShownInMainWindow> {
  protected:
    PacketProtocol() : StationRigTest(station_rig::kMessagesStayStarted) {}

    void SetUp() override {
        StationRigTest::SetUp();
        std::memset(&settings, 0, sizeof settings);
        LinkAsServer(kNetRoleControlPoint);
    }

    // Linked as a Net Server or a Net Client in `role_and_flags`: a link of the other kind
    // is closed and made afresh; unlinked, only the record's flags change.
    void BeNetServer(uint32_t role_and_flags) {
        if (station_.IsLinked() && store.NetMode() != kNetModeServer) {
            Unlink();
            LinkAsServer(role_and_flags);
            return;
        }
        store.PublishNetFlags(kNetModeServer | role_and_flags);
    }
    void BeNetClient(uint32_t role_and_flags) {
        if (station_.IsLinked() && store.NetMode() != kNetModeClient) {
            Unlink();
            LinkAsClient(role_and_flags);
            return;
        }
        store.PublishNetFlags(kNetModeClient | role_and_flags);
    }

    // The other station's keyer reports hold, or no longer does.
    void OtherKeyerHolds(bool holds) {
        station_.processIPpacket(Received(PKT_STATUS, holds ? keyer_wire::kStatusHold : 0));
    }

    ByteList PeerReceives() { return RawReceive(peer_, kPacketSize); }

    // The socket events the window gets, until `count` bytes wait for the peer to read.
    void PumpUntilPeerHas(int count) {
        ASSERT_TRUE(PumpUntil([this, count] {
            int unread = 0;
            return ioctl(peer_, FIONREAD, &unread) == 0 && unread >= count;
        }));
    }

    void ExpectNothingMoreSent() {
        station_.processIPpacket(Received(PKT_HEARTBEAT, kProbeBeat));
        EXPECT_EQ(PeerReceives(), Wire(PKT_HEARTBEAT_REPLY, kProbeBeat))
            << "the stream carried something before the probe's answer";
    }
};

// The same station with its keyer attached in host mode before the link starts.
class PacketProtocolWithKeyer : public PacketProtocol {
  protected:
    void SetUp() override {
        StationRigTest::SetUp();
        std::memset(&settings, 0, sizeof settings);
        AttachKeyer(station_rig::FastKeyer());
        ASSERT_EQ(station_.KeyerVersion(), 23);
        // The keyer volunteers nothing (the pot's answer to a load, echoes), which the station
        // would pass on: the peer sees only what the packets make. What a case injects still
        // comes.
        ASSERT_EQ(Sim().Command("silent on"), "ok");
        LinkAsServer(kNetRoleControlPoint);
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
    EXPECT_TRUE(Calls().empty()) << "keyer packets show nothing";
    EXPECT_EQ(station_.BadPacketCount(), 0);
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
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(station_.BadPacketCount(), 0);
    EXPECT_FALSE(station_.IsRemoteKeyerHolding());
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocolWithKeyer, TextFromThePeerReachesTheKeyerThroughTheSocket) {
    BeNetServer(kNetRoleRemoteSide);
    ByteList stream = Wire(PKT_TEXT_CHAR, 'C');
    const ByteList text = Wire(PKT_TEXT_CHAR, 'Q');
    stream.insert(stream.end(), text.begin(), text.end());
    const std::size_t before = Sim().Received().size();
    RawSendAll(peer_, stream);
    ASSERT_TRUE(PumpUntil([&] { return Sim().Received().size() >= before + 2; }));
    EXPECT_EQ(KeyerWire(2), (ByteList{'C', 'Q'}));
    RawSendAll(peer_, Wire(PKT_SPEED, 28));
    ASSERT_TRUE(PumpUntil([&] { return Sim().Received().size() >= before + 4; }));
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 28}));
}

// Receiving: the version exchange.

// Never attached, its keyer's version is 0; the answer says there is no keyer.
TEST_F(PacketProtocol, NetServerWithoutAKeyerReportsVersion255) {
    station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    EXPECT_EQ(PeerReceives(), Wire(PKT_VERSION_REPLY, 0xFF));
    EXPECT_TRUE(Calls().empty());
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocolWithKeyer, NetServerReportsItsKeyersVersionWhileTheKeyerIsOpen) {
    BeNetServer(kNetRoleRemoteSide);
    station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    EXPECT_EQ(PeerReceives(), Wire(PKT_VERSION_REPLY, 23));
    EXPECT_TRUE(Calls().empty());
    ExpectKeyerWireQuiet();
    // The version stays with the connection sequence's view of the keyer, not the keyer
    // link's, which still knows the version of the keyer it had: closed, the keyer is gone.
    station_.OpenOrClose();
    LinkAsServer(kNetRoleRemoteSide);
    station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    EXPECT_EQ(PeerReceives(), Wire(PKT_VERSION_REPLY, 0xFF));
    EXPECT_TRUE(Calls().empty());
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocol, RequestAndHeartbeatFromThePeerAreAnsweredOnTheStream) {
    BeNetServer(kNetRoleRemoteSide);
    ByteList stream = Wire(PKT_VERSION_REQUEST, 0);
    const ByteList beat = Wire(PKT_HEARTBEAT, 7);
    stream.insert(stream.end(), beat.begin(), beat.end());
    RawSendAll(peer_, stream);
    PumpUntilPeerHas(2 * kPacketSize);
    ByteList expected = Wire(PKT_VERSION_REPLY, 0xFF);
    const ByteList reply = Wire(PKT_HEARTBEAT_REPLY, 7);
    expected.insert(expected.end(), reply.begin(), reply.end());
    EXPECT_EQ(RawReceive(peer_, 2 * kPacketSize), expected);
}

TEST_F(PacketProtocolWithKeyer, NetClientAskedForItsVersionLogsTheMismatchAndAnswersNothing) {
    BeNetClient(kNetRoleRemoteSide);
    for (int i = 0; i < 3; ++i) {
        station_.processIPpacket(Received(PKT_VERSION_REQUEST, 0));
    }
    const auto calls = Calls();
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
    for (int i = 0; i < 1000; ++i) {
        station_.processIPpacket(Received(PKT_VERSION_REPLY, 0));
    }
    EXPECT_EQ(Calls().size(), 3u) << "a version that did not change is not shown again";
    for (const auto& call : Calls()) {
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
    const auto calls = Calls();
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
        OtherKeyerHolds(row.busy == 0);
        MessageGoingOut(1);
        window_.SetControlText(IDC_BUSY_STATUS, "x");
        window_.SetControlText(IDC_WAIT_STATUS, "x");
        const std::size_t calls_before = Calls().size();
        station_.processIPpacket(Received(PKT_STATUS, row.value));
        EXPECT_EQ(station_.IsRemoteKeyerHolding(), row.busy == 1);
        EXPECT_EQ(SendingMessage(), row.still_sending);
        EXPECT_EQ(window_.Text(IDC_BUSY_STATUS), row.busy_text);
        EXPECT_EQ(window_.Text(IDC_WAIT_STATUS), row.wait_text);
        EXPECT_EQ(Calls().size(), calls_before + 2) << "only the two fields change";
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
        for (const auto& call : Calls()) {
            EXPECT_EQ(call.id, IDC_HEARTBEAT);
        }
    }
    ExpectNothingMoreSent();
}

// What a receiver drops.

TEST_F(PacketProtocol, PacketWithoutTheMarkerIsCountedAndChangesNothingElse) {
    BeNetServer(kNetRoleControlPoint);
    OtherKeyerHolds(true);
    MessageGoingOut(1);
    ForgetWhatWasShown();
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
            EXPECT_EQ(station_.BadPacketCount(), expected)
                << "marker " << int{marker} << " type " << int{type};
        }
    }
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(station_.IsRemoteKeyerHolding());
    EXPECT_EQ(SendingMessage(), 1);
    ExpectNothingMoreSent();
    EXPECT_EQ(station_.BadPacketCount(), expected) << "a good packet is not counted";
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
    EXPECT_EQ(station_.BadPacketCount(), 6);
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
    OtherKeyerHolds(true);
    MessageGoingOut(1);
    ForgetWhatWasShown();
    for (const uint8_t type : UnusedTypes()) {
        station_.processIPpacket(Received(type, 0x02));
        station_.processIPpacket(Received(Wire(type, 0x00, ByteList(15, 0x02))));
    }
    EXPECT_EQ(station_.BadPacketCount(), 0);
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(station_.IsRemoteKeyerHolding());
    EXPECT_EQ(SendingMessage(), 1);
    ExpectNothingMoreSent();
}

TEST_F(PacketProtocolWithKeyer, UnusedTypesNeverReachTheKeyer) {
    for (const uint8_t type : UnusedTypes()) {
        station_.processIPpacket(Received(type, 0x41));
    }
    EXPECT_EQ(station_.BadPacketCount(), 0);
    ExpectKeyerWireQuiet();
    EXPECT_TRUE(Calls().empty());
}

// The busy test that paces typing and stored messages.

TEST_F(PacketProtocol, LinkedTheBusyTestFollowsTheRemoteKeyer) {
    station_.processIPpacket(Received(PKT_STATUS, 0x01));
    EXPECT_TRUE(station_.IsLinkBusy());
    station_.processIPpacket(Received(PKT_STATUS, 0x00));
    EXPECT_FALSE(station_.IsLinkBusy()) << "linked, a station without a keyer is not busy";
}

TEST_F(PacketProtocol, UnlinkedWithoutAKeyerTheStationCountsAsBusy) {
    Unlink();
    OtherKeyerHolds(false);
    EXPECT_TRUE(station_.IsLinkBusy());
    OtherKeyerHolds(true);
    EXPECT_TRUE(station_.IsLinkBusy()) << "the remote keyer's bit does not count without the link";
}

TEST_F(PacketProtocolWithKeyer, UnlinkedTheBusyTestFollowsTheLocalQueue) {
    Unlink();
    OtherKeyerHolds(true);
    EXPECT_FALSE(station_.IsLinkBusy());
    // Nothing drains while the queue fills past its mark.
    keyer_writer_held_ = true;
    for (int i = 0; i < 43; ++i) {
        station_.TypeCharacter('E');
    }
    EXPECT_EQ(window_.beeps.load(), 0) << "every E was queued";
    EXPECT_EQ(station_.QueuedForKeyer(), 43);
    EXPECT_TRUE(station_.IsLinkBusy());
    LinkAsServer(kNetRoleControlPoint);
    OtherKeyerHolds(false);
    EXPECT_FALSE(station_.IsLinkBusy()) << "linked, only the remote keyer counts";
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

    Unlink();
    Apply(block);
    EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
}

TEST_F(ApplySettings, UnlinkedEveryRoleLoadsTheBlockUnchangedAndSendsNothing) {
    Unlink();
    const KeyerSettings block = SampleBlock(0x3F);
    for (const uint32_t role : {kNetRoleControlPoint, kNetRoleRemoteSide, kNetRoleConverse}) {
        SCOPED_TRACE(testing::Message() << "role " << role);
        BeNetServer(role | kNetRemoteSidetone);
        Apply(block);
        EXPECT_EQ(KeyerWire(18), LoadCommand(BlockBytes(block)));
    }
    EXPECT_EQ(RawReceive(peer_, 1, 4096, 200), ByteList{}) << "the peer saw only the close";
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

}  // namespace
