// An unattended site stays on the air through restarts, whichever program runs it: restarted
// while linked, it listens again at once and home links again by itself; dialing out to
// home, it links again by itself once home is back; and a home on IPv6 reaches it too.
#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tools/common/wait_until.h"
#include "tools/wine_kit/two_stations_fixture.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

// The Connect log line of a Net Client that waits before its next try.
constexpr const char* kTryAgain = "Trying the server again in ";

// The wait, in milliseconds, that the last such line in `log` announced; 0 for none.
int AnnouncedWaitMs(const std::string& log) {
    const size_t at = log.rfind(kTryAgain);
    return at == std::string::npos ? 0 : 1000 * std::atoi(log.c_str() + at + strlen(kTryAgain));
}

class BackOnTheAirTest : public TwoStationsTest {
  protected:
    // A Net Client whose server was away and is back, and whose Connect log `log` gives, is
    // linked by the try it waits for: `linked(timeout_ms)` waits for the link, and no further
    // wait is announced meanwhile.
    void ExpectLinkedAtThePendingTry(const std::function<std::string()>& log,
                                     const std::function<bool(int)>& linked) {
        const std::string before = log();
        ASSERT_TRUE(linked(AnnouncedWaitMs(before) + kWaitMs)) << log();
        EXPECT_EQ(CountOf(log(), kTryAgain), CountOf(before, kTryAgain))
            << "a try after its server was back failed:\n"
            << log();
    }
};

// The site lets only home in, so that a stranger's connection from 127.0.0.2 shows when the
// site takes connections again without taking home's place.
class SiteRestartTest : public BackOnTheAirTest {
  protected:
    static constexpr const char* kRefused = "Connection refused: 127.0.0.2 is not allowed.";

    std::string ServerIni() const override { return "[Network]\r\nAllowFrom = 127.0.0.1\r\n"; }

    // Ends the linked site as its keeper would: the native site as a service manager stops it,
    // pellmar.exe as a crash ends it.
    void EndSite() {
        if (site_kind() == Site::kNative) {
            ExpectSigtermReleasesTheKeyer();
            return;
        }
        server_->Kill();
        // A keyer in host mode does not answer a second host open, and nothing took this one
        // out of it: it is switched off and on.
        ASSERT_EQ(server_keyer_.Command("reset"), "ok");
    }

    // Starts the site again and knocks from 127.0.0.2 until a knock is taken: the
    // milliseconds from the start (the Open press for pellmar.exe), or -1 when none was. Wine
    // may see the site's reset before the connect completes, so the site's refusal tells too.
    long MsUntilTheStartedSiteTakesAConnection() {
        if (!server_->Launch()) {
            return -1;
        }
        const auto started = std::chrono::steady_clock::now();
        const bool taken = WaitUntil(
            [&] {
                const SOCKET stranger = ConnectToLoopback(port_, kWaitMs, "127.0.0.2");
                if (stranger != INVALID_SOCKET) {
                    closesocket(stranger);
                    return true;
                }
                return CountOf(server_->Shown(), kRefused) > 0;
            },
            std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(10));
        const auto elapsed = std::chrono::steady_clock::now() - started;
        return taken ? static_cast<long>(
                           std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count())
                     : -1;
    }
};

using SiteRestartOnEachSiteTest = OnEachSite<SiteRestartTest>;
INSTANTIATE_TEST_SUITE_P(EachSite, SiteRestartOnEachSiteTest,
                         ::testing::Values(Site::kWine, Site::kNative), SiteParamName);

TEST_P(SiteRestartOnEachSiteTest, RestartedWhileLinkedListensWithinASecondAndHomeLinksAgain) {
    ASSERT_TRUE(WaitForNetStatus(server_.get(), "Connected to Client.", kWaitMs))
        << server_->Shown();
    ASSERT_NO_FATAL_FAILURE(EndSite());
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS);

    const long taken_ms = MsUntilTheStartedSiteTakesAConnection();
    ASSERT_GE(taken_ms, 0) << "no connection taken within " << kWaitMs << " ms of the start\n"
                           << server_->Shown();
    EXPECT_LE(taken_ms, 1000) << "the site took its first connection " << taken_ms
                              << " ms after its start";
    std::printf("the site took a connection %ld ms after its start\n", taken_ms);
    EXPECT_TRUE(WaitUntil([&] { return CountOf(server_->Shown(), kRefused) > 0; },
                          std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(50)))
        << server_->Shown();

    ASSERT_NO_FATAL_FAILURE(ExpectLinkedAtThePendingTry(
        [&] { return ui::ReadText(client(), IDC_LOG_PANE); },
        [&](int timeout_ms) {
            return ui::WaitForText(client(), IDC_NET_STATUS, "Connected to server.", timeout_ms);
        }));
    EXPECT_TRUE(WaitForNetStatus(server_.get(), "Connected to Client.", kWaitMs))
        << server_->Shown();
    EXPECT_TRUE(EndsWith(WaitForTextEnding(client(), IDC_LINK_HEALTH, " ms", kWaitMs), " ms"))
        << "home's link field shows the heartbeat answered again";
}

