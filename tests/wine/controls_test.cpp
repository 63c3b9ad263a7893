// The operator drives the local keyer from the Main window of the real program: what is typed,
// the speed typed into the WPM field, and Tune, each checked on the emulated keyer's wire; and
// Windows ends the session under a tuned station.
#include "app/resource_ids.h"
#include "tools/wine_kit/station_fixtures.h"

namespace {

using OperatorControls = KeyedStationTest;

TEST_F(OperatorControls, TypedTextReachesTheKeyerInUpperCaseAndShowsInTheLogPane) {
    ui::TypeText(window(), IDC_LOG_PANE, "cq de\r");
    EXPECT_EQ(WireSinceMarkContaining(Bytes{'C', 'Q', ' ', 'D', 'E'}),
              (Bytes{'C', 'Q', ' ', 'D', 'E'}));
    EXPECT_TRUE(EndsWith(WaitForTextEnding(window(), IDC_LOG_PANE, "CQ DE", kWaitMs), "CQ DE"));
    SaveNamedScreenshot(window(), "main_window_typed");
}

TEST_F(OperatorControls, SpeedTypedIntoTheWpmFieldWithEnterReachesTheKeyer) {
    ui::SelectAll(window(), IDC_WPM);
    ui::TypeText(window(), IDC_WPM, "2x2\r");  // the field takes digits only
    const Bytes wire = WireSinceMarkContaining(Bytes{0x02, 22});
    EXPECT_TRUE(EndsWith(wire, Bytes{0x02, 22})) << Hex(wire);
    EXPECT_EQ(ui::ReadText(window(), IDC_WPM), "22");
    EXPECT_TRUE(ui::WaitForFocus(window(), IDC_LOG_PANE, kWaitMs));
}

TEST_F(OperatorControls, TuneKeysDownAndItsSecondPressKeysUp) {
    ui::Click(window(), IDC_TUNE);
    EXPECT_TRUE(EndsWith(WireSinceMarkContaining(Bytes{0x0B, 0x01}), Bytes{0x0B, 0x01}));
    EXPECT_TRUE(ui::WaitForText(window(), IDC_TUNE, "Off", kWaitMs));
    ui::Click(window(), IDC_TUNE);
    const Bytes wire = WireSinceMarkContaining(Bytes{0x0B, 0x00});
    EXPECT_EQ(wire, (Bytes{0x0B, 0x01, 0x0B, 0x00})) << Hex(wire);
    EXPECT_TRUE(ui::WaitForText(window(), IDC_TUNE, "Tune", kWaitMs));
}

TEST_F(OperatorControls, EndOfTheWindowsSessionWhileTunedReleasesTheKeyAsExitDoes) {
    ui::Click(window(), IDC_TUNE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_TUNE, "Off", kWaitMs));
    // What a shutdown, logoff or update restart does to the windows of the prefix: asks
    // whether the session may end, then tells them it does, waiting for each answer.
    ui::Program session_end;
    ASSERT_TRUE(ui::StartProgram("C:\\windows\\system32\\wineboot.exe", station_->folder(),
                                 &session_end, "--end-session"));
    ASSERT_EQ(ui::WaitForExit(&session_end, kWaitMs), 0);
    ui::StopProgram(&session_end);
    // Windows may end the process the moment its window has answered, so the release must
    // already be on its way.
    station_->Kill();
    const Bytes wire = WireSinceMarkContaining(Bytes{0x0B, 0x00});
    EXPECT_EQ(Hex(wire), Hex(Bytes{0x0B, 0x01, 0x0B, 0x00, 0x14, 0x00}));
    // As at Exit, host mode stays open.
    EXPECT_EQ(keyer_.StateField("host"), "1");
}

}  // namespace
