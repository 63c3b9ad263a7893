// The operator's commands as the Main window hands them over, against a test peer on
// loopback (the other station, reading the exact packets) and, where the local keyer
// matters, the keyer emulator, whose wire shows every command byte. What the station shows
// is read by meaning; main_window_view_test checks the control and the words of each.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "app/spin_bar.h"
#include "net/link_timing.h"
#include "net/packet.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "station/station_timers.h"
#include "tests/host/station_rig.h"

namespace {

using namespace loopback;
using ByteList = std::vector<uint8_t>;
using CallList = std::vector<std::string>;

ByteList Packets(const std::vector<std::pair<uint8_t, uint8_t>>& packets) {
    ByteList bytes;
    for (const auto& [type, value] : packets) {
        const ByteList one = Bytes(BuildPacket(type, value));
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

class CommandsTest : public station_rig::StationRigTest<station_rig::ShownByMeaning> {
  protected:
    CommandsTest() : StationRigTest(station_rig::kMessagesStayStarted) {}

    void SetUp() override {
        StationRigTest::SetUp();
        store.SetDefaults();  // speed 16, speed-pot range 5 to 25
        store.PublishNetFlags(kNetModeServer | kNetRoleControlPoint);
    }

    // Linked as a Net Server in `role`: the first time through the link's start, later by
    // the role alone.
    void Link(uint32_t role) {
        if (!station_.IsLinked()) {
            LinkAsServer(role);
            return;
        }
        store.PublishNetFlags(kNetModeServer | role);
    }

    // The other station's keyer reports hold, or no longer does.
    void OtherKeyerHolds(bool holds) {
        station_.processIPpacket(BuildPacket(PKT_STATUS, holds ? keyer_wire::kStatusHold : 0));
    }

    // A speed that the keyer's wire shows next, as the other station's speed packet puts it
    // there: nothing the case did went to the keyer before it.
    void ExpectKeyerWireQuietBefore(uint8_t probe) {
        station_.processIPpacket(BuildPacket(PKT_SPEED, probe));
        EXPECT_EQ(KeyerWire(2), (ByteList{0x02, probe}));
    }

    ByteList PeerReceives(std::size_t packets) {
        return RawReceive(peer_, packets * kPacketSize, 4096, 2000);
    }
    // Nothing reached the other station: with no link there is nothing to send on.
    void ExpectPeerQuiet() {
        if (peer_ < 0) {
            EXPECT_FALSE(station_.IsLinked());
            EXPECT_EQ(station_.LinkPort(), 0);
            return;
        }
        EXPECT_EQ(RawReceive(peer_, 1, 4096, 200), ByteList{}) << "the peer got a packet";
    }

    std::string Typed() { return view_.Typed(); }
    int Refusals() { return view_.Count("RefuseTypedCharacter"); }
    bool TypingFocused() { return !view_.Calls().empty() && view_.Calls().back() == "FocusTyping"; }
};

TEST_F(CommandsTest, TypingUnlinkedGoesToTheKeyerInUpperCaseAndToTheLogPane) {
    AttachKeyer(station_rig::FastKeyer());
    station_.TypeCharacter('a');
    EXPECT_EQ(KeyerWire(1), ByteList{'A'});
    EXPECT_EQ(Typed(), "A");

    station_.TypeCharacter(8);
    EXPECT_EQ(KeyerWire(1), ByteList{0x08});
    EXPECT_EQ(Typed(), "");
    station_.TypeCharacter(8);  // an empty pane: the keyer still takes the backspace
    EXPECT_EQ(KeyerWire(1), ByteList{0x08});
    EXPECT_EQ(Typed(), "");

    // Enter, Tab and Ctrl+Y: none reaches the keyer, where 19 and the next letter would key
    // the transmitter.
    for (unsigned int code : {13u, 9u, 0x19u}) {
        station_.TypeCharacter(code);
    }
    station_.TypeCharacter(0x100 + 'q');  // only the low byte counts
    EXPECT_EQ(KeyerWire(1), ByteList{'Q'});
    EXPECT_EQ(Typed(), "Q");
    ExpectPeerQuiet();
    EXPECT_EQ(Refusals(), 0) << "what typing drops on purpose is not refused";
}

TEST_F(CommandsTest, BusyDropsTheCharacterWithoutATrace) {
    MessageGoingOut(3);
    std::size_t calls = view_.CallCount();
    station_.TypeCharacter('e');  // no keyer and no link: busy
    EXPECT_EQ(view_.CallsFrom(calls), CallList{"RefuseTypedCharacter"})
        << "the operator hears the refusal, and nothing shows";
    Link(kNetRoleControlPoint);
    OtherKeyerHolds(true);
    calls = view_.CallCount();
    station_.TypeCharacter('e');
    EXPECT_EQ(view_.CallsFrom(calls), CallList{"RefuseTypedCharacter"});
    EXPECT_EQ(SendingMessage(), 3);
    ExpectPeerQuiet();
}

TEST_F(CommandsTest, LinkedOnlyAControlPointTypesAndItsKeyerSendsToo) {
    AttachKeyer(station_rig::FastKeyer());
    for (uint32_t role : {kNetRoleConverse, kNetRoleRemoteSide}) {
        Link(role);
        station_.TypeCharacter('x');
        station_.TypeCharacter(8);
        station_.TypeText("x");
    }
    EXPECT_EQ(Typed(), "");
    ExpectPeerQuiet();
    EXPECT_EQ(Refusals(), 6);

    Link(kNetRoleControlPoint);
    MessageGoingOut(2);
    station_.TypeCharacter('t');
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_TEXT_CHAR, 'T'}}));
    EXPECT_EQ(KeyerWire(1), ByteList{'T'});
    EXPECT_EQ(Typed(), "T");
    EXPECT_EQ(SendingMessage(), 0) << "typing stops a stored message";

    station_.TypeCharacter(8);  // linked, the backspace goes over the link only
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_BACKSPACE, 0}}));
    EXPECT_EQ(Typed(), "");
    ExpectKeyerWireQuietBefore(41);
}

