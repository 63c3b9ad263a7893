// The Main window's view as the station's worker threads reach it: handed over, in order,
// and a field's state shown once per wake-up however often it changed meanwhile.
#include <gtest/gtest.h>

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
