// The Message Editor's behaviour over its controls, and the M1 to M6 buttons.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_view.h"
#include "app/message_editor_form.h"
#include "app/resource_ids.h"
#include "messages/message_sender.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/host/station_on_file.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace {

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(MessageTokens, ButtonsWriteTheirTokens) {
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_SET_PTT, "9"), "[P]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_CLEAR_PTT, ""), "[N]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_MERGE, ""), "[M]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_CANCEL_WPM, ""), "[X]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_SET_WPM, ""), "[S00]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_SET_WPM, "7"), "[S07]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_SET_KEY, " 25 "), "[K25]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_SET_WAIT, "120"), "[W120]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_SET_WAIT, "4294967295"), "[W4294967295]");
    EXPECT_EQ(MessageTokenText(IDC_EDITOR_CANCEL, "1"), "");
}

// The recording window plays the Message Editor's dialog.
class MessageEditorTest : public ::testing::Test, protected StationOnFile {
  protected:
    void SetUp() override {
        std::strcpy(settings.messages[4], "fifth [S25]");
        ASSERT_EQ(OpenMessageEditor(window, 5, station), 5);
    }

    std::string Text() { return window.Text(IDC_EDITOR_TEXT); }
    bool Press(int id) { return MessageEditorCommand(window, 5, id, station); }
    // What the operator types replaces the whole text.
    void TypeText(const std::string& text) {
        window.SetControlText(IDC_EDITOR_TEXT, text);
        window.SetSelection(IDC_EDITOR_TEXT, kTextEnd, kTextEnd);
    }
};

TEST_F(MessageEditorTest, OpensOnItsMessageAndInsertsAtTheCaret) {
    EXPECT_EQ(Text(), "fifth [S25]");
    EXPECT_EQ(window.Text(IDC_EDITOR_HEADING), "Message 5");
    EXPECT_EQ(window.FocusedControl(), IDC_EDITOR_TEXT);

    window.SetControlText(IDC_EDITOR_ARGUMENT, "7");
    EXPECT_FALSE(Press(IDC_EDITOR_SET_WPM));
    EXPECT_EQ(Text(), "fifth [S25][S07]");
    // A selection is replaced.
    window.SetSelection(IDC_EDITOR_TEXT, 0, 5);
    EXPECT_FALSE(Press(IDC_EDITOR_SET_PTT));
    EXPECT_EQ(Text(), "[P] [S25][S07]");
    EXPECT_STREQ(settings.messages[4], "fifth [S25]") << "nothing is stored before Save";
}

TEST_F(MessageEditorTest, RestoreBringsBackTheStoredText) {
    TypeText("something else\r\nentirely");
    EXPECT_FALSE(Press(IDC_EDITOR_RESTORE));
    EXPECT_EQ(Text(), "fifth [S25]");
}

TEST_F(MessageEditorTest, SaveStoresAtMost255CharactersAndWritesTheFile) {
    std::string long_text;
    for (int i = 0; i < 300; ++i) {
        long_text += static_cast<char>('A' + i % 26);
    }
    TypeText(long_text);
    EXPECT_TRUE(Press(IDC_EDITOR_SAVE));
    EXPECT_EQ(std::string(settings.messages[4]), long_text.substr(0, 255));
    const std::string file = FileBytes(store.config_path());
    ASSERT_EQ(file.size(), kSettingsRecordSize);
    EXPECT_EQ(file.substr(offsetof(SettingsRecord, messages) + 4 * kTextFieldSize, kTextFieldSize),
              long_text.substr(0, 255) + '\0');

    // A shorter text leaves nothing of the longer one behind its end.
    RecordingWindow again;
    ASSERT_EQ(OpenMessageEditor(again, 5, station), 5);
    again.SetControlText(IDC_EDITOR_TEXT, "cq");
    EXPECT_TRUE(MessageEditorCommand(again, 5, IDC_EDITOR_SAVE, station));
    EXPECT_EQ(FileBytes(store.config_path())
                  .substr(offsetof(SettingsRecord, messages) + 4 * kTextFieldSize, kTextFieldSize),
              std::string("cq") + std::string(kTextFieldSize - 2, '\0'));
}

// A keyer button may start the message on the keyer reader's thread while the editor saves
// it: the start copies the old text or the new one, never half of each (host-tsan reports a
// slot written outside the sender's lock).
TEST_F(MessageEditorTest, SaveMeetsAKeyerButtonStartingTheSameMessage) {
    TypeText("new text");
    std::thread keyer_reader([this] { station.sender().Start(5, 1); });
    EXPECT_TRUE(Press(IDC_EDITOR_SAVE));
    keyer_reader.join();
    EXPECT_STREQ(settings.messages[4], "new text");
    station.sender().End();
}

TEST_F(MessageEditorTest, CancelAndEscapeCloseWithoutStoring) {
    TypeText("changed");
    EXPECT_FALSE(Press(1)) << "Enter does not close the editor";
    EXPECT_TRUE(Press(IDC_EDITOR_CANCEL));
    EXPECT_TRUE(Press(2));
    EXPECT_STREQ(settings.messages[4], "fifth [S25]");
    EXPECT_FALSE(std::filesystem::exists(store.config_path()));
}

class MessageButtonTest : public ::testing::Test {
  protected:
    void SetUp() override { std::strcpy(settings.messages[2], "third"); }
    // No keyer, and the other side busy while linked: a started message waits until it is
    // stopped.
    void TearDown() override { station_.sender().End(); }

    RecordingWindow window_;
    MainWindowView view_{window_};
    Station station_{view_, view_, nullptr};
    SettingsRecord& settings = station_.settings().record();
};

TEST_F(MessageButtonTest, StartsOnlyWhenIdleAndTheRoleTakesLocalKeying) {
    station_.SendStoredMessage(3);
    EXPECT_EQ(station_.sender().Sending(), 3);
    EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
    station_.SendStoredMessage(5);
    EXPECT_EQ(station_.sender().Sending(), 3) << "one message at a time";

    station_.sender().Stop();
    station_.net().SetLinked(true);
    station_.state().remote_busy = 1;  // so that a started message stays started
    for (uint32_t role : {kNetRoleRemoteSide, kNetRoleConverse}) {
        settings.net_flags = kNetModeServer | role;
        window_.FocusControl(IDC_ECHO_LINE);
        station_.SendStoredMessage(3);
        EXPECT_EQ(station_.sender().Sending(), 0) << role;
        EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
    }
    settings.net_flags = kNetModeClient | kNetRoleControlPoint;
    station_.SendStoredMessage(3);
    EXPECT_EQ(station_.sender().Sending(), 3);
}

}  // namespace
