// What the keyer sends, as the station turns it into window texts and packets: the keyer is
// the emulator on a pty (its bytes go through the real reader), the other station a plain
// socket on loopback, the Main window the recording window.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/resource_ids.h"
#include "app/window.h"
#include "forms/setup_form.h"
#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "net/packet.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/host/station_rig.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

using namespace loopback;
using namespace std::chrono_literals;
using ByteList = std::vector<uint8_t>;
using Sent = std::vector<std::pair<uint8_t, uint8_t>>;  // type and value of each packet

// The station as a Net Server with its keyer attached; linked or not as each case says. Its
// stored messages stay started once started, unless the fixture has them sent.
class KeyerDispatch : public station_rig::StationRigTest<station_rig::ShownInMainWindow> {
  protected:
    explicit KeyerDispatch(
        MessageSender::CarryOut carry_out_messages = station_rig::kMessagesStayStarted)
        : StationRigTest(std::move(carry_out_messages)) {}

    void SetUp() override { Start(23); }

    void Start(int version) {
        StationRigTest::SetUp();
        std::memset(&settings, 0, sizeof settings);
        keyer_sim::Options options;
        options.version = version;
        AttachKeyer(options);
        store.PublishNetFlags(kNetModeServer);
    }

    // Linked as a Net Server in `role_and_flags`: the first time through the link's start,
    // later by the flags alone.
    void Link(uint32_t role_and_flags) {
        if (!station_.IsLinked()) {
            LinkAsServer(role_and_flags);
            return;
        }
        store.PublishNetFlags(kNetModeServer | role_and_flags);
    }

    void Keyer(const ByteList& bytes) { Sim().Inject(bytes); }

    // Once the reader has handled every byte sent so far: a speed-pot turn, which with the
    // pot lock off changes the station's PotSpeed() and nothing else, comes after them.
    void Settled() {
        probe_ = probe_ == 0x3F ? 1 : probe_ + 1;
        Keyer({static_cast<uint8_t>(0x80 | probe_)});
        ASSERT_TRUE(WaitUntil([this] { return station_.PotSpeed() == probe_ + min_wpm_; }));
    }

    // Nothing reached the other station: with no link there is nothing to send on.
    void ExpectPeerGotNothing() {
        Settled();
        if (peer_ < 0) {
            EXPECT_FALSE(station_.IsLinked());
            EXPECT_EQ(station_.LinkPort(), 0);
            return;
        }
        EXPECT_TRUE(RawReceive(peer_, 1, 4096, 100).empty());
    }

    Sent PeerReceives(std::size_t packets) {
        const ByteList bytes = RawReceive(peer_, packets * kPacketSize);
        Sent sent;
        for (std::size_t at = 0; at + kPacketSize <= bytes.size(); at += kPacketSize) {
            EXPECT_EQ(bytes[at], PKT_MARKER);
            sent.emplace_back(bytes[at + 1], bytes[at + 2]);
        }
        return sent;
    }

    // Every text the control was given, in order.
    std::vector<std::string> TextsOf(int id) {
        std::vector<std::string> texts;
        for (const RecordingWindow::Call& call : Calls()) {
            if (call.kind == "text" && call.id == id) {
                texts.push_back(call.text);
            }
        }
        return texts;
    }

    int probe_ = 0;
    int min_wpm_ = 0;  // the speed pot's minimum last sent to the keyer
};

class KeyerDispatchVersion19 : public KeyerDispatch {
  protected:
    void SetUp() override { Start(19); }
};

// The stored messages go out on the sender's thread.
class KeyerDispatchSending : public KeyerDispatch {
  protected:
    KeyerDispatchSending() : KeyerDispatch(MessageSender::CarryOut()) {}
};

