// The Setup dialog of the real program, its keyer attached on the emulator behind COM3 (and
// COM12): the ports it lists, a refused "Done", and a "Done" that saves and loads the keyer.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "app/resource_ids.h"
#include "app/resource_texts.h"
#include "settings/settings_record.h"
#include "tools/wine_kit/station_fixtures.h"

namespace {

constexpr int kDialogWaitMs = 10000;

class SetupDialogTest : public KeyedStationTest {
  protected:
    // Presses "Setup" and waits for the dialog.
    HWND OpenSetup() {
        ui::Click(window(), IDC_SETUP);
        return ui::WaitForDialog(station_->process_id(), PELLMAR_SETUP_CAPTION, kDialogWaitMs);
    }
};

TEST_F(SetupDialogTest, ListsTheEmulatorsPortsWhileTheKeyerHoldsOne) {
    HWND setup = OpenSetup();
    ASSERT_NE(setup, nullptr);
    const std::vector<std::string> ports = ui::ListEntries(setup, IDC_SETUP_PORT);
    const std::string own = "com" + std::to_string(emulator_.com_port);
    const auto in_list = [&](const std::string& name) {
        return std::find(ports.begin(), ports.end(), name) != ports.end();
    };
    EXPECT_TRUE(in_list(own)) << "the open keyer's port is in use and still listed";
    EXPECT_TRUE(in_list("com12")) << "found under \\\\.\\COM12";
    const int selected = ui::SelectedPosition(setup, IDC_SETUP_PORT);
    ASSERT_GE(selected, 0);
    EXPECT_EQ(ports[static_cast<size_t>(selected)], own);
    EXPECT_EQ(ui::ListEntries(setup, IDC_SETUP_OUTPUT).front(), "Port 1, Tone Off")
        << "a keyer of version 23 has the newer outputs";
    EXPECT_TRUE(SaveNamedScreenshot(setup, "setup_dialog"));
    // The widest entry of each list, to see that none is cut off.
    ui::Select(setup, IDC_SETUP_CW_MODE, 3);
    ui::Select(setup, IDC_SETUP_PADDLE_HANG, 3);
    ui::Select(setup, IDC_SETUP_ROLE, 1);
    ui::Select(setup, IDC_SETUP_OUTPUT, 2);
    ui::Select(setup, IDC_SETUP_FREQ, 0);
    EXPECT_TRUE(SaveNamedScreenshot(setup, "setup_dialog_widest"));

    ui::Click(setup, IDCANCEL);
    EXPECT_TRUE(ui::WaitForWindowGone(setup, kDialogWaitMs));
    // Under Xvfb without a window manager, Wine takes about 2 s to let the hidden dialog go.
    EXPECT_TRUE(ui::WaitForFocus(window(), IDC_LOG_PANE, kDialogWaitMs));
}

TEST_F(SetupDialogTest, NetClientEnablesTheAddressAndTheCloseBoxLeaves) {
    HWND setup = OpenSetup();
    ASSERT_NE(setup, nullptr);
    EXPECT_FALSE(ui::IsControlEnabled(setup, IDC_SETUP_IP_ADDRESS));
    ui::Click(setup, IDC_SETUP_NET_CLIENT);
    EXPECT_TRUE(ui::WaitForEnabled(setup, IDC_SETUP_IP_ADDRESS, true, kDialogWaitMs));
    ui::PressCloseBox(setup);
    EXPECT_TRUE(ui::WaitForWindowGone(setup, kDialogWaitMs));
}

TEST_F(SetupDialogTest, WeightOutOfRangeIsRefusedAndTheDialogStays) {
    const Bytes before = station_->ReadConfig();
    HWND setup = OpenSetup();
    ASSERT_NE(setup, nullptr);
    ui::SetText(setup, IDC_SETUP_WEIGHT, "95");
    ui::Click(setup, IDC_SETUP_DONE);
    HWND box = ui::WaitForMessageBox(station_->process_id(), "Parameter Error", kDialogWaitMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::MessageBoxText(box), "Weight must be between 10 and 90");
    ui::DismissMessageBox(box);
    EXPECT_TRUE(ui::WaitForWindowGone(box, kDialogWaitMs));
    EXPECT_TRUE(IsWindowVisible(setup));
    // The dialog's thread may still be taking the box down, which Wine makes slow on a
    // display without a window manager: the field is read until it answers.
    EXPECT_TRUE(ui::WaitForText(setup, IDC_SETUP_WEIGHT, "95", kDialogWaitMs))
        << ui::ReadText(setup, IDC_SETUP_WEIGHT);
    EXPECT_EQ(station_->ReadConfig(), before) << "nothing is saved while a check fails";
}

TEST_F(SetupDialogTest, DoneSavesTheFileAndLoadsTheNewBlockIntoTheKeyer) {
    HWND setup = OpenSetup();
    ASSERT_NE(setup, nullptr);
    ui::SetText(setup, IDC_SETUP_WEIGHT, "60");
    ui::SetText(setup, IDC_SETUP_MAX_WPM, "40");
    ui::Click(setup, IDC_SETUP_SWAP);
    ui::Select(setup, IDC_SETUP_CW_MODE, 0);      // Iambic A
    ui::Select(setup, IDC_SETUP_FREQ, 2);         // 1333 Hz
    ui::Select(setup, IDC_SETUP_PADDLE_HANG, 2);  // 1.6 Word
    ui::Select(setup, IDC_SETUP_OUTPUT, 3);       // Port 2, Tone On
    ui::Click(setup, IDC_SETUP_DONE);
    ASSERT_TRUE(ui::WaitForWindowGone(setup, kDialogWaitMs));

    Bytes expected = StationImage(static_cast<uint32_t>(emulator_.com_port), kNetModeOff, 0, kWpm);
    KeyerSettings block;
    std::memcpy(&block, &expected[offsetof(SettingsRecord, keyer_settings)], sizeof block);
    block.mode_register = 0x10 | kModeSwap;
    block.sidetone = 3;
    block.weight = 60;
    block.wpm_range = 35;
    block.pin_config = 0x20 | 0x0A;  // hang 1.6, port 2 with tone, no PTT
    std::memcpy(&expected[offsetof(SettingsRecord, keyer_settings)], &block, sizeof block);
    EXPECT_EQ(Hex(station_->ReadConfig()), Hex(expected));

    Bytes load(1 + sizeof block);
    load[0] = 0x0F;  // the keyer's load command, then the block
    std::memcpy(&load[1], &block, sizeof block);
    const Bytes wire = WireSinceMarkContaining(load);
    EXPECT_NE(std::search(wire.begin(), wire.end(), load.begin(), load.end()), wire.end())
        << Hex(wire);
}

}  // namespace
