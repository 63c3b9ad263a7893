// The operator's commands as the Main window hands them over, against a test peer on
// loopback (the other station, reading the exact packets) and, where the local keyer
// matters, the keyer emulator, whose wire shows every command byte.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "app/resource_ids.h"
#include "app/spin_bar.h"
#include "keyer/keyer_link.h"
#include "net/link_timing.h"
#include "net/packet.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "station/station_timers.h"
#include "tests/host/station_rig.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"

namespace {

using namespace loopback;
using ByteList = std::vector<uint8_t>;

ByteList Packets(const std::vector<std::pair<uint8_t, uint8_t>>& packets) {
    ByteList bytes;
    for (const auto& [type, value] : packets) {
        const ByteList one = Bytes(BuildPacket(type, value));
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

class CommandsTest : public station_rig::StationRigTest {
  protected:
    CommandsTest() : StationRigTest(station_rig::kMessagesStayStarted) {}

    void SetUp() override {
        LoopbackTest::SetUp();
        ConnectPeer();
        store.SetDefaults();  // speed 16, speed-pot range 5 to 25
        settings.net_flags = kNetModeServer | kNetRoleControlPoint;
        ServeThePeer();
        station_.state().remote_busy = 0;
        station_.state().local_keyer_open = 0;
        station_.state().pause_on = 0;
        station_.state().tune_on = 0;
        station_.state().pot_speed_active = 0;
        window_.SetControlText(IDC_WPM, "16");
    }

    void Link(uint32_t role) {
        settings.net_flags = kNetModeServer | role;
        station_.net().SetLinked(true);
    }

    void AttachKeyer() {
        keyer_.Attach(station_rig::FastKeyer(), station_.keyer());
        station_.state().local_keyer_open = 1;
    }

    ByteList PeerReceives(std::size_t packets) {
        return RawReceive(peer_, packets * kPacketSize, 4096, 2000);
    }
    void ExpectPeerQuiet() {
        EXPECT_EQ(RawReceive(peer_, 1, 4096, 200), ByteList{}) << "the peer got a packet";
    }

    std::string Log() { return window_.Text(IDC_LOG_PANE); }
};

TEST_F(CommandsTest, TypingUnlinkedGoesToTheKeyerInUpperCaseAndToTheLogPane) {
    AttachKeyer();
    station_.TypeCharacter('a');
    EXPECT_EQ(KeyerWire(1), ByteList{'A'});
    EXPECT_EQ(Log(), "A");

    station_.TypeCharacter(8);
    EXPECT_EQ(KeyerWire(1), ByteList{0x08});
    EXPECT_EQ(Log(), "");
    station_.TypeCharacter(8);  // an empty pane: the keyer still takes the backspace
    EXPECT_EQ(KeyerWire(1), ByteList{0x08});
    EXPECT_EQ(Log(), "");

    // Enter, Tab and Ctrl+Y: none reaches the keyer, where 19 and the next letter would key
    // the transmitter.
    for (unsigned int code : {13u, 9u, 0x19u}) {
        station_.TypeCharacter(code);
    }
    station_.TypeCharacter(0x100 + 'q');  // only the low byte counts
    EXPECT_EQ(KeyerWire(1), ByteList{'Q'});
    EXPECT_EQ(Log(), "Q");
    ExpectPeerQuiet();
    EXPECT_EQ(window_.beeps.load(), 0) << "what typing drops on purpose is not refused";
}

TEST_F(CommandsTest, BusyDropsTheCharacterWithoutATrace) {
    MessageGoingOut(3);
    const std::size_t calls = window_.Calls().size();
    station_.TypeCharacter('e');  // no keyer and no link: busy
    Link(kNetRoleControlPoint);
    station_.state().remote_busy = 1;
    station_.TypeCharacter('e');
    EXPECT_EQ(window_.Calls().size(), calls);
    EXPECT_EQ(window_.beeps.load(), 2) << "the operator hears each refusal";
    EXPECT_EQ(SendingMessage(), 3);
    ExpectPeerQuiet();
}

TEST_F(CommandsTest, LinkedOnlyAControlPointTypesAndItsKeyerSendsToo) {
    AttachKeyer();
    for (uint32_t role : {kNetRoleConverse, kNetRoleRemoteSide}) {
        Link(role);
        station_.TypeCharacter('x');
        station_.TypeCharacter(8);
        station_.TypeText("x");
    }
    EXPECT_EQ(Log(), "");
    ExpectPeerQuiet();
    EXPECT_EQ(window_.beeps.load(), 6);

    Link(kNetRoleControlPoint);
    MessageGoingOut(2);
    station_.TypeCharacter('t');
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_TEXT_CHAR, 'T'}}));
    EXPECT_EQ(KeyerWire(1), ByteList{'T'});
    EXPECT_EQ(Log(), "T");
    EXPECT_EQ(SendingMessage(), 0) << "typing stops a stored message";

    station_.TypeCharacter(8);  // linked, the backspace goes over the link only
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_BACKSPACE, 0}}));
    EXPECT_EQ(Log(), "");
    station_.keyer().SetSpeed(41);
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 41}));
}