TEST_F(CommandsTest, PastedTextIsTypedInUpperCaseWithEachLineBreakASpace) {
    AttachKeyer(station_rig::FastKeyer());
    station_.TypeText("cq\r\ndE\tk\n\n1\r");
    for (int tick = 0; tick < 4; ++tick) {
        station_.OnLinkWatchTick();
    }
    EXPECT_EQ(KeyerWire(10), (ByteList{'C', 'Q', ' ', 'D', 'E', 'K', ' ', ' ', '1', ' '}));
    EXPECT_EQ(Typed(), "CQ DEK  1 ");
    EXPECT_EQ(station_.LinkTimerPeriod(), kLinkWatchPeriod);
    EXPECT_EQ(Refusals(), 0);
}

// Linked, pasted text waits while the other station is busy; what is typed meanwhile joins
// its end, and Clear drops all that waits.
TEST_F(CommandsTest, PastedTextWaitsWhileBusyAndTypingGoesAfterIt) {
    Link(kNetRoleControlPoint);
    OtherKeyerHolds(true);
    station_.TypeText("ab");
    station_.TypeCharacter('c');
    station_.TypeCharacter('d');
    station_.TypeCharacter(8);  // takes back the d, which has not gone yet
    station_.OnLinkWatchTick();
    ExpectPeerQuiet();
    EXPECT_EQ(station_.LinkTimerPeriod(), kLinkFeedPeriod);

    OtherKeyerHolds(false);
    station_.OnLinkWatchTick();
    EXPECT_EQ(PeerReceives(3),
              Packets({{PKT_TEXT_CHAR, 'A'}, {PKT_TEXT_CHAR, 'B'}, {PKT_TEXT_CHAR, 'C'}}));
    EXPECT_EQ(Typed(), "ABC");

    OtherKeyerHolds(true);
    station_.TypeText(std::string(5000, 'e'));
    EXPECT_EQ(Refusals(), 1) << "what does not fit is refused";
    station_.Clear();
    EXPECT_EQ(PeerReceives(3), Packets({{PKT_CLEAR, 0}, {PKT_PAUSE, 0}, {PKT_TUNE, 0}}));
    OtherKeyerHolds(false);
    station_.OnLinkWatchTick();
    ExpectPeerQuiet();
    EXPECT_EQ(station_.LinkTimerPeriod(), kLinkWatchPeriod);
}

