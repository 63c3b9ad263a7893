// Two real pellmar.exe stations linked over loopback (two_stations_fixture.h): how the link
// comes up, carries the heartbeat and the paddles, and goes down again.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tools/common/wait_until.h"
#include "tools/wine_kit/two_stations_fixture.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

constexpr const char* kEndConnectLog = "\r\n--------------End Connect Log------------\r\n";

TEST_F(TwoStationsTest, BothStationsShowTheLinkAndTheirKeyers) {
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs))
        << ui::ReadText(client(), IDC_REMOTE_STATUS);
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(client(), IDC_NET_STATUS), "Connected to server.");
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    const std::string log = ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_TRUE(EndsWith(log, kEndConnectLog)) << log;
}

TEST_F(TwoStationsTest, ControlPointsSettingsDriveTheRemoteSidesKeyer) {
    // The server loaded its own block at the accept; the ControlPoint's block follows the
    // connect and replaces it, with serial echo forced on so that what the far keyer sends
    // comes back over the link. The ControlPoint's own keyer keeps the block unchanged.
    EXPECT_EQ(server_keyer_.WaitForStateField("wpm", std::to_string(kClientWpm), kWaitMs),
              std::to_string(kClientWpm));
    EXPECT_EQ(server_keyer_.WaitForStateField("mode", "04", kWaitMs), "04");
    EXPECT_EQ(client_keyer_.StateField("wpm"), std::to_string(kClientWpm));
    EXPECT_EQ(client_keyer_.StateField("mode"), "00");
    EXPECT_EQ(server_keyer_.StateField("host"), "1");
    EXPECT_EQ(client_keyer_.StateField("host"), "1");
}

// The stories that hold whichever program runs the site.
using TwoStationsOnEachSiteTest = OnEachSite<TwoStationsTest>;
INSTANTIATE_TEST_SUITE_P(EachSite, TwoStationsOnEachSiteTest,
                         ::testing::Values(Site::kWine, Site::kNative), SiteParamName);

TEST_P(TwoStationsOnEachSiteTest, HeartbeatAnswersBlinkTheClientsMark) {
    // The ControlPoint sends a heartbeat every 2 s and each answer alternates the mark. It
    // starts empty, so seeing both of its texts takes two answers.
    bool seen_plus = false;
    bool seen_blank = false;
    std::string last;
    WaitUntil(
        [&] {
            last = ui::ReadText(client(), IDC_HEARTBEAT);
            seen_plus = seen_plus || last == "+";
            seen_blank = seen_blank || last == " ";
            return seen_plus && seen_blank;
        },
        std::chrono::seconds(12), std::chrono::milliseconds(50));
    EXPECT_TRUE(seen_plus) << "last mark '" << last << "'";
    EXPECT_TRUE(seen_blank) << "last mark '" << last << "'";
    // The RemoteSide only answers; it sends no heartbeat of its own, so no answer comes back.
    if (site_kind() == Site::kWine) {
        EXPECT_EQ(ui::ReadText(server(), IDC_HEARTBEAT), "");
    }
}

// The site's keyer is pulled while linked: the site keeps the link, and the home operator's
// remote keyer field says that the site has no keyer now. Plugged back, the site attaches it
// again by itself, and home's field shows its version again.
TEST_P(TwoStationsOnEachSiteTest, SiteKeyerUnpluggedAndPluggedBackIsShownAtHomeBothTimes) {
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    ASSERT_EQ(server_keyer_.Command("unplug"), "ok");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:255", kWaitMs))
        << ui::ReadText(client(), IDC_REMOTE_STATUS);
    EXPECT_EQ(ui::ReadText(client(), IDC_NET_STATUS), "Connected to server.");
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    if (site_kind() == Site::kWine) {
        EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel Lost");
        EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
        SaveNamedScreenshot({server(), client()}, "site_keyer_lost");
    }

    ASSERT_EQ(server_keyer_.Command("plug"), "ok");
    const auto plugged = std::chrono::steady_clock::now();
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs))
        << ui::ReadText(client(), IDC_REMOTE_STATUS);
    EXPECT_LT(std::chrono::steady_clock::now() - plugged, std::chrono::seconds(6));
    EXPECT_EQ(server_keyer_.StateField("host"), "1");
    // Keyed as home last set it up: its block, with serial echo, is back on the keyer.
    EXPECT_EQ(server_keyer_.WaitForStateField("mode", "04", kWaitMs), "04");
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::vector<std::string> lines = server_->LogLines();
            return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
                return line.rfind("Keyer back on ", 0) == 0;
            });
        },
        std::chrono::milliseconds(kWaitMs)))
        << server_->Shown();
}

