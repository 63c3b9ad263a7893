// The Main window's view: the one map from each meaning to its control and its words, which
// the tests that read a station by meaning rely on; and the view as the station's worker
// threads reach it: handed over, in order, and a field's state shown once per wake-up however
// often it changed meanwhile.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "tests/support/recording_window.h"

namespace {

// The window's thread is never the caller here: every call is handed over.
class ElsewhereThread final : public WindowThread {
  public:
    bool IsCurrent() override { return false; }
    void Wake() override { ++wakes; }
    int wakes = 0;
};

enum class Shown { kText, kEnabled, kDisabled, kFocus, kBeep };

// One meaning as the window shows it: after `call`, `control` holds `text`, is enabled or
// disabled, has the focus, or the window beeped. The rows run in order on one window.
struct Shows {
    const char* meaning;
    std::function<void(MainWindowView&)> call;
    Shown shown;
    int control;
    const char* text;
};

TEST(MainWindowView, ShowsEachMeaningInItsControlInItsWords) {
    const LinkHealth round_trip{LinkHealth::Kind::kRoundTrip, 42, {}, 40};
    const auto nothing = [](MainWindowView&) {};
    const auto network = [](NetworkStatus status) {
        return [status](MainWindowView& v) { v.ShowNetworkStatus(status); };
    };
    const auto local_keyer = [](LocalKeyerState state, uint8_t version) {
        return [state, version](MainWindowView& v) { v.ShowLocalKeyer(state, version); };
    };
    const std::vector<Shows> rows = {
        {"typed text", [](MainWindowView& v) { v.AppendTypedText("CQ DE"); }, Shown::kText,
         IDC_LOG_PANE, "CQ DE"},
        {"typed character taken back", [](MainWindowView& v) { v.TakeBackTypedCharacter(); },
         Shown::kText, IDC_LOG_PANE, "CQ D"},
        {"typed text cleared", [](MainWindowView& v) { v.ClearTypedText(); }, Shown::kText,
         IDC_LOG_PANE, ""},
        {"nothing taken back from nothing", [](MainWindowView& v) { v.TakeBackTypedCharacter(); },
         Shown::kText, IDC_LOG_PANE, ""},
        {"Connect log", [](MainWindowView& v) { v.Append("\r\nopenComm: 1"); }, Shown::kText,
         IDC_LOG_PANE, "\r\nopenComm: 1"},
        {"typing focused", [](MainWindowView& v) { v.FocusTyping(); }, Shown::kFocus, IDC_LOG_PANE,
         nullptr},
        {"typed character refused", [](MainWindowView& v) { v.RefuseTypedCharacter(); },
         Shown::kBeep, 0, nullptr},
        {"echo", [](MainWindowView& v) { v.InsertEcho('C'); }, Shown::kText, IDC_ECHO_LINE, "C"},
        {"NUL echo", [](MainWindowView& v) { v.InsertEcho(0); }, Shown::kText, IDC_ECHO_LINE, "C"},
        {"tune keyed", [](MainWindowView& v) { v.ShowTune(true); }, Shown::kText, IDC_TUNE, "Off"},
        {"tune up", [](MainWindowView& v) { v.ShowTune(false); }, Shown::kText, IDC_TUNE, "Tune"},
        {"pause held", [](MainWindowView& v) { v.ShowPause(true); }, Shown::kText, IDC_PAUSE, "Go"},
        {"pause off", [](MainWindowView& v) { v.ShowPause(false); }, Shown::kText, IDC_PAUSE,
         "Pause"},
        {"speed", [](MainWindowView& v) { v.ShowSpeed(25); }, Shown::kText, IDC_WPM, "25"},
        {"speed from the pot", [](MainWindowView& v) { v.AllowSpeedEntry(false); },
         Shown::kDisabled, IDC_WPM, nullptr},
        {"speed typed again", [](MainWindowView& v) { v.AllowSpeedEntry(true); }, Shown::kEnabled,
         IDC_WPM, nullptr},
        {"input held", [](MainWindowView& v) { v.HoldInput(true); }, Shown::kDisabled, IDC_M6,
         nullptr},
        {"input held, the speed too", nothing, Shown::kDisabled, IDC_WPM, nullptr},
        {"input held, the pot takes the speed", [](MainWindowView& v) { v.AllowSpeedEntry(false); },
         Shown::kDisabled, IDC_WPM, nullptr},
        {"input taken again", [](MainWindowView& v) { v.HoldInput(false); }, Shown::kEnabled,
         IDC_M6, nullptr},
        {"input taken again, the pot still sets the speed", nothing, Shown::kDisabled, IDC_WPM,
         nullptr},
        {"no network", network(NetworkStatus::kNoConnection), Shown::kText, IDC_NET_STATUS,
         "No Network Connection"},
        {"listening", network(NetworkStatus::kListening), Shown::kText, IDC_NET_STATUS,
         "Listening for Request...."},
        {"connecting", network(NetworkStatus::kConnecting), Shown::kText, IDC_NET_STATUS,
         "Waiting..."},
        {"linked to a client", network(NetworkStatus::kLinkedToClient), Shown::kText,
         IDC_NET_STATUS, "Connected to Client."},
        {"linked to a server", network(NetworkStatus::kLinkedToServer), Shown::kText,
         IDC_NET_STATUS, "Connected to server."},
        {"link ended", network(NetworkStatus::kLinkEnded), Shown::kText, IDC_NET_STATUS,
         "Connection Closed"},
        {"connect failed", network(NetworkStatus::kConnectFailed), Shown::kText, IDC_NET_STATUS,
         "Failed to connect"},
        {"closed by the operator", network(NetworkStatus::kClosedByOperator), Shown::kText,
         IDC_NET_STATUS, "Network Connection Closed"},
        {"waiting to listen", network(NetworkStatus::kWaitingToListen), Shown::kText,
         IDC_NET_STATUS, "Waiting 30 s to listen"},
        {"local keyer online", local_keyer(LocalKeyerState::kOnline, 23), Shown::kText,
         IDC_LOCAL_STATUS, "Local Tarvel V23 OnLine"},
        {"local keyer lost", local_keyer(LocalKeyerState::kLost, 0), Shown::kText, IDC_LOCAL_STATUS,
         "Local Tarvel Lost"},
        {"local keyer closed", local_keyer(LocalKeyerState::kClosed, 0), Shown::kText,
         IDC_LOCAL_STATUS, "Local Tarvel Closed"},
        {"remote keyer's version", [](MainWindowView& v) { v.ShowRemoteKeyerVersion(23); },
         Shown::kText, IDC_REMOTE_STATUS, "Remote Tarvel Ver:23"},
        {"remote keyer closed", [](MainWindowView& v) { v.ShowRemoteKeyerClosed(); }, Shown::kText,
         IDC_REMOTE_STATUS, "Remote Tarvel Closed"},
        {"busy", [](MainWindowView& v) { v.ShowBusy(true); }, Shown::kText, IDC_BUSY_STATUS,
         "Busy"},
        {"not busy", [](MainWindowView& v) { v.ShowBusy(false); }, Shown::kText, IDC_BUSY_STATUS,
         " "},
        {"wait", [](MainWindowView& v) { v.ShowWait(WaitState::kWait); }, Shown::kText,
         IDC_WAIT_STATUS, "Wait"},
        {"break-in", [](MainWindowView& v) { v.ShowWait(WaitState::kBreakIn); }, Shown::kText,
         IDC_WAIT_STATUS, "BrkIn"},
        {"no wait", [](MainWindowView& v) { v.ShowWait(WaitState::kNone); }, Shown::kText,
         IDC_WAIT_STATUS, " "},
        {"heartbeat lit", [](MainWindowView& v) { v.BlinkHeartbeat(true); }, Shown::kText,
         IDC_HEARTBEAT, "+"},
        {"heartbeat dark", [](MainWindowView& v) { v.BlinkHeartbeat(false); }, Shown::kText,
         IDC_HEARTBEAT, " "},
        {"left paddle", [](MainWindowView& v) { v.ShowPaddles(true, false); }, Shown::kText,
         IDC_PADDLES, "L "},
        {"right paddle", [](MainWindowView& v) { v.ShowPaddles(false, true); }, Shown::kText,
         IDC_PADDLES, " R"},
        {"Close offered", [](MainWindowView& v) { v.OfferClose(); }, Shown::kText, IDC_OPEN_CLOSE,
         "Close"},
        {"Open offered", [](MainWindowView& v) { v.OfferOpen(); }, Shown::kText, IDC_OPEN_CLOSE,
         "Open"},
        {"keyer's M2 pressed", [](MainWindowView& v) { v.ShowKeyerButtonPressed(2); }, Shown::kText,
         IDC_M2, "X"},
        {"keyer's buttons let go", [](MainWindowView& v) { v.ShowKeyerButtonPressed(0); },
         Shown::kText, IDC_M2, "M2"},
        {"link health", [&](MainWindowView& v) { v.ShowLinkHealth(round_trip); }, Shown::kText,
         IDC_LINK_HEALTH, "Link 42 ms, paddles 40 ms"},
    };
    RecordingWindow window;
    MainWindowView view{window};
    for (const Shows& row : rows) {
        window.FocusControl(0);
        const int beeps = window.beeps.load();
        row.call(view);
        switch (row.shown) {
            case Shown::kText:
                EXPECT_EQ(window.Text(row.control), row.text) << row.meaning;
                break;
            case Shown::kEnabled:
            case Shown::kDisabled:
                EXPECT_EQ(window.Enabled(row.control), row.shown == Shown::kEnabled) << row.meaning;
                break;
            case Shown::kFocus:
                EXPECT_EQ(window.FocusedControl(), row.control) << row.meaning;
                break;
            case Shown::kBeep:
                EXPECT_EQ(window.beeps.load(), beeps + 1) << row.meaning;
                break;
        }
    }
}

TEST(MainWindowView, AFloodOfStatesCostsOneUpdatePerFieldAndEchoesAllArrive) {
    RecordingWindow window;
    ElsewhereThread elsewhere;
    MainWindowView view(window, &elsewhere);
    for (int i = 0; i < 1000; ++i) {
        view.ShowBusy(i % 2 == 0);
        view.InsertEcho(static_cast<uint8_t>('A' + i % 3));
    }
    view.ShowBusy(true);
    EXPECT_EQ(elsewhere.wakes, 1) << "one wake-up for a run of calls";
    EXPECT_TRUE(window.Calls().empty()) << "nothing reaches the window before it runs them";

    view.RunHandedOver();
    int busy_updates = 0;
    for (const RecordingWindow::Call& call : window.Calls()) {
        busy_updates += call.kind == "text" && call.id == IDC_BUSY_STATUS ? 1 : 0;
    }
    EXPECT_EQ(busy_updates, 1);
    EXPECT_EQ(window.Text(IDC_BUSY_STATUS), "Busy");
    EXPECT_EQ(window.Text(IDC_ECHO_LINE).size(), 1000u);
    EXPECT_EQ(window.Text(IDC_ECHO_LINE).substr(0, 4), "ABCA");

    view.Close();
    view.ShowBusy(false);
    view.RunHandedOver();
    EXPECT_EQ(window.Text(IDC_BUSY_STATUS), "Busy") << "a closed view shows nothing more";
}

// A problem a worker reports waits for a person on the window's thread, never on the
// worker's, and what is handed over behind it wakes the window again, for the box's own
// message loop to apply while the box is up.
TEST(MainWindowView, AWorkersProblemIsShownByTheWindowAndWhatFollowsItStillComes) {
    RecordingWindow window;
    ElsewhereThread elsewhere;
    MainWindowView view(window, &elsewhere);
    view.ReportProblem(Problem::kMessageBadCommand);
    view.InsertEcho('E');
    EXPECT_TRUE(window.MessageBoxes().empty()) << "no box on the reporting thread";
    ASSERT_EQ(elsewhere.wakes, 1);

    view.RunHandedOver();
    ASSERT_EQ(window.MessageBoxes().size(), 1u);
    EXPECT_EQ(window.MessageBoxes()[0].caption, "Error");
    EXPECT_EQ(window.MessageBoxes()[0].owner, kNoOwner) << "the Main window stays usable";
    EXPECT_EQ(elsewhere.wakes, 2) << "the box's loop is woken for the echo behind it";
    const std::vector<RecordingWindow::Call> calls = window.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, "box");
    EXPECT_EQ(calls[1].text, "E");
}

}  // namespace
