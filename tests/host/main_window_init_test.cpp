// What a station shows as the program starts, read by meaning; main_window_view_test checks
// the control and the words of each.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "net/packet.h"
#include "net/socket_api.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_folder.h"

namespace {

class MainWindowInitTest : public ::testing::Test {
  protected:
    void TearDown() override { station.CloseAndExit("the test ends"); }

    TempFolder folder;
    RecordingView view;
    SocketLoop sockets;
    Station station{view, view, sockets, StationSetup{folder.File("pellmar.cfg"), {}, {}, {}}};
    SettingsStore& store = station.settings();
    SettingsRecord& settings = store.record();
};

TEST_F(MainWindowInitTest, FreshStartShowsClosedLinksAndTheDefaultSpeed) {
    // Whatever the station did before its start: listening, and told the other keyer holds.
    store.PublishNetFlags(kNetLocalKeyerDisabled | kNetModeServer | kNetIpAddrOverride);
    std::strcpy(settings.ip_address, "127.0.0.1");
    settings.ip_port = 0;
    ASSERT_EQ(station.OpenConnection(), 1) << view.Log();
    station.processIPpacket(BuildPacket(PKT_STATUS, keyer_wire::kStatusHold));
    station.Start();

    EXPECT_TRUE(std::filesystem::exists(store.config_path()));
    EXPECT_EQ(view.Count("ShowLocalKeyer"), 1);
    EXPECT_EQ(view.LocalKeyer(), LocalKeyerState::kClosed);
    EXPECT_EQ(view.Count("ShowRemoteKeyerClosed"), 1);
    EXPECT_EQ(view.Network(), NetworkStatus::kNoConnection);
    EXPECT_EQ(view.Latest("ShowSpeed"), "16");
    EXPECT_EQ(view.Latest("AllowSpeedEntry"), "true");
    EXPECT_FALSE(station.IsSpeedFromPot());
    EXPECT_FALSE(station.IsLinked());
    EXPECT_FALSE(station.IsLinkPending());
    EXPECT_FALSE(station.IsRemoteKeyerHolding());
}

TEST_F(MainWindowInitTest, SpeedZeroHandsTheSpeedToThePot) {
    store.SetDefaults();
    settings.keyer_settings.wpm = 0;
    ASSERT_EQ(store.Save(), 1);
    std::memset(&settings, 0, sizeof settings);

    station.Start();
    EXPECT_EQ(view.Count("ShowSpeed"), 0) << "the speed field stays empty";
    EXPECT_EQ(view.Latest("AllowSpeedEntry"), "false");
    EXPECT_TRUE(station.IsSpeedFromPot());
}

TEST_F(MainWindowInitTest, SpeedIsShownAsAnUnsignedNumber) {
    station.LockSpeedToPot(true);
    store.SetDefaults();
    settings.keyer_settings.wpm = 200;
    ASSERT_EQ(store.Save(), 1);

    station.Start();
    EXPECT_EQ(view.Latest("ShowSpeed"), "200");
    EXPECT_FALSE(station.IsSpeedFromPot());
}

TEST_F(MainWindowInitTest, AServerOpenedAtStartWaitsWithItsInputHeld) {
    station.Start();
    settings.open_at_startup = 1;
    store.PublishNetFlags(kNetModeServer);
    station.OpenAtStartup();
    station.OnLinkWatchTick();
    EXPECT_FALSE(station.IsLinkPending());
    EXPECT_EQ(view.Latest("HoldInput"), "true");
    EXPECT_EQ(view.Network(), NetworkStatus::kWaitingToListen);
}

}  // namespace