TEST_F(TwoStationsTest, ServerGoneLeavesTheClientClosableAndItsKeyerClosed) {
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    server_->Kill();

    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(client(), IDC_REMOTE_STATUS), "Remote Tarvel Ver:23");
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");

    PressCloseAndExpectClosed(client(), &client_keyer_);
}

TEST_F(TwoStationsTest, ServerGoesOnListeningWhenTheClientClosesAndTakesItBack) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));

    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(client(), &client_keyer_));

    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");

    // No press at the server: it still listens and takes the same client back.
    ui::Click(client(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to server.", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS) << "\n"
        << ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    const std::string server_log = ui::ReadText(server(), IDC_LOG_PANE);
    EXPECT_EQ(CountOf(server_log, "\r\nAccepting Request...."), 2u) << server_log;
    const std::string client_log = ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_EQ(CountOf(client_log, "\r\n--------------Begin Connect Log------------"), 2u)
        << client_log;
    EXPECT_EQ(CountOf(client_log, kEndConnectLog), 2u) << client_log;
    EXPECT_TRUE(EndsWith(client_log, kEndConnectLog)) << client_log;
}

TEST_F(TwoStationsTest, ServerClosingTheLinkLeavesTheClientClosable) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));

    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(server(), &server_keyer_));

    EXPECT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(client(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(client(), IDC_REMOTE_STATUS), "Remote Tarvel Ver:23");
    EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
}

TEST_F(TwoStationsTest, SecondClientIsTurnedAwayAndTheLinkGoesOn) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));

    SOCKET intruder = ConnectToLoopback(port_, kWaitMs);
    ASSERT_NE(intruder, INVALID_SOCKET);
    char byte = 0;
    // The server takes the connection and resets it at once, which Wine may show as a reset
    // or as the end of the stream: either way nothing was sent.
    const int got = recv(intruder, &byte, 1, 0);
    closesocket(intruder);
    EXPECT_LE(got, 0);

    const std::string log = WaitForTextEnding(server(), IDC_LOG_PANE,
                                              "\r\nConnection refused: already linked", kWaitMs);
    EXPECT_TRUE(EndsWith(log, "\r\nConnection refused: already linked")) << log;
    EXPECT_EQ(ui::ReadText(server(), IDC_NET_STATUS), "Connected to Client.");
    EXPECT_EQ(ui::ReadText(client(), IDC_NET_STATUS), "Connected to server.");
    // Heartbeats still cross the first link and come back answered.
    const std::string mark = ui::ReadText(client(), IDC_HEARTBEAT);
    EXPECT_NE(WaitForTextChange(client(), IDC_HEARTBEAT, mark, kWaitMs), mark);
}

TEST_F(TwoStationsTest, ClientExitWhileLinkedEndsTheLinkButNotItsKeyer) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    ASSERT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
    // The last thing the client gives its own keyer is the load of its block again, at the
    // connect: the block, a speed-pot request and 0x15, in one write.
    const size_t block = offsetof(SettingsRecord, keyer_settings);
    Bytes load(client_image_.begin() + block - 1,
               client_image_.begin() + block + sizeof(KeyerSettings) + 2);
    load.front() = 0x0F;
    load[load.size() - 2] = 0x07;
    load.back() = 0x15;
    const Bytes before = client_keyer_.ReceivedEndingWith(load, kWaitMs);
    ASSERT_TRUE(EndsWith(before, load)) << Hex(before);

    ui::Click(client(), IDC_EXIT);
    EXPECT_EQ(client_->WaitForExit(kWaitMs), 0);
    // The link ends with the program: the keyer is let go of, and nothing more.
    const Bytes let_go = {0x0A, 0x18, 0x00, 0x0B, 0x00, 0x14, 0x00};
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connection Closed", kWaitMs))
        << ui::ReadText(server(), IDC_NET_STATUS);
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    // Exit leaves host mode open: no base mode, no host close on its wire.
    Bytes after = before;
    after.insert(after.end(), let_go.begin(), let_go.end());
    EXPECT_EQ(Hex(client_keyer_.Received()), Hex(after));
    EXPECT_EQ(client_keyer_.StateField("host"), "1");
}

