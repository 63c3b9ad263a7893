// What the keyer sends, shown by the real program at a station without a link: the echo
// line and the busy field follow the emulated keyer, and the station closes its keyer and
// exits while the keyer pours out events that its reader writes into the window.
#include <winsock2.h>

#include <windows.h>

#include <cstddef>
#include <string>

#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tools/wine_kit/station_fixtures.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

constexpr size_t kModeRegisterAt =
    offsetof(SettingsRecord, keyer_settings) + offsetof(KeyerSettings, mode_register);

// The keyer echoes what the operator's paddles key.
class PaddleEchoStationTest : public KeyedStationTest {
  protected:
    void AdjustImage(Bytes* image) override { (*image)[kModeRegisterAt] = kModePaddleEcho; }
};

// The keyer echoes what it sends from the serial line.
class SerialEchoStationTest : public KeyedStationTest {
  protected:
    void AdjustImage(Bytes* image) override { (*image)[kModeRegisterAt] = kModeSerialEcho; }
};

TEST_F(PaddleEchoStationTest, EchoLineShowsWhatThePaddlesKeyAndBusyFollowsTheKeyer) {
    ASSERT_EQ(keyer_.Command("paddle-key CQ TEST"), "ok");
    EXPECT_TRUE(ui::WaitForText(window(), IDC_BUSY_STATUS, "Busy", kWaitMs))
        << ui::ReadText(window(), IDC_BUSY_STATUS);
    EXPECT_TRUE(ui::WaitForText(window(), IDC_ECHO_LINE, "CQ TEST", kWaitMs))
        << ui::ReadText(window(), IDC_ECHO_LINE);
    EXPECT_TRUE(ui::WaitForText(window(), IDC_BUSY_STATUS, " ", kWaitMs));
}

TEST_F(KeyedStationTest, BreakInShowsUntilTheKeyerWaits) {
    ASSERT_EQ(keyer_.Command("inject C6"), "ok");
    EXPECT_TRUE(ui::WaitForText(window(), IDC_WAIT_STATUS, "BrkIn", kWaitMs));
    EXPECT_EQ(ui::ReadText(window(), IDC_BUSY_STATUS), "Busy");
    SaveNamedScreenshot(window(), "keyer_break_in");
    ASSERT_EQ(keyer_.Command("inject D2"), "ok");
    EXPECT_TRUE(ui::WaitForText(window(), IDC_WAIT_STATUS, "Wait", kWaitMs));
}

// Typing reaches the keyer through the Main window's typed-character path.
TEST_F(SerialEchoStationTest, TypedTextIsKeyedAndFillsTheEchoLine) {
    ui::TypeText(window(), IDC_LOG_PANE, "cq de");
    EXPECT_TRUE(ui::WaitForText(window(), IDC_ECHO_LINE, "CQ DE", kWaitMs))
        << ui::ReadText(window(), IDC_ECHO_LINE);
    EXPECT_EQ(keyer_.Command("keyed"), "ok CQ DE");
}

TEST_F(KeyedStationTest, ClosesTheKeyerAndExitsWhileTheKeyerPoursOutEvents) {
    // Status changes, break-ins and an echoed letter each time, far faster than a real keyer.
    KeyerFlood flood(emulator_.control_port, "inject C4 41 C0 D0 C6 C0");
    ASSERT_TRUE(flood.connected());
    for (int round = 0; round < 3; ++round) {
        flood.pouring = true;
        // Events are arriving: the echo line grows under the reader's calls.
        const std::string before = ui::ReadText(window(), IDC_ECHO_LINE);
        EXPECT_NE(WaitForTextChange(window(), IDC_ECHO_LINE, before, kWaitMs), before);

        ui::Click(window(), IDC_OPEN_CLOSE);
        ASSERT_TRUE(ui::WaitForText(window(), IDC_OPEN_CLOSE, "Open", kWaitMs))
            << "round " << round << ": the close did not come back";
        EXPECT_EQ(ui::ReadText(window(), IDC_LOCAL_STATUS), "Local Tarvel Closed");
        EXPECT_EQ(keyer_.WaitForStateField("host", "0", kWaitMs), "0");

        // A keyer out of host mode sends nothing, so the next handshake meets no stray byte.
        flood.pouring = false;
        ui::Click(window(), IDC_OPEN_CLOSE);
        ASSERT_TRUE(ui::WaitForText(window(), IDC_LOCAL_STATUS, "Local Tarvel V23 OnLine", kWaitMs))
            << ui::ReadText(window(), IDC_LOG_PANE);
    }
    flood.pouring = true;
    const std::string before = ui::ReadText(window(), IDC_ECHO_LINE);
    EXPECT_NE(WaitForTextChange(window(), IDC_ECHO_LINE, before, kWaitMs), before);
    ui::Click(window(), IDC_EXIT);
    EXPECT_EQ(station_->WaitForExit(kWaitMs), 0)
        << "the station did not end while events poured in";
}

}  // namespace