TEST_F(KeyerDispatch, PaddlesTravelAsCodesWhileLinkedAndShowAsLetters) {
    Link(kNetRoleControlPoint);
    Keyer({0xDE, 0xDD, 0xDF, 0xFF, 0xDC});
    EXPECT_EQ(
        PeerReceives(5),
        (Sent{
            {PKT_PADDLE, 2}, {PKT_PADDLE, 1}, {PKT_PADDLE, 1}, {PKT_PADDLE, 1}, {PKT_PADDLE, 0}}));
    Settled();
    EXPECT_EQ(TextsOf(IDC_PADDLES), (std::vector<std::string>{"L ", " R", "LR", "LR", "  "}));
}

TEST_F(KeyerDispatch, PaddlesDoNothingUnlinkedOrAsLetters) {
    Keyer({0xDE});
    ExpectPeerGotNothing();
    Link(kNetRoleControlPoint | kNetLetterPaddle);
    Keyer({0xDD});
    ExpectPeerGotNothing();
    EXPECT_TRUE(TextsOf(IDC_PADDLES).empty());
}

TEST_F(KeyerDispatch, StatusShowsHereWhileNotLinkedAndBreakInStopsTheMessage) {
    MessageGoingOut(3);
    Keyer({0xC6});
    Settled();
    EXPECT_EQ(SendingMessage(), 0);
    EXPECT_EQ(window_.Text(IDC_BUSY_STATUS), "Busy");
    EXPECT_EQ(window_.Text(IDC_WAIT_STATUS), "BrkIn");

    Keyer({0xD0});
    Settled();
    EXPECT_EQ(window_.Text(IDC_BUSY_STATUS), " ");
    EXPECT_EQ(window_.Text(IDC_WAIT_STATUS), "Wait");

    Keyer({0xD2});  // wait and break-in: the wait shows
    Settled();
    EXPECT_EQ(window_.Text(IDC_WAIT_STATUS), "Wait");
    ExpectPeerGotNothing();
}

TEST_F(KeyerDispatch, StatusGoesToTheOtherStationUnlessControlPoint) {
    MessageGoingOut(3);
    Link(kNetRoleRemoteSide);
    Keyer({0xC6});
    EXPECT_EQ(PeerReceives(1), (Sent{{PKT_STATUS, 0x06}}));
    Link(kNetRoleControlPoint);
    Keyer({0xD4});
    ExpectPeerGotNothing();
    Link(kNetRoleConverse);
    Keyer({0xD0});
    EXPECT_EQ(PeerReceives(1), (Sent{{PKT_STATUS, 0x10}}));
    Settled();
    EXPECT_EQ(SendingMessage(), 3);
    EXPECT_TRUE(TextsOf(IDC_BUSY_STATUS).empty());
    EXPECT_TRUE(TextsOf(IDC_WAIT_STATUS).empty());
}

TEST_F(KeyerDispatch, SpeedPotSetsTheSpeedOnlyUnderPotLock) {
    // The pot's range as Setup stores it and the keyer loads it.
    settings.keyer_settings.min_wpm = 10;
    settings.keyer_settings.wpm_range = 20;
    station_.ApplyKeyerSettings();
    const auto* block = reinterpret_cast<const uint8_t*>(&settings.keyer_settings);
    ByteList load{0x0F};
    load.insert(load.end(), block, block + sizeof settings.keyer_settings);
    load.insert(load.end(), {0x07, 0x15});
    ASSERT_EQ(KeyerWire(load.size()), load);
    min_wpm_ = 10;
    Keyer({0x85});
    ASSERT_TRUE(WaitUntil([this] { return station_.PotSpeed() == 15; }));
    Keyer({0x86});
    ASSERT_TRUE(WaitUntil([this] { return station_.PotSpeed() == 16; }));
    EXPECT_TRUE(TextsOf(IDC_WPM).empty());

    station_.LockSpeedToPot(true);
    Keyer({0x85});
    ASSERT_TRUE(WaitUntil([this] { return window_.Text(IDC_WPM) == "15"; }));
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 15}));

    Link(kNetRoleControlPoint);
    Keyer({0x87});
    EXPECT_EQ(PeerReceives(1), (Sent{{PKT_SPEED, 17}}));
    EXPECT_EQ(KeyerWire(2), (ByteList{0x02, 17}));
    EXPECT_EQ(window_.Text(IDC_WPM), "17");
}