// The lines of a text as the Connect log writes it, empty ones left out.
std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    const std::regex line_break("\r\n");
    std::copy_if(std::sregex_token_iterator(text.begin(), text.end(), line_break, -1), {},
                 std::back_inserter(lines), [](const std::string& line) { return !line.empty(); });
    return lines;
}

TEST_F(TwoStationsTest, TheLogFileHoldsTheConnectLogWithItsTimesAndTheRelease) {
    ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(client(), &client_keyer_));
    std::vector<std::string> expected = LinesOf(ui::ReadText(client(), IDC_LOG_PANE));
    expected.push_back("Keyer released: the operator pressed Close.");
    std::ifstream file(client_->folder() + "pellmar.log", std::ios::binary);
    std::vector<std::string> logged;
    for (const std::string& line : LinesOf({std::istreambuf_iterator<char>(file), {}})) {
        EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )")));
        logged.push_back(line.substr(std::min<std::size_t>(20, line.size())));
    }
    EXPECT_EQ(logged, expected);
}

// The same pair with the server's keyer port switched off in its configuration.
class TwoStationsServerWithoutKeyerTest : public TwoStationsTest {
  protected:
    uint32_t ServerNetFlags() const override {
        return TwoStationsTest::ServerNetFlags() | kNetLocalKeyerDisabled;
    }
};

TEST_F(TwoStationsServerWithoutKeyerTest, ClientSeesNoRemoteKeyerAndTheServersPortStaysUnused) {
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:255", kWaitMs))
        << ui::ReadText(client(), IDC_REMOTE_STATUS);
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    EXPECT_EQ(ui::ReadText(server(), IDC_LOCAL_STATUS), "Local Tarvel Closed");
    EXPECT_EQ(ui::ReadText(server(), IDC_OPEN_CLOSE), "Close");
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    const std::string server_log = ui::ReadText(server(), IDC_LOG_PANE);
    EXPECT_EQ(server_log.find("openComm"), std::string::npos) << server_log;
    // A heartbeat answered means the server has handled everything the client sent before
    // it, the settings block included, which found no keyer to go to.
    EXPECT_TRUE(ui::WaitForText(client(), IDC_HEARTBEAT, "+", kWaitMs));
    EXPECT_EQ(Hex(server_keyer_.Received()), "");
    EXPECT_EQ(server_keyer_.StateField("host"), "0");
}

// The ControlPoint's paddles: shown there as letters, and pressed on the RemoteSide's keyer
// by their code (14 v on its wire). The RemoteSide's own paddle field is never written.
TEST_P(TwoStationsOnEachSiteTest,
       PaddlesAtTheControlPointLightThereAndPressTheRemoteKeyersPaddles) {
    const struct {
        const char* press;
        const char* shown;
        uint8_t code;
    } presses[] = {{"paddle 2", "L ", 2}, {"paddle 3", "LR", 1}, {"paddle 0", "  ", 0}};
    for (const auto& press : presses) {
        const size_t mark = server_keyer_.Received().size();
        ASSERT_EQ(client_keyer_.Command(press.press), "ok");
        EXPECT_TRUE(ui::WaitForText(client(), IDC_PADDLES, press.shown, kWaitMs))
            << press.press << ": " << ui::ReadText(client(), IDC_PADDLES);
        const Bytes paddle_input = {0x14, press.code};
        const Bytes since = WireSince(&server_keyer_, mark, paddle_input);
        EXPECT_NE(std::search(since.begin(), since.end(), paddle_input.begin(), paddle_input.end()),
                  since.end())
            << press.press << ": " << Hex(since);
    }
    if (site_kind() == Site::kWine) {
        EXPECT_EQ(ui::ReadText(server(), IDC_PADDLES), "");
    }
}

