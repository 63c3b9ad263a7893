// The Message Editor's behaviour over its fields, and the M1 to M6 buttons.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "forms/message_editor_form.h"
#include "messages/message_sender.h"
#include "net/socket_api.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/host/station_on_file.h"
#include "tests/host/station_rig.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace {

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(MessageTokens, ButtonsWriteTheirTokens) {
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertPttOn, "9"), "[P]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertPttOff, ""), "[N]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertMerge, ""), "[M]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertCancelSpeed, ""), "[X]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertSpeed, ""), "[S00]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertSpeed, "7"), "[S07]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertKey, " 25 "), "[K25]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertWait, "120"), "[W120]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kInsertWait, "4294967295"), "[W4294967295]");
    EXPECT_EQ(MessageTokenText(EditorCommand::kClose, "1"), "");
}

// The editor's fields with the selection rules of the Windows edit control.
struct RecordingEditor final : MessageEditorFields {
    void ShowHeading(const std::string& shown) override { heading = shown; }
    std::string ArgumentText() override { return argument; }
    std::string MessageText() override { return text; }
    void SelectInMessage(int start, int end) override {
        const auto at = [this](int position) {
            return position < 0 ? text.size()
                                : std::min(static_cast<std::size_t>(position), text.size());
        };
        selection = {std::min(at(start), at(end)), std::max(at(start), at(end))};
    }
    void ReplaceSelectionInMessage(const std::string& inserted) override {
        text.replace(selection.first, selection.second - selection.first, inserted);
        selection.first += inserted.size();
        selection.second = selection.first;
    }
    void FocusMessage() override { message_focused = true; }

    std::string heading;
    std::string argument;
    std::string text;
    std::pair<std::size_t, std::size_t> selection;
    bool message_focused = false;
};

class MessageEditorTest : public ::testing::Test, protected StationOnFile {
  protected:
    void SetUp() override {
        std::strcpy(settings.messages[4], "fifth [S25]");
        ASSERT_EQ(OpenMessageEditor(editor, 5, station), 5);
    }

    std::string Text() { return editor.text; }
    bool Press(EditorCommand command) { return MessageEditorCommand(editor, 5, command, station); }
    // What the operator types replaces the whole text.
    void TypeText(const std::string& text) {
        editor.text = text;
        editor.SelectInMessage(kMessageTextEnd, kMessageTextEnd);
    }

    RecordingEditor editor;
};

TEST_F(MessageEditorTest, OpensOnItsMessageAndInsertsAtTheCaret) {
    EXPECT_EQ(Text(), "fifth [S25]");
    EXPECT_EQ(editor.heading, "Message 5");
    EXPECT_TRUE(editor.message_focused);

    editor.argument = "7";
    EXPECT_FALSE(Press(EditorCommand::kInsertSpeed));
    EXPECT_EQ(Text(), "fifth [S25][S07]");
    // A selection is replaced.
    editor.SelectInMessage(0, 5);
    EXPECT_FALSE(Press(EditorCommand::kInsertPttOn));
    EXPECT_EQ(Text(), "[P] [S25][S07]");
    EXPECT_STREQ(settings.messages[4], "fifth [S25]") << "nothing is stored before Save";
}

TEST_F(MessageEditorTest, RestoreBringsBackTheStoredText) {
    TypeText("something else\r\nentirely");
    EXPECT_FALSE(Press(EditorCommand::kRestore));
    EXPECT_EQ(Text(), "fifth [S25]");
}

TEST_F(MessageEditorTest, SaveStoresAtMost255CharactersAndWritesTheFile) {
    std::string long_text;
    for (int i = 0; i < 300; ++i) {
        long_text += static_cast<char>('A' + i % 26);
    }
    TypeText(long_text);
    EXPECT_TRUE(Press(EditorCommand::kSave));
    EXPECT_EQ(std::string(settings.messages[4]), long_text.substr(0, 255));
    const std::string file = FileBytes(store.config_path());
    ASSERT_EQ(file.size(), kSettingsRecordSize);
    EXPECT_EQ(file.substr(offsetof(SettingsRecord, messages) + 4 * kTextFieldSize, kTextFieldSize),
              long_text.substr(0, 255) + '\0');

    // A shorter text leaves nothing of the longer one behind its end.
    RecordingEditor again;
    ASSERT_EQ(OpenMessageEditor(again, 5, station), 5);
    again.text = "cq";
    EXPECT_TRUE(MessageEditorCommand(again, 5, EditorCommand::kSave, station));
    EXPECT_EQ(FileBytes(store.config_path())
                  .substr(offsetof(SettingsRecord, messages) + 4 * kTextFieldSize, kTextFieldSize),
              std::string("cq") + std::string(kTextFieldSize - 2, '\0'));
}

// A start on another thread (a keyer button's, on the keyer reader's thread) may copy the
// message while the editor saves it: the start copies the old text or the new one, never half
// of each (host-tsan reports a slot written outside the sender's lock).
TEST_F(MessageEditorTest, SaveMeetsAKeyerButtonStartingTheSameMessage) {
    TypeText("new text");
    std::thread keyer_reader([this] { station.SendStoredMessage(5); });
    EXPECT_TRUE(Press(EditorCommand::kSave));
    keyer_reader.join();
    EXPECT_STREQ(settings.messages[4], "new text");
    station.Exit();
}

TEST_F(MessageEditorTest, CloseStoresNothing) {
    TypeText("changed");
    EXPECT_FALSE(Press(EditorCommand::kInsertMerge)) << "a token does not close the editor";
    EXPECT_TRUE(Press(EditorCommand::kClose));
    EXPECT_STREQ(settings.messages[4], "fifth [S25]");
    EXPECT_FALSE(std::filesystem::exists(store.config_path()));
}

// A started message stays started until it is stopped, with nothing sending it.
class MessageButtonTest : public station_rig::StationRigTest<station_rig::ShownInMainWindow> {
  protected:
    MessageButtonTest() : StationRigTest(station_rig::kMessagesStayStarted) {}
    void SetUp() override {
        StationRigTest::SetUp();
        std::strcpy(settings.messages[2], "third");
    }
};

TEST_F(MessageButtonTest, StartsOnlyWhenIdleAndTheRoleTakesLocalKeying) {
    station_.SendStoredMessage(3);
    EXPECT_EQ(station_.MessageGoingOut(), 3);
    EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
    station_.SendStoredMessage(5);
    EXPECT_EQ(station_.MessageGoingOut(), 3) << "one message at a time";

    station_.StopStoredMessage();
    LinkAsServer(kNetRoleRemoteSide);
    for (uint32_t role : {kNetRoleRemoteSide, kNetRoleConverse}) {
        store.PublishNetFlags(kNetModeServer | role);
        window_.FocusControl(IDC_ECHO_LINE);
        station_.SendStoredMessage(3);
        EXPECT_EQ(station_.MessageGoingOut(), 0) << role;
        EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
    }
    store.PublishNetFlags(kNetModeClient | kNetRoleControlPoint);
    station_.SendStoredMessage(3);
    EXPECT_EQ(station_.MessageGoingOut(), 3);
}

}  // namespace