// The site behind an address nobody can reach: it is the Net Client and dials out to home,
// the Net Server.
class DialingOutSiteTest : public BackOnTheAirTest {
  protected:
    uint32_t ServerNetFlags() const override { return kNetModeClient | kNetRoleRemoteSide; }
    uint32_t ClientNetFlags() const override {
        return kNetModeServer | kNetIpAddrOverride | kNetRoleControlPoint;
    }
};

using DialingOutSiteOnEachSiteTest = OnEachSite<DialingOutSiteTest>;
INSTANTIATE_TEST_SUITE_P(EachSite, DialingOutSiteOnEachSiteTest,
                         ::testing::Values(Site::kWine, Site::kNative), SiteParamName);

TEST_P(DialingOutSiteOnEachSiteTest, HomeClosedAndStartedAgainIsLinkedAgainAndKeysTheSite) {
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    ui::Click(client(), IDC_EXIT);
    ASSERT_EQ(client_->WaitForExit(kWaitMs), 0);
    const std::string first_try = std::string(kTryAgain) + "5 s.";
    ASSERT_TRUE(WaitUntil([&] { return CountOf(server_->Shown(), first_try) == 1; },
                          std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(50)))
        << server_->Shown();

    ASSERT_NO_FATAL_FAILURE(OpenHomeServer()) << "home's program in its own folder again";
    ASSERT_NO_FATAL_FAILURE(ExpectLinkedAtThePendingTry(
        [&] { return server_->Shown(); },
        [&](int timeout_ms) {
            return WaitForNetStatus(server_.get(), "Connected to server.", timeout_ms);
        }));
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));

    const size_t mark = server_keyer_.Received().size();
    ui::TypeText(client(), IDC_LOG_PANE, "cq de test");
    const Bytes text = {'C', 'Q', ' ', 'D', 'E', ' ', 'T', 'E', 'S', 'T'};
    const std::string wire = Hex(WireSince(&server_keyer_, mark, text));
    EXPECT_NE(wire.find(Hex(text)), std::string::npos) << wire;
}

// A site on IPv6: without an address override it listens on both families, and home names it
// by the IPv6 loopback, which the site's default AllowFrom lets in.
class Ipv6SiteTest : public TwoStationsTest {
  protected:
    uint32_t ServerNetFlags() const override { return kNetModeServer | kNetRoleRemoteSide; }
    void AdjustClientImage(std::vector<uint8_t>* image) override {
        const char address[] = "::1";
        std::memset(image->data() + offsetof(SettingsRecord, ip_address), 0, kTextFieldSize);
        std::memcpy(image->data() + offsetof(SettingsRecord, ip_address), address, sizeof address);
    }
};

using Ipv6SiteOnEachSiteTest = OnEachSite<Ipv6SiteTest>;
INSTANTIATE_TEST_SUITE_P(EachSite, Ipv6SiteOnEachSiteTest,
                         ::testing::Values(Site::kWine, Site::kNative), SiteParamName);

TEST_P(Ipv6SiteOnEachSiteTest, HomeOnTheIpv6LoopbackLinksAndKeysTheSite) {
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    EXPECT_NE(server_->Shown().find("Client ::1 accepted."), std::string::npos) << server_->Shown();
    const std::string home_log = ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_NE(home_log.find("\r\nIP: ::1"), std::string::npos) << home_log;

    const size_t mark = server_keyer_.Received().size();
    ui::TypeText(client(), IDC_LOG_PANE, "73");
    const Bytes text = {'7', '3'};
    const std::string wire = Hex(WireSince(&server_keyer_, mark, text));
    EXPECT_NE(wire.find(Hex(text)), std::string::npos) << wire;
}

}  // namespace
