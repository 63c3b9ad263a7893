// The system as its users meet it: two real stations on this machine, a RemoteSide "Net
// Server" at the site and a ControlPoint "Net Client" at home, each with its own folder,
// configuration and emulated keyer, driven only through their windows and the emulators.
// Each case is one story of what the operator does and what the keyers see.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "app/resource_texts.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tools/common/wait_until.h"
#include "tools/wine_kit/two_stations_fixture.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

constexpr size_t kBlockAt = offsetof(SettingsRecord, keyer_settings);
constexpr size_t kWpmAt = kBlockAt + offsetof(KeyerSettings, wpm);

// The keyer's load command as it reaches the wire: 0F, the block, a speed-pot request, 15.
Bytes LoadCommand(const Bytes& block) {
    Bytes load(block.size() + 3);
    load.front() = 0x0F;
    std::copy(block.begin(), block.end(), load.begin() + 1);
    load[load.size() - 2] = 0x07;
    load.back() = 0x15;
    return load;
}

// The keyer block of a configuration image; empty for a short one.
Bytes BlockOf(const Bytes& image) {
    if (image.size() < kBlockAt + sizeof(KeyerSettings)) {
        return Bytes();
    }
    return Bytes(image.begin() + kBlockAt, image.begin() + kBlockAt + sizeof(KeyerSettings));
}

// The tone output bit of pin_config, which Remote Sidetone turns on in the site's copy.
constexpr uint8_t kPinTone = 0x02;