TEST_F(KeyerDispatch, EchoShowsHereUnlinkedAndTravelsByRole) {
    Keyer({'A'});
    ASSERT_TRUE(WaitUntil([this] { return window_.Text(IDC_ECHO_LINE) == "A"; }));
    Link(kNetRoleRemoteSide);
    Keyer({'B'});
    EXPECT_EQ(PeerReceives(1), (Sent{{PKT_ECHO_CHAR, 'B'}}));
    Link(kNetRoleControlPoint);
    Keyer({'C'});
    EXPECT_EQ(PeerReceives(1), (Sent{{PKT_TEXT_CHAR, 'C'}}));
    Link(kNetRoleConverse);
    Keyer({'D'});
    EXPECT_EQ(PeerReceives(1), (Sent{{PKT_TEXT_CHAR, 'D'}}));
    Settled();
    EXPECT_EQ(window_.Text(IDC_ECHO_LINE), "AD");
}

// A version 20+ keyer's M2 button sets the bit that otherwise means break-in: the message it
// starts goes on. The writer is held so that the queue fills and the message waits, busy,
// while the case looks.
TEST_F(KeyerDispatchSending,
       KeyerButtonsStartStoredMessagesAndAReportWithoutButtonRestoresCaptions) {
    station_.StoreMessage(2, std::string(60, 'E'));
    station_.StoreMessage(3, "NO");
    keyer_writer_held_ = true;
    Keyer({0xCA});
    ASSERT_TRUE(WaitUntil([this] { return station_.QueuedForKeyer() == 43; }));
    EXPECT_EQ(SendingMessage(), 1);
    EXPECT_EQ(window_.Text(IDC_M2), "X");

    Keyer({0xCC});  // M3 while M2's message goes out: only the caption changes
    Settled();
    EXPECT_EQ(window_.Text(IDC_M3), "X");
    EXPECT_EQ(window_.Text(IDC_LOG_PANE), std::string(43, 'E'));

    Keyer({0xC8});
    Settled();
    EXPECT_EQ(
        window_.Text(IDC_M1) + window_.Text(IDC_M2) + window_.Text(IDC_M3) + window_.Text(IDC_M4),
        "M1M2M3M4");
    keyer_writer_held_ = false;
    EXPECT_TRUE(WaitUntil([this] { return SendingMessage() == 0; }));
    EXPECT_EQ(window_.Text(IDC_LOG_PANE), std::string(60, 'E'));
}

// Linked in Converse or as RemoteSide this station's buttons key nothing, and their report
// is not the keyer's status either.
TEST_F(KeyerDispatch, ButtonReportIsDroppedWhereTheRoleRefusesLocalKeying) {
    station_.StoreMessage(1, "E");
    Link(kNetRoleRemoteSide);
    Keyer({0xC9});
    ExpectPeerGotNothing();
    EXPECT_EQ(SendingMessage(), 0);
    EXPECT_TRUE(TextsOf(IDC_M1).empty());
}

TEST_F(KeyerDispatchVersion19, BitThreeIsPlainStatus) {
    window_.SetControlText(IDC_M1, "M1");
    Keyer({0xC9});
    Settled();
    EXPECT_EQ(window_.Text(IDC_M1), "M1");
    EXPECT_EQ(window_.Text(IDC_BUSY_STATUS), " ");
    EXPECT_EQ(window_.Text(IDC_WAIT_STATUS), " ");
    EXPECT_EQ(SendingMessage(), 0);
}