TEST_F(CommandsTest, WpmFieldTakesTheSpeedRangeInclusiveAndRestoresAnythingElse) {
    AttachKeyer(station_rig::FastKeyer());
    Link(kNetRoleControlPoint);
    for (const char* accepted : {"5", "25"}) {
        const std::size_t calls = view_.CallCount();
        station_.EnterSpeed(accepted);
        const uint8_t wpm = static_cast<uint8_t>(std::stoi(accepted));
        EXPECT_EQ(settings.keyer_settings.wpm, wpm);
        EXPECT_EQ(PeerReceives(1), Packets({{PKT_SPEED, wpm}}));
        EXPECT_EQ(KeyerWire(2), (ByteList{0x02, wpm}));
        EXPECT_EQ(view_.CallsFrom(calls), CallList{"FocusTyping"});
    }
    for (const char* refused : {"4", "26", "", "2x", "0000000000025"}) {
        const std::size_t calls = view_.CallCount();
        station_.EnterSpeed(refused);
        EXPECT_EQ(view_.CallsFrom(calls), CallList{"ShowSpeed 25"}) << refused;
        EXPECT_EQ(settings.keyer_settings.wpm, 25);
    }
    ExpectPeerQuiet();
    ExpectKeyerWireQuietBefore(42);
}

TEST_F(CommandsTest, SpinBarSendsTheSpeedForEveryCodeAndStopsAtTheLimits) {
    Link(kNetRoleRemoteSide);  // the speed is not bound by the role
    settings.keyer_settings.wpm = 24;
    const int kLineUp = 0, kLineDown = 1, kEndScroll = 8;
    for (int code : {kLineUp, kEndScroll, kLineUp, kEndScroll}) {
        station_.StepSpeed(SpeedStepOfScrollCode(code));
    }
    EXPECT_EQ(PeerReceives(4),
              Packets({{PKT_SPEED, 25}, {PKT_SPEED, 25}, {PKT_SPEED, 25}, {PKT_SPEED, 25}}));
    EXPECT_EQ(view_.Latest("ShowSpeed"), "25");
    EXPECT_TRUE(TypingFocused());

    settings.keyer_settings.wpm = 5;
    station_.StepSpeed(SpeedStepOfScrollCode(kLineDown));
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_SPEED, 5}}));
    EXPECT_EQ(view_.Latest("ShowSpeed"), "5");

    station_.LockSpeedToPot(true);  // the speed pot sets the speed: the spin bar does nothing
    const uint8_t locked = settings.keyer_settings.wpm;
    station_.StepSpeed(SpeedStepOfScrollCode(kLineUp));
    ExpectPeerQuiet();
    EXPECT_EQ(settings.keyer_settings.wpm, locked);
}

TEST_F(CommandsTest, ClearLinkedSendsClearPauseTuneAndClearsTheLocalKeyer) {
    AttachKeyer(station_rig::FastKeyer());
    Link(kNetRoleControlPoint);
    view_.AppendTypedText("CQ CQ");
    view_.InsertEcho('C');
    view_.InsertEcho('Q');
    station_.TogglePause();
    station_.ToggleTune();
    EXPECT_EQ(PeerReceives(2), Packets({{PKT_PAUSE, 1}, {PKT_TUNE, 1}}));
    MessageGoingOut(4);
    station_.Clear();
    EXPECT_EQ(PeerReceives(3), Packets({{PKT_CLEAR, 0}, {PKT_PAUSE, 0}, {PKT_TUNE, 0}}));
    EXPECT_EQ(KeyerWire(1), ByteList{0x0A}) << "pause and key-down went to the link only";
    EXPECT_EQ(Typed(), "");
    EXPECT_EQ(view_.Echoes(), "CQ");
    EXPECT_EQ(view_.Latest("ShowPause"), "false");
    EXPECT_EQ(view_.Latest("ShowTune"), "false");
    EXPECT_FALSE(station_.IsPauseOn());
    EXPECT_FALSE(station_.IsTuneOn());
    EXPECT_EQ(SendingMessage(), 0);
    EXPECT_TRUE(TypingFocused());
}

