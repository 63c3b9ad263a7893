#include "tools/wine_kit/two_stations_fixture.h"

#include <fstream>

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
    server_ = MakeRemoteSite(SiteKind(), server_keyer);
    server_image_ = StationImage(static_cast<uint32_t>(server_keyer.com_port), ServerNetFlags(),
                                 port_, kServerWpm);
    AdjustServerImage(&server_image_);
    server_->WriteConfig(server_image_);
    // Home and the site share this machine, where only home may have the logger port.
    server_->WriteIni("[Logger]\nPort = 0\n" + ServerIni());
    client_ = std::make_unique<PellmarProcess>();
    client_image_ = StationImage(static_cast<uint32_t>(client_keyer.com_port), ClientNetFlags(),
                                 ClientPort(port_), kClientWpm);
    AdjustClientImage(&client_image_);
    client_->WriteConfig(client_image_);
    if (!ClientIni().empty()) {
        std::ofstream(client_->folder() + "pellmar.ini", std::ios::binary) << ClientIni();
    }

    if ((ServerNetFlags() & kNetModeMask) == kNetModeClient) {
        ASSERT_NO_FATAL_FAILURE(OpenHomeServer());
        ASSERT_TRUE(server_->Start("Connected to server.")) << server_->Shown();
        return;
    }
    ASSERT_NO_FATAL_FAILURE(OpenServer());
    ASSERT_TRUE(StartInJob(client_.get()));
    ASSERT_NO_FATAL_FAILURE(OpenClient());
}

void TwoStationsTest::EndStations() {
    client_.reset();
    if (server_ != nullptr && server_->kind() == Site::kNative && !HasFatalFailure()) {
        ExpectSigtermReleasesTheKeyer();
    }
    server_.reset();
}

void TwoStationsTest::TearDown() {
    EndStations();
    ExpectAnswered(server_keyer_);
    ExpectAnswered(client_keyer_);
    server_keyer_.Close();
    client_keyer_.Close();
    StationTestBase::TearDown();
}

uint32_t TwoStationsTest::ServerNetFlags() const {
    return kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
}

uint32_t TwoStationsTest::ClientNetFlags() const {
    return kNetModeClient | kNetRoleControlPoint;
}

void TwoStationsTest::OpenServer() {
    ASSERT_TRUE(server_->StartListening()) << server_->Shown();
}

void TwoStationsTest::OpenClient() {
    ui::Click(client(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to server.", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS) << "\n"
        << ui::ReadText(client(), IDC_LOG_PANE);
}

void TwoStationsTest::OpenHomeServer() {
    ASSERT_TRUE(StartInJob(client_.get()));
    ui::Click(client(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, RemoteSite::kListening, kWaitMs))
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

void TwoStationsTest::ExpectSigtermReleasesTheKeyer() {
    const size_t mark = server_keyer_.Received().size();
    const DWORD asked = GetTickCount();
    EXPECT_EQ(server_->Exit(5000), 0) << server_->Shown();
    EXPECT_LE(GetTickCount() - asked, 1000u);
    // The release as at every end of a link (clear, PTT off, key up, paddles up), and host
    // mode ended last.
    const Bytes let_go = {0x0A, 0x18, 0x00, 0x0B, 0x00, 0x14, 0x00};
    const Bytes host_close = {0x00, 0x0A, 0x00, 0x03};
    const std::string wire = Hex(WireSince(&server_keyer_, mark, host_close));
    EXPECT_NE(wire.find(Hex(let_go)), std::string::npos) << wire;
    EXPECT_TRUE(EndsWith(wire, Hex(host_close))) << wire;
    EXPECT_EQ(server_keyer_.StateField("keydown"), "0");
    EXPECT_TRUE(EndsWith(server_->Shown(), "pellmar-site stopped\n")) << server_->Shown();
}
