// Stored messages in the real program: a message button sends its message to the emulated
// keyer, and a right click on one opens the Message Editor on that message.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "app/resource_ids.h"
#include "app/resource_texts.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tools/wine_kit/station_fixtures.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

const std::string kFifth = "fifth message";
// At 5 WPM the keyer still holds most of it long after it has begun.
const std::string kLong = "[S05]" + std::string(240, 'm') + "end";

bool Holds(const Bytes& bytes, const Bytes& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

class StoredMessagesTest : public KeyedStationTest {
  protected:
    void AdjustImage(Bytes* image) override {
        PutMessage(image, 1, "[S25]cq[W05]de");
        PutMessage(image, 2, "[q");
        PutMessage(image, 3, kLong);
        PutMessage(image, 5, kFifth);
    }

    HWND OpenEditorOn(int button) {
        ui::RightClick(window(), button);
        return ui::WaitForDialog(station_->process_id(), PELLMAR_EDITOR_CAPTION, kWaitMs);
    }

    // The stored bytes of message `number` in the configuration file.
    Bytes StoredSlot(int number) {
        const Bytes file = station_->ReadConfig();
        const size_t at = offsetof(SettingsRecord, messages) + (number - 1) * kTextFieldSize;
        return file.size() < at + kTextFieldSize
                   ? Bytes{}
                   : Bytes(file.begin() + at, file.begin() + at + kTextFieldSize);
    }
};

TEST_F(StoredMessagesTest, M1PutsItsTextAndTokensOnTheKeyersWire) {
    ui::Click(window(), IDC_M1);
    const Bytes expected = {0x1C, 0x19, 0x43, 0x51, 0x1A, 0x05, 0x44, 0x45};
    const Bytes wire = WireSinceMarkContaining(expected);
    EXPECT_EQ(wire, expected) << Hex(wire);
    // The log pane shows what was sent after the Connect log.
    const std::string shown =
        "\x1C\x19"
        "CQ\x1A\x05"
        "DE";
    EXPECT_TRUE(EndsWith(WaitForTextEnding(window(), IDC_LOG_PANE, shown, kWaitMs), shown));
}

TEST_F(StoredMessagesTest, F1SendsM1AsItsButtonDoes) {
    ui::PressKey(window(), IDC_LOG_PANE, VK_F1);
    const Bytes expected = {0x1C, 0x19, 0x43, 0x51, 0x1A, 0x05, 0x44, 0x45};
    const Bytes wire = WireSinceMarkContaining(expected);
    EXPECT_EQ(wire, expected) << Hex(wire);
}

TEST_F(StoredMessagesTest, EscapeStopsAMessageGoingOutAndClears) {
    ui::PressKey(window(), IDC_LOG_PANE, VK_F3);
    ASSERT_TRUE(Holds(WireSinceMarkContaining({'M'}), {'M'}));
    ui::PressKey(window(), IDC_LOG_PANE, VK_ESCAPE);
    const Bytes clear_buffer = {0x0A};
    ASSERT_TRUE(Holds(WireSinceMarkContaining(clear_buffer), clear_buffer));
    const Bytes end = {'E', 'N', 'D'};
    const Bytes wire = WireSinceMarkContaining(end, 1000);
    EXPECT_FALSE(Holds(wire, end)) << Hex(wire);
    EXPECT_EQ(station_->WaitForExit(100), -1) << "Esc in the typing pane ended the program";
}

TEST_F(StoredMessagesTest, RightClickOnM5EditsTheFifthMessageAndItsButtonsInsertTokens) {
    const Bytes file_before = station_->ReadConfig();
    HWND editor = OpenEditorOn(IDC_M5);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(ui::ReadText(editor, IDC_EDITOR_HEADING), "Message 5");
    EXPECT_EQ(ui::ReadText(editor, IDC_EDITOR_TEXT), kFifth);

    ui::Click(editor, IDC_EDITOR_SET_WPM);
    EXPECT_TRUE(ui::WaitForText(editor, IDC_EDITOR_TEXT, kFifth + "[S00]", kWaitMs));
    ui::SetText(editor, IDC_EDITOR_ARGUMENT, "7");
    ui::Click(editor, IDC_EDITOR_SET_WPM);
    EXPECT_TRUE(ui::WaitForText(editor, IDC_EDITOR_TEXT, kFifth + "[S00][S07]", kWaitMs));
    // The guide's picture shows a message that sends; the one below does not.
    EXPECT_TRUE(SaveNamedScreenshot(editor, "message_editor"));
    ui::SendCommand(editor, IDOK);  // Enter: the editor stays, and the next click lands
    ui::SetText(editor, IDC_EDITOR_ARGUMENT, "120");
    ui::Click(editor, IDC_EDITOR_SET_WAIT);
    EXPECT_TRUE(ui::WaitForText(editor, IDC_EDITOR_TEXT, kFifth + "[S00][S07][W120]", kWaitMs))
        << ui::ReadText(editor, IDC_EDITOR_TEXT);

    ui::Click(editor, IDC_EDITOR_CANCEL);
    ASSERT_TRUE(ui::WaitForWindowGone(editor, kWaitMs));
    EXPECT_EQ(station_->ReadConfig(), file_before) << "Cancel stores nothing";
    // The right click only opened the editor: M5 itself sent nothing.
    EXPECT_TRUE(WireSinceMarkContaining({'F'}, 300).empty());
}

TEST_F(StoredMessagesTest, SaveStoresTheFirst255CharactersInTheFile) {
    HWND editor = OpenEditorOn(IDC_M5);
    ASSERT_NE(editor, nullptr);
    std::string text;
    for (int i = 0; i < 300; ++i) {
        text += static_cast<char>('a' + i % 26);
    }
    ui::SetText(editor, IDC_EDITOR_TEXT, text);
    ui::Click(editor, IDC_EDITOR_SAVE);
    ASSERT_TRUE(ui::WaitForWindowGone(editor, kWaitMs));
    Bytes expected(text.begin(), text.begin() + 255);
    expected.resize(kTextFieldSize, 0);
    EXPECT_EQ(StoredSlot(5), expected);
}

TEST_F(StoredMessagesTest, CloseBoxAndEscapeLeaveTheFileAsItWas) {
    const Bytes file_before = station_->ReadConfig();
    HWND editor = OpenEditorOn(IDC_M5);
    ASSERT_NE(editor, nullptr);
    ui::SetText(editor, IDC_EDITOR_TEXT, "changed");
    ui::PressCloseBox(editor);
    ASSERT_TRUE(ui::WaitForWindowGone(editor, kWaitMs));
    EXPECT_EQ(station_->ReadConfig(), file_before);

    editor = OpenEditorOn(IDC_M5);
    ASSERT_NE(editor, nullptr);
    ui::SetText(editor, IDC_EDITOR_TEXT, "changed");
    ui::SendCommand(editor, IDCANCEL);  // what the dialog makes of Escape
    ASSERT_TRUE(ui::WaitForWindowGone(editor, kWaitMs));
    EXPECT_EQ(station_->ReadConfig(), file_before);
}

// The parser's box waits for a person, not the operator's Exit, which its loop takes.
TEST_F(StoredMessagesTest, ExitWhileAParserBoxIsUpEndsTheProgram) {
    ui::Click(window(), IDC_M2);
    HWND box = ui::WaitForMessageBox(station_->process_id(), "Error", kWaitMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::MessageBoxText(box), "Bad Buf Msg Cmd");
    ui::Click(window(), IDC_EXIT);
    EXPECT_EQ(station_->WaitForExit(kWaitMs), 0);
}

}  // namespace