TEST_F(CommandsTest, TuneKeysTheLocalKeyerAndIsRefusedLinkedUnlessControlPoint) {
    AttachKeyer(station_rig::FastKeyer());
    station_.ToggleTune();
    EXPECT_EQ(view_.Latest("ShowTune"), "true");
    EXPECT_EQ(KeyerWire(2), (ByteList{0x0B, 0x01}));
    station_.ToggleTune();
    EXPECT_EQ(view_.Latest("ShowTune"), "false");
    EXPECT_EQ(KeyerWire(2), (ByteList{0x0B, 0x00}));

    for (uint32_t role : {kNetRoleConverse, kNetRoleRemoteSide}) {
        Link(role);
        const std::size_t calls = view_.CallCount();
        station_.ToggleTune();
        EXPECT_EQ(view_.CallCount(), calls) << "not even the caption or the focus";
        EXPECT_FALSE(station_.IsTuneOn());
    }
    ExpectPeerQuiet();

    Link(kNetRoleControlPoint);
    station_.ToggleTune();
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_TUNE, 1}}));
    ExpectKeyerWireQuietBefore(43);  // linked, the local key stays up
}

TEST_F(CommandsTest, PauseGoesWhereTheRoleSays) {
    AttachKeyer(station_rig::FastKeyer());
    station_.TogglePause();
    EXPECT_EQ(view_.Latest("ShowPause"), "true");
    EXPECT_EQ(KeyerWire(2), (ByteList{0x06, 0x01}));

    Link(kNetRoleRemoteSide);
    station_.TogglePause();
    EXPECT_EQ(view_.Latest("ShowPause"), "false");
    station_.TogglePause();
    EXPECT_EQ(view_.Latest("ShowPause"), "true");
    EXPECT_TRUE(station_.IsPauseOn());
    ExpectPeerQuiet();

    Link(kNetRoleConverse);
    station_.TogglePause();
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_PAUSE, 0}}));
    ExpectKeyerWireQuietBefore(44);  // linked, the local keyer is not paused
    EXPECT_TRUE(TypingFocused());
}

// The window's two timers: the heartbeat's tick sends one, and the link timer is set again
// only when the period the station asks for changes, quick while pasted text waits.
TEST_F(CommandsTest, TheLinkTimerFollowsThePeriodTheStationAsksFor) {
    using Timer = StationTimers::Timer;
    std::vector<std::pair<Timer, std::chrono::milliseconds>> set;
    StationTimers timers(station_, [&set](Timer timer, std::chrono::milliseconds period) {
        set.emplace_back(timer, period);
    });
    timers.Start();
    const decltype(set) started = {{Timer::kHeartbeat, kHeartbeatPeriod},
                                   {Timer::kLink, kLinkWatchPeriod}};
    EXPECT_EQ(set, started);
    Link(kNetRoleControlPoint);
    timers.OnTick(Timer::kHeartbeat);
    const ByteList heartbeat = PeerReceives(1);
    ASSERT_EQ(heartbeat.size(), kPacketSize);
    EXPECT_EQ(PacketType(*reinterpret_cast<const Packet*>(heartbeat.data())), PKT_HEARTBEAT);

    OtherKeyerHolds(true);
    station_.TypeText("ab");
    timers.FollowLinkPeriod();
    ASSERT_EQ(set.size(), 3u);
    EXPECT_EQ(set.back(), std::make_pair(Timer::kLink, kLinkFeedPeriod));
    timers.OnTick(Timer::kLink);
    EXPECT_EQ(set.size(), 3u) << "the same period: the timer runs on";
    OtherKeyerHolds(false);
    timers.OnTick(Timer::kLink);
    EXPECT_EQ(PeerReceives(2), Packets({{PKT_TEXT_CHAR, 'A'}, {PKT_TEXT_CHAR, 'B'}}));
    ASSERT_EQ(set.size(), 4u);
    EXPECT_EQ(set.back(), std::make_pair(Timer::kLink, kLinkWatchPeriod));
}

}  // namespace