// The ControlPoint's keyer echoes what its paddles key, as the Setup dialog sets it up for
// that role.
class TwoStationsWithPaddleEchoTest : public TwoStationsTest {
  protected:
    void AdjustClientImage(std::vector<uint8_t>* image) override {
        (*image)[offsetof(SettingsRecord, keyer_settings) +
                 offsetof(KeyerSettings, mode_register)] = kModePaddleEcho;
    }
};

// A typical exchange, started by the operator's paddles at home: the ControlPoint's echo
// goes out as text, the RemoteSide's keyer keys it, and the RemoteSide reports each keyed
// character back, which fills the ControlPoint's echo line; its busy field follows the
// far keyer.
TEST_F(TwoStationsWithPaddleEchoTest, WhatThePaddlesKeyAtHomeIsKeyedAtTheSiteAndEchoedBack) {
    // The ControlPoint's settings block, with serial echo on, has reached the far keyer.
    ASSERT_EQ(server_keyer_.WaitForStateField("mode", "04", kWaitMs), "04");
    ASSERT_EQ(client_keyer_.Command("paddle-key CQ DE"), "ok");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_ECHO_LINE, "CQ DE", kWaitMs))
        << ui::ReadText(client(), IDC_ECHO_LINE);
    SaveNamedScreenshot(client(), "control_point_echo");
    EXPECT_EQ(server_keyer_.Command("keyed"), "ok CQ DE");
    EXPECT_TRUE(ui::WaitForText(client(), IDC_BUSY_STATUS, " ", kWaitMs))
        << ui::ReadText(client(), IDC_BUSY_STATUS);
    // Neither station shows its own keyer's echo: the ControlPoint sends it, the RemoteSide
    // reports it.
    EXPECT_EQ(ui::ReadText(server(), IDC_ECHO_LINE), "");
}

// The site's program ends and starts again, once after home was opened anew meanwhile and
// once with home left as it was: either way home links by itself within 15 s of the site's
// start, and then shows the heartbeat's round trip, and the site whom it serves.
TEST_F(TwoStationsTest, ControlPointLinksByItselfOnceItsSiteRunsAgain) {
    for (const bool opened_before_the_site : {true, false}) {
        ASSERT_EQ(server_->Exit(kWaitMs), 0);
        // Exit left the site's keyer in host mode: it is switched off and on for the next start.
        ASSERT_EQ(server_keyer_.Command("reset"), "ok");
        ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs));
        if (opened_before_the_site) {
            ASSERT_NO_FATAL_FAILURE(PressCloseAndExpectClosed(client(), &client_keyer_));
            ui::Click(client(), IDC_OPEN_CLOSE);
            const std::string refused = "\r\nConnect to Server\r\nTrying the server again in 5 s.";
            const std::string log = WaitForTextEnding(client(), IDC_LOG_PANE, refused, kWaitMs);
            EXPECT_TRUE(EndsWith(log, refused)) << log;
            EXPECT_EQ(ui::ReadText(client(), IDC_OPEN_CLOSE), "Close");
        }
        const DWORD started = GetTickCount();
        ASSERT_NO_FATAL_FAILURE(OpenServer());
        const int left = 15000 - static_cast<int>(GetTickCount() - started);
        ASSERT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to server.", left))
            << ui::ReadText(client(), IDC_LOG_PANE);
        const std::string field = WaitForTextEnding(client(), IDC_LINK_HEALTH, " ms", 5000);
        int round_trip_ms = -1;
        EXPECT_EQ(std::sscanf(field.c_str(), "Link %d ms", &round_trip_ms), 1) << field;
        EXPECT_TRUE(ui::WaitForText(server(), IDC_LINK_HEALTH, "Client 127.0.0.1", kWaitMs));
    }
    EXPECT_EQ(ui::ReadText(client(), IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
}

}  // namespace
