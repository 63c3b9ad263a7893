#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/host/station_on_file.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace {

class MainWindowInitTest : public ::testing::Test, protected StationOnFile {};

TEST_F(MainWindowInitTest, FreshStartShowsClosedLinksAndTheDefaultSpeed) {
    station.net().SetLinked(true);
    station.net().SetPending(true);
    station.state().remote_busy = 1;
    station.Start();

    EXPECT_TRUE(std::filesystem::exists(store.config_path()));
    EXPECT_EQ(window.Text(IDC_LOCAL_STATUS), "Local Tarvel Closed");
    EXPECT_EQ(window.Text(IDC_REMOTE_STATUS), "Remote Tarvel Closed");
    EXPECT_EQ(window.Text(IDC_NET_STATUS), "No Network Connection");
    EXPECT_EQ(window.Text(IDC_WPM), "16");
    EXPECT_TRUE(window.Enabled(IDC_WPM));
    EXPECT_EQ(station.state().pot_speed_active, 0);
    EXPECT_FALSE(station.net().IsLinked());
    EXPECT_FALSE(station.net().IsPending());
    EXPECT_EQ(station.state().remote_busy, 0);
}

TEST_F(MainWindowInitTest, SpeedZeroHandsTheSpeedToThePot) {
    store.SetDefaults();
    settings.keyer_settings.wpm = 0;
    ASSERT_EQ(store.Save(), 1);
    std::memset(&settings, 0, sizeof settings);

    station.Start();
    EXPECT_EQ(window.Text(IDC_WPM), "");
    EXPECT_FALSE(window.Enabled(IDC_WPM));
    EXPECT_EQ(station.state().pot_speed_active, 1);
}

TEST_F(MainWindowInitTest, SpeedIsShownAsAnUnsignedNumber) {
    store.SetDefaults();
    settings.keyer_settings.wpm = 200;
    ASSERT_EQ(store.Save(), 1);
    station.state().pot_speed_active = 1;

    station.Start();
    EXPECT_EQ(window.Text(IDC_WPM), "200");
    EXPECT_EQ(station.state().pot_speed_active, 0);
}

TEST_F(MainWindowInitTest, AServerOpenedAtStartWaitsWithItsInputHeld) {
    station.Start();
    settings.open_at_startup = 1;
    store.PublishNetFlags(kNetModeServer);
    view.AllowSpeedEntry(false);
    station.OpenAtStartup();
    station.OnLinkWatchTick();
    EXPECT_FALSE(station.net().IsPending());
    EXPECT_FALSE(window.Enabled(IDC_M6));
    view.HoldInput(false);
    EXPECT_TRUE(window.Enabled(IDC_M6));
    EXPECT_FALSE(window.Enabled(IDC_WPM)) << "the pot still sets the speed";
}

}  // namespace
