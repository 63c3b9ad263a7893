// The echo line and the log pane keep their newest text however much is written to them:
// the oldest part goes, the caret ends at the end, and nothing being inserted is lost.
#include <gtest/gtest.h>

#include <string>

#include "app/resource_ids.h"
#include "app/window.h"
#include "tests/support/recording_window.h"

namespace {

const KeptText& pane = *KeptTextOf(IDC_LOG_PANE);
const KeptText& echo = *KeptTextOf(IDC_ECHO_LINE);

// Numbered lines, so that what is kept shows which lines they were.
std::string Line(int number) {
    return "\r\nline " + std::to_string(number) + " of the connect log";
}

TEST(NewestText, LogPaneFedPastItsSizeKeepsItsNewestLinesWhole) {
    RecordingWindow window;
    std::string all;
    for (int number = 0; number < 2000; ++number) {
        AppendText(window, IDC_LOG_PANE, Line(number));
        all += Line(number);
        ASSERT_LE(window.Text(IDC_LOG_PANE).size(), static_cast<std::size_t>(pane.limit));
    }
    const std::string kept = window.Text(IDC_LOG_PANE);
    EXPECT_GE(kept.size(), static_cast<std::size_t>(pane.after_cut));
    EXPECT_EQ(all.substr(all.size() - kept.size()), kept);

    // A cut that would fall between the two characters of a line break takes both.
    const std::size_t cut = static_cast<std::size_t>(pane.limit - pane.after_cut) + 1;
    const std::string before = std::string(cut - 1, 'x') + "\r\n" +
                               std::string(static_cast<std::size_t>(pane.limit) - cut - 1, 'y');
    window.SetControlText(IDC_LOG_PANE, before);
    InsertText(window, IDC_LOG_PANE, "Z");
    EXPECT_EQ(window.Text(IDC_LOG_PANE), before.substr(cut + 1) + "Z");
}

TEST(NewestText, EchoesAtAMovedCaretGoToTheEndOnceTheLineIsCut) {
    RecordingWindow window;
    const std::string old_text(static_cast<std::size_t>(echo.limit) - 1, 'e');
    window.SetControlText(IDC_ECHO_LINE, old_text);
    window.SetSelection(IDC_ECHO_LINE, 0, 0);  // the operator clicked at the start
    InsertText(window, IDC_ECHO_LINE, "A");
    EXPECT_EQ(window.Text(IDC_ECHO_LINE), "A" + old_text) << "no cut yet: at the caret";

    InsertText(window, IDC_ECHO_LINE, "B");
    const std::string cut = window.Text(IDC_ECHO_LINE);
    EXPECT_EQ(cut.size(), static_cast<std::size_t>(echo.after_cut));
    EXPECT_EQ(cut.back(), 'B');
    InsertText(window, IDC_ECHO_LINE, "C");
    EXPECT_EQ(window.Text(IDC_ECHO_LINE), cut + "C");
}

TEST(NewestText, AnInsertionLongerThanWhatIsKeptStaysWholeAndOtherControlsAreLeftAlone) {
    RecordingWindow window;
    window.SetControlText(IDC_LOG_PANE,
                          std::string(static_cast<std::size_t>(pane.limit) - 10, 'x'));
    const std::string message(static_cast<std::size_t>(pane.after_cut) + 10, 'm');
    AppendText(window, IDC_LOG_PANE, message);
    EXPECT_EQ(window.Text(IDC_LOG_PANE), message);

    const std::string long_text(20000, 'w');
    AppendText(window, IDC_WPM, long_text);
    AppendText(window, IDC_WPM, "!");
    EXPECT_EQ(window.Text(IDC_WPM), long_text + "!");
}

}  // namespace