TEST_F(CommandsTest, PastedTextIsTypedInUpperCaseWithEachLineBreakASpace) {
    AttachKeyer();
    station_.TypeText("cq\r\ndE\tk\n\n1\r");
    for (int tick = 0; tick < 4; ++tick) {
        station_.OnLinkWatchTick();
    }
    EXPECT_EQ(KeyerWire(10), (ByteList{'C', 'Q', ' ', 'D', 'E', 'K', ' ', ' ', '1', ' '}));
    EXPECT_EQ(Log(), "CQ DEK  1 ");
    EXPECT_EQ(station_.LinkTimerPeriod(), kLinkWatchPeriod);
    EXPECT_EQ(window_.beeps.load(), 0);
}

// Linked, pasted text waits while the other station is busy; what is typed meanwhile joins
// its end, and Clear drops all that waits.
TEST_F(CommandsTest, PastedTextWaitsWhileBusyAndTypingGoesAfterIt) {
    Link(kNetRoleControlPoint);
    station_.net().BeginLink();
    station_.state().remote_busy = 1;
    station_.TypeText("ab");
    station_.TypeCharacter('c');
    station_.TypeCharacter('d');
    station_.TypeCharacter(8);  // takes back the d, which has not gone yet
    station_.OnLinkWatchTick();
    ExpectPeerQuiet();
    EXPECT_EQ(station_.LinkTimerPeriod(), kLinkFeedPeriod);

    station_.state().remote_busy = 0;
    station_.OnLinkWatchTick();
    EXPECT_EQ(PeerReceives(3),
              Packets({{PKT_TEXT_CHAR, 'A'}, {PKT_TEXT_CHAR, 'B'}, {PKT_TEXT_CHAR, 'C'}}));
    EXPECT_EQ(Log(), "ABC");

    station_.state().remote_busy = 1;
    station_.TypeText(std::string(5000, 'e'));
    EXPECT_EQ(window_.beeps.load(), 1) << "what does not fit is refused";
    station_.Clear();
    EXPECT_EQ(PeerReceives(3), Packets({{PKT_CLEAR, 0}, {PKT_PAUSE, 0}, {PKT_TUNE, 0}}));
    station_.state().remote_busy = 0;
    station_.OnLinkWatchTick();
    ExpectPeerQuiet();
    EXPECT_EQ(station_.LinkTimerPeriod(), kLinkWatchPeriod);
}

TEST_F(CommandsTest, WpmFieldTakesTheSpeedRangeInclusiveAndRestoresAnythingElse) {
    AttachKeyer();
    Link(kNetRoleControlPoint);
    for (const char* accepted : {"5", "25"}) {
        window_.SetControlText(IDC_WPM, accepted);
        window_.FocusControl(IDC_WPM);
        station_.EnterSpeed(window_.Text(IDC_WPM));
        const uint8_t wpm = static_cast<uint8_t>(std::stoi(accepted));
        EXPECT_EQ(settings.keyer_settings.wpm, wpm);
        EXPECT_EQ(PeerReceives(1), Packets({{PKT_SPEED, wpm}}));
        EXPECT_EQ(KeyerWire(2), (ByteList{0x02, wpm}));
        EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
    }
    for (const char* refused : {"4", "26", "", "2x", "0000000000025"}) {
        window_.SetControlText(IDC_WPM, refused);
        station_.EnterSpeed(window_.Text(IDC_WPM));
        EXPECT_EQ(window_.Text(IDC_WPM), "25") << refused;
        EXPECT_EQ(settings.keyer_settings.wpm, 25);
    }
    ExpectPeerQuiet();
    station_.keyer().SetSpeed(42);
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 42}));
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
    EXPECT_EQ(window_.Text(IDC_WPM), "25");
    EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);

    settings.keyer_settings.wpm = 5;
    station_.StepSpeed(SpeedStepOfScrollCode(kLineDown));
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_SPEED, 5}}));
    EXPECT_EQ(window_.Text(IDC_WPM), "5");

    station_.state().pot_speed_active =
        1;  // the speed pot sets the speed: the spin bar does nothing
    station_.StepSpeed(SpeedStepOfScrollCode(kLineUp));
    ExpectPeerQuiet();
    EXPECT_EQ(settings.keyer_settings.wpm, 5);
}