// What a keyer may send at any moment: status changes, echoed letters, pot turns, and its M1
// button pressed and let go, which starts stored message 1 on the sender's thread.
const ByteList kStream = {0xC4, 'A', 0xC0, 'B', 0x85, 0xC6, 'C', 0xD0, 'D', 0xDE, 0xC9, 0xC8};
// Each round opens the port afresh, which waits 400 ms for the keyer to fall quiet.
constexpr int kRounds = 12;

// The emulated keyer pouring out kStream, while its host mode is open, until it goes.
class Pouring {
  public:
    explicit Pouring(keyer_sim::KeyerSim* sim)
        : thread_([this, sim] {
              while (!stop_.load()) {
                  if (sim->HostModeOpen()) {
                      sim->Inject(kStream);
                  }
                  std::this_thread::sleep_for(200us);
              }
          }) {}
    ~Pouring() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The test's own thread plays the Main window's thread, and the recording window, bound to
// it, fails the test on any call from another thread, which on Windows would wait for the
// window's thread. So the station's view must hand the reader's calls over, and the keyer's
// close and the exit must never need the window.
class TestWindowThread final : public WindowThread {
  public:
    bool IsCurrent() override { return std::this_thread::get_id() == id_; }
    void Wake() override {}

  private:
    std::thread::id id_ = std::this_thread::get_id();
};

class KeyerCloseUnderLoad : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(sim_.Start()); }
    void TearDown() override { sim_.Stop(); }

    // A station whose keyer's port is the emulator's.
    StationSetup AtTheEmulator() {
        StationSetup setup;
        setup.keyer_port.device = sim_.PortPath();
        return setup;
    }

    // Attached as Open attaches it with the network off, with a message for the keyer's
    // buttons to start.
    void OpenKeyer(Station& station) {
        SettingsRecord& record = station.settings().record();
        std::strcpy(record.messages[0], "EE");
        record.com_port = 1;
        station.settings().PublishNetFlags(kNetModeOff);
        ASSERT_EQ(station.OpenConnection(), 1);
    }

    // What the keyer pours out no longer reaches the window: no thread of the keyer calls
    // into the station.
    static void ExpectNoMoreKeyerEvents(RecordingWindow& window, MainWindowView& view) {
        view.RunHandedOver();
        const std::size_t calls = window.Calls().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        view.RunHandedOver();
        EXPECT_EQ(window.Calls().size(), calls);
    }

    // Works as the window thread until the reader's handed-over calls have made `count` more
    // calls of the window.
    static void ServeCalls(RecordingWindow& window, MainWindowView& view, std::size_t count) {
        const std::size_t until = window.Calls().size() + count;
        EXPECT_TRUE(WaitUntil([&] {
            view.RunHandedOver();
            return window.Calls().size() >= until;
        })) << "the keyer's events did not reach the window";
    }

    TestWindowThread window_thread_;
    keyer_sim::KeyerSim sim_;
    // The stations' sockets, never started here.
    SocketLoop sockets_;
};

TEST_F(KeyerCloseUnderLoad, ClosingTheKeyerNeverWaitsForTheWindow) {
    RecordingWindow window;
    window.BindToThisThread();
    MainWindowView view(window, &window_thread_);
    Station station(view, view, sockets_, AtTheEmulator());
    Pouring pouring(&sim_);
    for (int round = 0; round < kRounds; ++round) {
        OpenKeyer(station);
        ServeCalls(window, view, 5);
        // Nothing is carried out while the keyer closes.
        station.OpenOrClose();
        ASSERT_FALSE(station.IsKeyerAttached()) << "round " << round;
        sim_.Inject(kStream);
        ExpectNoMoreKeyerEvents(window, view);
    }
    station.Exit();
}