bool Contains(const Bytes& bytes, const Bytes& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

// Both stations set up as the Setup dialog leaves them for their roles: the site's keyer
// echoes what it is sent, the home keyer what its paddles key. The ControlPoint has
// Remote Sidetone on and a paddle-only sidetone of its own, and M1 holds tokens.
class AcceptanceTest : public TwoStationsTest {
  protected:
    // The ControlPoint's block as the site's keyer gets it: serial echo instead of paddle
    // echo, the tone output on (pin_config 0x02) and no paddle-only bit in the sidetone.
    static constexpr uint8_t kBlockForTheSite[15] = {
        0x04, kClientWpm, 0x05, 50, 0, 0, 5, 20, 0, 0, 0, 50, 50, kPinTone, 0};

    void AdjustServerImage(Bytes* image) override {
        (*image)[kBlockAt + offsetof(KeyerSettings, mode_register)] = kModeSerialEcho;
    }
    void AdjustClientImage(Bytes* image) override {
        (*image)[kBlockAt + offsetof(KeyerSettings, mode_register)] = kModePaddleEcho;
        (*image)[kBlockAt + offsetof(KeyerSettings, sidetone)] = kSidetonePaddleOnly | 5;
        const uint32_t flags = kNetModeClient | kNetRoleControlPoint | kNetRemoteSidetone;
        std::memcpy(image->data() + offsetof(SettingsRecord, net_flags), &flags, sizeof flags);
        PutMessage(image, 1, "[S25]cq[W05]de");
    }

    static Bytes BlockForTheSite() {
        return Bytes(std::begin(kBlockForTheSite), std::end(kBlockForTheSite));
    }

    // The link is up when the ControlPoint's block has reached the site's keyer: from then on
    // the site echoes what it keys.
    void WaitForTheControlPointsBlockAtTheSite() {
        const Bytes wire = WireSince(&server_keyer_, 0, LoadCommand(BlockForTheSite()));
        ASSERT_TRUE(Contains(wire, LoadCommand(BlockForTheSite()))) << Hex(wire);
    }

    void EnterSpeed(HWND station, const std::string& wpm) {
        ui::SelectAll(station, IDC_WPM);
        ui::TypeText(station, IDC_WPM, wpm + "\r");
    }

    std::string BothSpeeds() {
        return server_keyer_.StateField("wpm") + "/" + client_keyer_.StateField("wpm");
    }
    // Polls both keyers until they run at `wpm`; both speeds as "site/home" either way.
    std::string WaitForBothSpeeds(int wpm) {
        const std::string wanted = std::to_string(wpm) + "/" + std::to_string(wpm);
        std::string seen;
        WaitUntil([&] { return (seen = BothSpeeds()) == wanted; },
                  std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(50));
        return seen;
    }
};

constexpr uint8_t AcceptanceTest::kBlockForTheSite[15];

// The stories that hold whichever program runs the site.
using AcceptanceOnEachSiteTest = OnEachSite<AcceptanceTest>;
INSTANTIATE_TEST_SUITE_P(EachSite, AcceptanceOnEachSiteTest,
                         ::testing::Values(Site::kWine, Site::kNative), SiteParamName);

// A typical exchange: the operator types at home, the site's keyer keys it, and what it
// actually sent comes back to the echo line at home; the site's keyer status shows at home
// and paces the typing.
TEST_P(AcceptanceOnEachSiteTest, TextTypedAtHomeIsKeyedAtTheSiteAndItsEchoComesBack) {
    ASSERT_NO_FATAL_FAILURE(WaitForTheControlPointsBlockAtTheSite());
    const size_t site_mark = server_keyer_.Received().size();
    const size_t home_mark = client_keyer_.Received().size();

    ui::TypeText(client(), IDC_LOG_PANE, "cq de test");
    const Bytes text = {'C', 'Q', ' ', 'D', 'E', ' ', 'T', 'E', 'S', 'T'};
    EXPECT_EQ(Hex(WireSince(&server_keyer_, site_mark, text)), Hex(text));
    EXPECT_EQ(Hex(WireSince(&client_keyer_, home_mark, text)), Hex(text))
        << "the home keyer sends it too";
    EXPECT_TRUE(ui::WaitForText(client(), IDC_ECHO_LINE, "CQ DE TEST", kWaitMs))
        << ui::ReadText(client(), IDC_ECHO_LINE);
    const std::string keyed = server_keyer_.Command("keyed");
    EXPECT_EQ(keyed, "ok CQ DE TEST");
    EXPECT_TRUE(EndsWith(ui::ReadText(client(), IDC_LOG_PANE), "CQ DE TEST"));
    // The guide's pictures show the link field filled: the first heartbeat's answer is in.
    EXPECT_TRUE(EndsWith(WaitForTextEnding(client(), IDC_LINK_HEALTH, " ms", kWaitMs), " ms"));
    if (site_kind() == Site::kWine) {
        EXPECT_EQ(ui::ReadText(server(), IDC_ECHO_LINE), "")
            << "the site reports, it shows nothing";
        SaveNamedScreenshot(client(), "guide_main_window");
        ui::PlaceSideBySide(client(), server(), 16);
        SaveNamedScreenshot(
            {server(), client()}, "guide_two_stations",
            {"Site (RemoteSide): its keyer keyed \"" + keyed.substr(keyed.find(' ') + 1) + "\"",
             "Home (ControlPoint): typed, echoed back"});
    }

    // The site's keyer holds, is busy and waits: home shows it and takes no typing.
    ASSERT_EQ(server_keyer_.Command("inject D5"), "ok");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_BUSY_STATUS, "Busy", kWaitMs));
    EXPECT_TRUE(ui::WaitForText(client(), IDC_WAIT_STATUS, "Wait", kWaitMs));
    if (site_kind() == Site::kWine) {
        EXPECT_NE(ui::ReadText(server(), IDC_BUSY_STATUS), "Busy");
    }
    const size_t held_mark = server_keyer_.Received().size();
    ui::TypeText(client(), IDC_LOG_PANE, "x");
    // It goes on: the fields clear and typing is taken again.
    ASSERT_EQ(server_keyer_.Command("inject C0"), "ok");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_BUSY_STATUS, " ", kWaitMs));
    EXPECT_TRUE(ui::WaitForText(client(), IDC_WAIT_STATUS, " ", kWaitMs));
    ui::TypeText(client(), IDC_LOG_PANE, "k");
    EXPECT_EQ(Hex(WireSince(&server_keyer_, held_mark, {'K'})), Hex({'K'}))
        << "the X typed while the site held is dropped";
}

// Pasted at home, a text longer than the keyers hold waits its turn while the site is busy,
// and reaches the site whole, upper-cased, each line break a space.
TEST_F(AcceptanceTest, TextPastedAtHomeReachesTheSiteWholeWhileBusyComesAndGoes) {
    ASSERT_NO_FATAL_FAILURE(WaitForTheControlPointsBlockAtTheSite());
    const size_t site_mark = server_keyer_.Received().size();
    std::string pasted;
    std::string sent;
    for (int line = 0; line < 20; ++line) {
        pasted += "paris qrz\r\n";
        sent += "PARIS QRZ ";
    }
    ASSERT_TRUE(ui::PutOnClipboard(pasted));
    ui::TypeText(client(), IDC_LOG_PANE, "\x16");  // Ctrl+V
    EXPECT_TRUE(ui::WaitForText(client(), IDC_BUSY_STATUS, "Busy", kWaitMs));
    const Bytes text(sent.begin(), sent.end());
    EXPECT_EQ(Hex(WireSince(&server_keyer_, site_mark, text)), Hex(text));
    EXPECT_TRUE(ui::WaitForText(client(), IDC_BUSY_STATUS, " ", kWaitMs));
    EXPECT_TRUE(EndsWith(ui::ReadText(client(), IDC_LOG_PANE), sent));
}