TEST_F(CommandsTest, ClearLinkedSendsClearPauseTuneAndClearsTheLocalKeyer) {
    AttachKeyer();
    Link(kNetRoleControlPoint);
    window_.SetControlText(IDC_LOG_PANE, "CQ CQ");
    window_.SetControlText(IDC_ECHO_LINE, "CQ");
    window_.SetControlText(IDC_PAUSE, "Go");
    window_.SetControlText(IDC_TUNE, "Off");
    station_.state().pause_on = 1;
    station_.state().tune_on = 1;
    MessageGoingOut(4);
    station_.Clear();
    EXPECT_EQ(PeerReceives(3), Packets({{PKT_CLEAR, 0}, {PKT_PAUSE, 0}, {PKT_TUNE, 0}}));
    EXPECT_EQ(KeyerWire(1), ByteList{0x0A}) << "pause and key-down went to the link only";
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(window_.Text(IDC_ECHO_LINE), "CQ");
    EXPECT_EQ(window_.Text(IDC_PAUSE), "Pause");
    EXPECT_EQ(window_.Text(IDC_TUNE), "Tune");
    EXPECT_EQ(station_.state().pause_on.load(), 0);
    EXPECT_EQ(station_.state().tune_on.load(), 0);
    EXPECT_EQ(SendingMessage(), 0);
    EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
}

TEST_F(CommandsTest, TuneKeysTheLocalKeyerAndIsRefusedLinkedUnlessControlPoint) {
    AttachKeyer();
    station_.ToggleTune();
    EXPECT_EQ(window_.Text(IDC_TUNE), "Off");
    EXPECT_EQ(KeyerWire(2), (ByteList{0x0B, 0x01}));
    station_.ToggleTune();
    EXPECT_EQ(window_.Text(IDC_TUNE), "Tune");
    EXPECT_EQ(KeyerWire(2), (ByteList{0x0B, 0x00}));

    for (uint32_t role : {kNetRoleConverse, kNetRoleRemoteSide}) {
        Link(role);
        const std::size_t calls = window_.Calls().size();
        station_.ToggleTune();
        EXPECT_EQ(window_.Calls().size(), calls) << "not even the caption or the focus";
        EXPECT_EQ(station_.state().tune_on.load(), 0);
    }
    ExpectPeerQuiet();

    Link(kNetRoleControlPoint);
    station_.ToggleTune();
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_TUNE, 1}}));
    station_.keyer().SetSpeed(43);
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 43})) << "linked, the local key stays up";
}

TEST_F(CommandsTest, PauseGoesWhereTheRoleSays) {
    AttachKeyer();
    station_.TogglePause();
    EXPECT_EQ(window_.Text(IDC_PAUSE), "Go");
    EXPECT_EQ(KeyerWire(2), (ByteList{0x06, 0x01}));

    Link(kNetRoleRemoteSide);
    station_.TogglePause();
    EXPECT_EQ(window_.Text(IDC_PAUSE), "Pause");
    station_.TogglePause();
    EXPECT_EQ(window_.Text(IDC_PAUSE), "Go");
    EXPECT_EQ(station_.state().pause_on.load(), 1);
    ExpectPeerQuiet();

    Link(kNetRoleConverse);
    station_.TogglePause();
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_PAUSE, 0}}));
    station_.keyer().SetSpeed(44);
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 44})) << "linked, the local keyer is not paused";
    EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
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
    station_.net().BeginLink();
    timers.OnTick(Timer::kHeartbeat);
    EXPECT_EQ(PeerReceives(1), Packets({{PKT_HEARTBEAT, 0}}));

    station_.state().remote_busy = 1;
    station_.TypeText("ab");
    timers.FollowLinkPeriod();
    ASSERT_EQ(set.size(), 3u);
    EXPECT_EQ(set.back(), std::make_pair(Timer::kLink, kLinkFeedPeriod));
    timers.OnTick(Timer::kLink);
    EXPECT_EQ(set.size(), 3u) << "the same period: the timer runs on";
    station_.state().remote_busy = 0;
    timers.OnTick(Timer::kLink);
    EXPECT_EQ(PeerReceives(2), Packets({{PKT_TEXT_CHAR, 'A'}, {PKT_TEXT_CHAR, 'B'}}));
    ASSERT_EQ(set.size(), 4u);
    EXPECT_EQ(set.back(), std::make_pair(Timer::kLink, kLinkWatchPeriod));
}

}  // namespace
