// The operator drives the local keyer from the Main window of the real program: what is typed,
// the speed typed into the WPM field, and Tune, each checked on the emulated keyer's wire; and
// Windows ends the session under a tuned station.
#include "app/resource_ids.h"
#include "tools/wine_kit/station_fixtures.h"

namespace {

using OperatorControls = KeyedStationTest;

// A shutdown, logoff or update restart as the windows of the prefix meet it: asked whether the
// session may end, then told that it does. True once every window has answered both.
bool EndTheSession() {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    char command[] = "wineboot.exe --end-session";
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(info.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(info.hProcess, &code);
    }
    CloseHandle(info.hProcess);
    return code == 0;
}

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
    ASSERT_TRUE(EndTheSession());
    // Windows may end the process the moment its window has answered, so the release must
    // already be on its way.
    station_->Kill();
    const Bytes wire = WireSinceMarkContaining(Bytes{0x0B, 0x00});
    EXPECT_EQ(Hex(wire), Hex(Bytes{0x0B, 0x01, 0x0B, 0x00, 0x14, 0x00}));
    // As at Exit, host mode stays open.
    EXPECT_EQ(keyer_.StateField("host"), "1");
}

}  // namespace