// At the connect each keyer gets its block: home's own unchanged, the site's adjusted for its
// role. The speed set at home, in the field or with the spin bar, reaches both keyers.
TEST_F(AcceptanceTest, SettingsAndSpeedFromHomeReachBothKeyers) {
    ASSERT_NO_FATAL_FAILURE(WaitForTheControlPointsBlockAtTheSite());
    const Bytes home = WireSince(&client_keyer_, 0, LoadCommand(BlockOf(client_image_)));
    EXPECT_TRUE(Contains(home, LoadCommand(BlockOf(client_image_)))) << Hex(home);
    EXPECT_FALSE(Contains(home, LoadCommand(BlockForTheSite()))) << Hex(home);

    EnterSpeed(client(), "24");
    EXPECT_EQ(WaitForBothSpeeds(24), "24/24");
    ui::ClickScrollArrow(client(), IDC_WPM_SPIN, true);
    EXPECT_EQ(WaitForBothSpeeds(25), "25/25");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_WPM, "25", kWaitMs));
    // 25 is the top of the speed-pot range (5 + 20): up again stays there.
    ui::ClickScrollArrow(client(), IDC_WPM_SPIN, true);
    ui::ClickScrollArrow(client(), IDC_WPM_SPIN, false);
    ui::ClickScrollArrow(client(), IDC_WPM_SPIN, false);
    EXPECT_EQ(WaitForBothSpeeds(23), "23/23");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_WPM, "23", kWaitMs));
}

// M1 holds "[S25]cq[W05]de": its buffered commands and text reach the site's keyer in order.
TEST_P(AcceptanceOnEachSiteTest, StoredMessageFromM1PutsItsCommandsOnTheSitesWireInOrder) {
    ASSERT_NO_FATAL_FAILURE(WaitForTheControlPointsBlockAtTheSite());
    const size_t mark = server_keyer_.Received().size();
    ui::Click(client(), IDC_M1);
    const Bytes message = {0x1C, 25, 'C', 'Q', 0x1A, 5, 'D', 'E'};
    EXPECT_EQ(Hex(WireSince(&server_keyer_, mark, message)), Hex(message));
    EXPECT_TRUE(ui::WaitForText(client(), IDC_ECHO_LINE, "CQDE", kWaitMs))
        << ui::ReadText(client(), IDC_ECHO_LINE);
}

// Tune, Pause and Clear at home drive the site's keyer; at a Wine site itself Tune is
// refused and Pause is its own.
TEST_P(AcceptanceOnEachSiteTest, TunePauseAndClearAtHomeDriveTheSitesKeyer) {
    ASSERT_NO_FATAL_FAILURE(WaitForTheControlPointsBlockAtTheSite());
    if (site_kind() == Site::kWine) {
        ui::Click(server(), IDC_TUNE);
        ui::Click(server(), IDC_PAUSE);
        // The two presses are handled in order, so once Pause shows, Tune has been refused.
        ASSERT_TRUE(ui::WaitForText(server(), IDC_PAUSE, "Go", kWaitMs));
        EXPECT_EQ(ui::ReadText(server(), IDC_TUNE), "Tune");
        ui::Click(server(), IDC_PAUSE);
        ASSERT_TRUE(ui::WaitForText(server(), IDC_PAUSE, "Pause", kWaitMs));
    }
    EXPECT_EQ(server_keyer_.StateField("keydown"), "0");
    EXPECT_EQ(server_keyer_.StateField("pause"), "0");
    EXPECT_EQ(client_keyer_.StateField("pause"), "0");

    const size_t mark = server_keyer_.Received().size();
    ui::Click(client(), IDC_TUNE);
    EXPECT_EQ(server_keyer_.WaitForStateField("keydown", "1", kWaitMs), "1");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_TUNE, "Off", kWaitMs));
    EXPECT_EQ(client_keyer_.StateField("keydown"), "0") << "Tune keys the site only";
    ui::Click(client(), IDC_PAUSE);
    EXPECT_EQ(server_keyer_.WaitForStateField("pause", "1", kWaitMs), "1");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_PAUSE, "Go", kWaitMs));

    // Clear, then pause off and key up, each as it arrives (the last two may share one
    // pass of the site's keyer writer, which sends key before pause).
    ui::Click(client(), IDC_CLEAR);
    EXPECT_EQ(server_keyer_.WaitForStateField("pause", "0", kWaitMs), "0");
    EXPECT_EQ(server_keyer_.WaitForStateField("keydown", "0", kWaitMs), "0");
    const std::string wire = Hex(WireSince(&server_keyer_, mark, {0x0A}));
    EXPECT_TRUE(wire == Hex({0x0B, 0x01, 0x06, 0x01, 0x0A, 0x06, 0x00, 0x0B, 0x00}) ||
                wire == Hex({0x0B, 0x01, 0x06, 0x01, 0x0A, 0x0B, 0x00, 0x06, 0x00}))
        << wire;
    EXPECT_TRUE(ui::WaitForText(client(), IDC_TUNE, "Tune", kWaitMs));
    EXPECT_TRUE(ui::WaitForText(client(), IDC_PAUSE, "Pause", kWaitMs));

    // Keyed once more, the site is left so to the fixture's end: a native site's SIGTERM
    // comes while Tune from home holds its key.
    ui::Click(client(), IDC_TUNE);
    EXPECT_EQ(server_keyer_.WaitForStateField("keydown", "1", kWaitMs), "1");
}

