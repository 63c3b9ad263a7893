#include "tools/wine_kit/two_stations_fixture.h"

#include "app/resource_ids.h"
#include "settings/settings_record.h"

void TwoStationsTest::SetUp() {
    Emulator server_keyer;
    Emulator client_keyer;
    ASSERT_TRUE(EmulatorFromEnvironment(0, &server_keyer) &&
                EmulatorFromEnvironment(1, &client_keyer))
        << "run these tests through tools/wine_kit/with_keyer_sims.sh, which starts the "
           "emulators";
    StationTestBase::SetUp();
    ASSERT_TRUE(server_keyer_.Connect(server_keyer.control_port));
    ASSERT_TRUE(client_keyer_.Connect(client_keyer.control_port));
    ASSERT_EQ(server_keyer_.Command("reset"), "ok");
    ASSERT_EQ(client_keyer_.Command("reset"), "ok");

    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
    server_ = std::make_unique<Station>();
    server_image_ = StationImage(static_cast<uint32_t>(server_keyer.com_port), ServerNetFlags(),
                                 port_, kServerWpm);
    AdjustServerImage(&server_image_);
    server_->WriteConfig(server_image_);
    client_ = std::make_unique<Station>();
    client_image_ =
        StationImage(static_cast<uint32_t>(client_keyer.com_port),
                     kNetModeClient | kNetRoleControlPoint, ClientPort(port_), kClientWpm);
    AdjustClientImage(&client_image_);
    client_->WriteConfig(client_image_);

    ASSERT_TRUE(StartInJob(server_.get()));
    ASSERT_NO_FATAL_FAILURE(OpenServer());
    ASSERT_TRUE(StartInJob(client_.get()));
    ASSERT_NO_FATAL_FAILURE(OpenClient());
}

void TwoStationsTest::TearDown() {
    client_.reset();
    server_.reset();
    ExpectAnswered(server_keyer_);
    ExpectAnswered(client_keyer_);
    server_keyer_.Close();
    client_keyer_.Close();
    StationTestBase::TearDown();
}

uint32_t TwoStationsTest::ServerNetFlags() const {
    return kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
}

void TwoStationsTest::OpenServer() {
    ui::Click(server(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Listening for Request....", kWaitMs))
        << ui::ReadText(server(), IDC_LOG_PANE);
}

void TwoStationsTest::OpenClient() {
    ui::Click(client(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to server.", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS) << "\n"
        << ui::ReadText(client(), IDC_LOG_PANE);
}

void TwoStationsTest::PressCloseAndExpectClosed(HWND station, KeyerSimControl* keyer) {
    ui::Click(station, IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(station, IDC_OPEN_CLOSE, "Open", kWaitMs))
        << ui::ReadText(station, IDC_OPEN_CLOSE);
    EXPECT_EQ(ui::ReadText(station, IDC_NET_STATUS), "Network Connection Closed");
    EXPECT_EQ(ui::ReadText(station, IDC_REMOTE_STATUS), "Remote Tarvel Closed");
    EXPECT_EQ(ui::ReadText(station, IDC_LOCAL_STATUS), "Local Tarvel Closed");
    const Bytes host_close = {0x00, 0x0A, 0x00, 0x03};
    const Bytes wire = keyer->ReceivedEndingWith(host_close, kWaitMs);
    EXPECT_TRUE(EndsWith(wire, host_close)) << Hex(wire);
}