// As at exit: with the keyer still open and pouring, the station stops its threads without
// the window's help, then the view closes, and the window goes.
TEST_F(KeyerCloseUnderLoad, ExitStopsTheKeyerThreadsSoNoCallReachesTheGoneWindow) {
    Pouring pouring(&sim_);
    for (int round = 0; round < kRounds; ++round) {
        auto window = std::make_unique<RecordingWindow>();
        window->BindToThisThread();
        MainWindowView view(*window, &window_thread_);
        Station station(view, view, sockets_, AtTheEmulator());
        OpenKeyer(station);
        ServeCalls(*window, view, 5);
        station.Exit();
        SCOPED_TRACE(testing::Message() << "round " << round);
        ExpectNoMoreKeyerEvents(*window, view);
        view.Close();
        const std::size_t calls = window->Calls().size();
        view.RunHandedOver();
        EXPECT_EQ(window->Calls().size(), calls) << "round " << round;
        window.reset();
        // The exit left the keyer in host mode; the next round's program finds it fresh.
        ASSERT_EQ(sim_.Command("reset"), "ok");
    }
}

// A keyer that hangs as the close comes (it takes no more bytes, so the writer's write waits
// for ever) holds the close for the writer's time and no more, and the close leaves no thread
// behind and gives the port back; the exit on a hung keyer joins its threads too, so the
// station goes with nothing of it still running.
TEST_F(KeyerCloseUnderLoad, AHungKeyerHoldsTheCloseBrieflyAndNoThreadOutlivesTheStation) {
    TempFolder folder;
    RecordingWindow window;
    window.BindToThisThread();
    MainWindowView view(window, &window_thread_);
    StationSetup setup = AtTheEmulator();
    setup.config_path = folder.File("pellmar.cfg");
    auto station = std::make_unique<Station>(view, view, sockets_, std::move(setup));
    station->settings().SetDefaults();
    std::strcpy(station->settings().record().messages[0], "EE");
    const auto open = [&] {
        station->OpenOrClose();
        view.RunHandedOver();
        return sim_.HostModeOpen();
    };
    Pouring pouring(&sim_);
    ASSERT_TRUE(open());

    ASSERT_EQ(sim_.Command("stall on"), "ok");
    const auto close_began = std::chrono::steady_clock::now();
    station->OpenOrClose();
    EXPECT_LT(std::chrono::steady_clock::now() - close_began, 5s);
    EXPECT_TRUE(sim_.HostModeOpen()) << "the host close got through: the keyer never hung";
    view.RunHandedOver();

    // Fresh, and taking bytes again, the keyer attaches on the port the close gave back.
    ASSERT_EQ(sim_.Command("reset"), "ok");
    ASSERT_TRUE(open());

    ASSERT_EQ(sim_.Command("stall on"), "ok");
    const auto exit_began = std::chrono::steady_clock::now();
    station->Exit();
    EXPECT_LT(std::chrono::steady_clock::now() - exit_began, 5s);
    view.Close();
    station.reset();
}

// The keyer reader reads the role for every byte while "Done" in the Setup dialog may change
// it; under ThreadSanitizer a role read or written other than whole shows here.
TEST_F(KeyerCloseUnderLoad, SetupDoneChangesTheRoleUnderAPouringKeyer) {
    TempFolder folder;
    RecordingWindow window;
    MainWindowView view(window);
    StationSetup setup = AtTheEmulator();
    setup.config_path = folder.File("pellmar.cfg");
    Station station(view, view, sockets_, std::move(setup));
    SettingsStore& store = station.settings();
    store.SetDefaults();
    Pouring pouring(&sim_);
    OpenKeyer(station);
    SetupForm form = OpenSetupForm(station);
    for (int round = 0; round < kRounds; ++round) {
        form.checks[SetupField::kNetworkOff] = round % 2 == 0;
        form.checks[SetupField::kNetServer] = round % 2 != 0;
        form.selections[SetupField::kRole] = round % 3;
        EXPECT_TRUE(FinishSetupForm(&form, station, 0).empty()) << round;
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(store.NetMode(), kNetModeServer);
    ASSERT_TRUE(station.IsKeyerAttached());
    station.CloseAndExit("the test ends");
}

}  // namespace