// A keyer setting changed at home in the Setup dialog reaches the site's keyer at once.
TEST_F(AcceptanceTest, SetupDoneAtHomeReloadsTheSitesKeyerWhileLinked) {
    ASSERT_NO_FATAL_FAILURE(WaitForTheControlPointsBlockAtTheSite());
    const size_t mark = server_keyer_.Received().size();
    ui::Click(client(), IDC_SETUP);
    HWND setup = ui::WaitForDialog(client_->process_id(), PELLMAR_SETUP_CAPTION, kWaitMs);
    ASSERT_NE(setup, nullptr);
    ui::SetText(setup, IDC_SETUP_WEIGHT, "60");
    SaveNamedScreenshot(setup, "guide_setup_dialog");
    ui::Click(setup, IDC_SETUP_DONE);
    ASSERT_TRUE(ui::WaitForWindowGone(setup, kWaitMs));

    // Done stores the block (the weight, and what the dialog itself sets: the speed from the
    // keyer's pot, the output from its list) and sends the site its role's copy of it.
    Bytes block = BlockOf(client_->ReadConfig());
    ASSERT_EQ(block.size(), sizeof(KeyerSettings));
    EXPECT_EQ(block[offsetof(KeyerSettings, weight)], 60);
    block[offsetof(KeyerSettings, mode_register)] = kModeSerialEcho;
    block[offsetof(KeyerSettings, sidetone)] &= kSidetoneFrequencyMask;
    block[offsetof(KeyerSettings, pin_config)] |= kPinTone;
    const Bytes wire = WireSince(&server_keyer_, mark, LoadCommand(block));
    EXPECT_TRUE(Contains(wire, LoadCommand(block))) << Hex(wire);
}

// The site's program dies; home sees the link gone. Once the site runs again, two presses
// of Open/Close at home (close what is left, open anew) link them again.
TEST_F(AcceptanceTest, SiteKilledAndStartedAgainIsLinkedAgainByTwoPressesAtHome) {
    const std::string mark = ui::ReadText(client(), IDC_HEARTBEAT);
    EXPECT_NE(WaitForTextChange(client(), IDC_HEARTBEAT, mark, kWaitMs), mark);

    server_->Kill();
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS);

    // A keyer in host mode does not answer a second host open, and nothing took this one out
    // of it: it is switched off and on before the site's program starts again.
    ASSERT_EQ(server_keyer_.Command("reset"), "ok");
    ASSERT_NO_FATAL_FAILURE(OpenServer()) << "the site's program in its own folder again";
    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(client(), &client_keyer_));
    ASSERT_NO_FATAL_FAILURE(OpenClient());
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs))
        << ui::ReadText(client(), IDC_REMOTE_STATUS);
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    const std::string again = ui::ReadText(client(), IDC_HEARTBEAT);
    EXPECT_NE(WaitForTextChange(client(), IDC_HEARTBEAT, again, kWaitMs), again)
        << "the heartbeat is answered again";
}

// Open/Close at either side hands its keyer back (base mode, host close) and keeps its
// settings in its file: here the speed each operator set.
TEST_F(AcceptanceTest, OpenCloseAtEachSideClosesItsKeyerAndSavesItsSettings) {
    ASSERT_NO_FATAL_FAILURE(WaitForTheControlPointsBlockAtTheSite());
    EnterSpeed(client(), "24");
    ASSERT_EQ(WaitForBothSpeeds(24), "24/24");
    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(client(), &client_keyer_));
    Bytes home = client_image_;
    home[kWpmAt] = 24;
    EXPECT_EQ(Hex(client_->ReadConfig()), Hex(home));

    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connection Closed", kWaitMs));
    EnterSpeed(server(), "18");
    ASSERT_EQ(server_keyer_.WaitForStateField("wpm", "18", kWaitMs), "18");
    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(server(), &server_keyer_));
    Bytes site = server_image_;
    site[kWpmAt] = 18;
    EXPECT_EQ(Hex(server_->ReadConfig()), Hex(site));
}

}  // namespace
