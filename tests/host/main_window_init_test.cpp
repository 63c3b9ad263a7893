#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "settings/config_file.h"
#include "settings/settings_record.h"
#include "station/station.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace {

class MainWindowInitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&settings, 0, sizeof settings);
        config_path = folder.File("pellmar.cfg");
    }
    TempFolder folder;
    RecordingWindow window;
    MainWindowView view;
    Station station{view, view, nullptr};
};

TEST_F(MainWindowInitTest, FreshStartShowsClosedLinksAndTheDefaultSpeed) {
    station.net().SetLinked(true);
    station.net().SetPending(true);
    station.state().remote_busy = 1;
    station.Start();

    EXPECT_TRUE(std::filesystem::exists(config_path));
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
    SetDefaultSettings();
    settings.keyer_settings.wpm = 0;
    ASSERT_EQ(SaveConfigFile(), 1);
    std::memset(&settings, 0, sizeof settings);

    station.Start();
    EXPECT_EQ(window.Text(IDC_WPM), "");
    EXPECT_FALSE(window.Enabled(IDC_WPM));
    EXPECT_EQ(station.state().pot_speed_active, 1);
}

TEST_F(MainWindowInitTest, SpeedIsShownAsAnUnsignedNumber) {
    SetDefaultSettings();
    settings.keyer_settings.wpm = 200;
    ASSERT_EQ(SaveConfigFile(), 1);
    station.state().pot_speed_active = 1;

    station.Start();
    EXPECT_EQ(window.Text(IDC_WPM), "200");
    EXPECT_EQ(station.state().pot_speed_active, 0);
}

}  // namespace
