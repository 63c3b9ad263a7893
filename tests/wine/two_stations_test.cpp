// Two real pellmar.exe stations linked over loopback, each in its own folder with its own
// configuration file and its own emulated keyer. with_keyer_sims.sh starts the emulators for
// each case and links them into the Wine prefix; emulator 0 is the server's keyer and
// emulator 1 the client's. The server is the RemoteSide at the far site, the client the
// ControlPoint at home.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "settings/settings_record.h"
#include "tests/wine/link_proxy.h"
#include "tests/wine/station_fixtures.h"
#include "tests/wine/ui_driver.h"

namespace {

// Generous: two programs share two cores with Wine, and the client's connect holds its
// window thread for a quarter second on purpose.
constexpr int kWaitMs = 15000;
// Different speeds, so that a keyer shows whose settings it was given last.
constexpr uint8_t kServerWpm = 16;
constexpr uint8_t kClientWpm = 22;
constexpr const char* kEndConnectLog = "\r\n--------------End Connect Log------------\r\n";

class TwoStationsTest : public StationTestBase {
  protected:
    void SetUp() override {
        Emulator server_keyer;
        Emulator client_keyer;
        ASSERT_TRUE(EmulatorFromEnvironment(0, &server_keyer) &&
                    EmulatorFromEnvironment(1, &client_keyer))
            << "run these tests through tests/wine/with_keyer_sims.sh, which starts the "
               "emulators";
        StationTestBase::SetUp();
        ASSERT_TRUE(server_keyer_.Connect(server_keyer.control_port));
        ASSERT_TRUE(client_keyer_.Connect(client_keyer.control_port));
        ASSERT_EQ(server_keyer_.Command("reset"), "ok");
        ASSERT_EQ(client_keyer_.Command("reset"), "ok");

        port_ = FreeLoopbackPort();
        ASSERT_NE(port_, 0);
        server_ = std::make_unique<Station>();
        server_->WriteConfig(StationImage(static_cast<uint32_t>(server_keyer.com_port),
                                          ServerNetFlags(), port_, kServerWpm));
        client_ = std::make_unique<Station>();
        client_image_ =
            StationImage(static_cast<uint32_t>(client_keyer.com_port),
                         kNetModeClient | kNetRoleControlPoint, ClientPort(port_), kClientWpm);
        AdjustClientImage(&client_image_);
        client_->WriteConfig(client_image_);

        ASSERT_TRUE(StartInJob(server_.get()));
        ui::Click(server_->window(), IDC_OPEN_CLOSE);
        ASSERT_TRUE(ui::WaitForText(server_->window(), IDC_NET_STATUS, "Listening for Request....",
                                    kWaitMs))
            << ui::ReadText(server_->window(), IDC_LOG_PANE);

        ASSERT_TRUE(StartInJob(client_.get()));
        ui::Click(client_->window(), IDC_OPEN_CLOSE);
        ASSERT_TRUE(
            ui::WaitForText(client_->window(), IDC_NET_STATUS, "Connected to server.", kWaitMs))
            << ui::ReadText(client_->window(), IDC_NET_STATUS) << "\n"
            << ui::ReadText(client_->window(), IDC_LOG_PANE);
    }

    void TearDown() override {
        client_.reset();
        server_.reset();
        server_keyer_.Close();
        client_keyer_.Close();
        StationTestBase::TearDown();
    }

    virtual uint32_t ServerNetFlags() const {
        return kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
    }
    virtual void AdjustClientImage(std::vector<uint8_t>* /*image*/) {}
    // The port the client connects to: the server's own, unless something stands between.
    virtual uint16_t ClientPort(uint16_t server_port) { return server_port; }

    HWND server() const { return server_->window(); }
    HWND client() const { return client_->window(); }

    // The Open/Close press that closes a linked station: its three lines reset, and its
    // keyer handed back with base mode and then host close.
    void PressCloseAndExpectClosed(HWND station, KeyerControl* keyer) {
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

    KeyerControl server_keyer_;
    KeyerControl client_keyer_;
    std::unique_ptr<Station> server_;
    std::unique_ptr<Station> client_;
    uint16_t port_ = 0;
    std::vector<uint8_t> client_image_;
};

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

TEST_F(TwoStationsTest, HeartbeatAnswersBlinkTheClientsMark) {
    // The ControlPoint sends a heartbeat every 2 s and each answer alternates the mark. It
    // starts empty, so seeing both of its texts takes two answers.
    bool seen_plus = false;
    bool seen_blank = false;
    std::string last;
    for (int waited = 0; waited < 12000 && !(seen_plus && seen_blank); waited += 50) {
        last = ui::ReadText(client(), IDC_HEARTBEAT);
        seen_plus = seen_plus || last == "+";
        seen_blank = seen_blank || last == " ";
        Sleep(50);
    }
    EXPECT_TRUE(seen_plus) << "last mark '" << last << "'";
    EXPECT_TRUE(seen_blank) << "last mark '" << last << "'";
    // The RemoteSide only answers; it sends no heartbeat of its own, so no answer comes back.
    EXPECT_EQ(ui::ReadText(server(), IDC_HEARTBEAT), "");
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

    SOCKET intruder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(intruder, INVALID_SOCKET);
    const DWORD timeout_ms = kWaitMs;
    setsockopt(intruder, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
               sizeof timeout_ms);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int connected = connect(intruder, reinterpret_cast<sockaddr*>(&address), sizeof address);
    char byte = 0;
    // The server takes the connection and closes it again at once: an orderly end.
    const int got = connected == 0 ? recv(intruder, &byte, 1, 0) : -2;
    closesocket(intruder);
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(got, 0);

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
    const Bytes let_go = {0x0A, 0x0B, 0x00, 0x14, 0x00};
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
TEST_F(TwoStationsTest, PaddlesAtTheControlPointLightThereAndPressTheRemoteKeyersPaddles) {
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
        Bytes since;
        for (int waited = 0; waited < kWaitMs; waited += 50) {
            const Bytes wire = server_keyer_.Received();
            since.assign(wire.begin() + static_cast<std::ptrdiff_t>(std::min(mark, wire.size())),
                         wire.end());
            if (std::search(since.begin(), since.end(), paddle_input.begin(), paddle_input.end()) !=
                since.end()) {
                break;
            }
            Sleep(50);
        }
        EXPECT_NE(std::search(since.begin(), since.end(), paddle_input.begin(), paddle_input.end()),
                  since.end())
            << press.press << ": " << Hex(since);
    }
    EXPECT_EQ(ui::ReadText(server(), IDC_PADDLES), "");
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

// The pair with the client's line running through a test proxy.
class TwoStationsThroughAProxyTest : public TwoStationsTest {
  protected:
    virtual int LineDelayMs() const { return 0; }
    uint16_t ClientPort(uint16_t server_port) override {
        proxy_ = std::make_unique<LinkProxy>(server_port, LineDelayMs());
        EXPECT_TRUE(proxy_->Start());
        return proxy_->port();
    }
    void TearDown() override {
        client_.reset();
        server_.reset();
        proxy_.reset();  // before Winsock ends
        TwoStationsTest::TearDown();
    }
    std::unique_ptr<LinkProxy> proxy_;
};

// The operator at home tunes the far transmitter, and then the home line drops without a
// word: the site lets go of the key by itself, and the operator gets back in without anyone
// going there.
TEST_F(TwoStationsThroughAProxyTest, ALineThatDropsWhileTunedReleasesTheKeyAndLetsTheNextOpenIn) {
    ASSERT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    // A heartbeat has crossed: the site knows this link is one that is never quiet for long.
    ASSERT_TRUE(ui::WaitForText(client(), IDC_HEARTBEAT, "+", kWaitMs));
    ui::Click(client(), IDC_TUNE);
    const Bytes key_down = {0x0B, 0x01};
    ASSERT_TRUE(EndsWith(server_keyer_.ReceivedEndingWith(key_down, kWaitMs), key_down));

    proxy_->StopForwarding();
    const DWORD dropped = GetTickCount();
    const Bytes let_go = {0x0A, 0x0B, 0x00, 0x14, 0x00};
    const Bytes wire = server_keyer_.ReceivedEndingWith(let_go, kWaitMs);
    const DWORD released_after = GetTickCount() - dropped;
    ASSERT_TRUE(EndsWith(wire, let_go)) << Hex(wire) << "\n"
                                        << ui::ReadText(server(), IDC_LOG_PANE);
    EXPECT_LE(released_after, 8000u);
    EXPECT_EQ(ui::ReadText(server(), IDC_NET_STATUS), "Connection Closed");
    const std::string server_log = ui::ReadText(server(), IDC_LOG_PANE);
    EXPECT_TRUE(EndsWith(server_log, "\r\nConnection lost: nothing heard for three heartbeats"))
        << server_log;
    // The home station sees the link gone too, its Tune no longer down.
    EXPECT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connection Closed", kWaitMs));
    EXPECT_EQ(ui::ReadText(client(), IDC_TUNE), "Tune");
    SaveNamedScreenshot(client(), "control_point_line_dropped");

    ui::Click(client(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(client(), IDC_OPEN_CLOSE, "Open", kWaitMs));
    ui::Click(client(), IDC_OPEN_CLOSE);
    EXPECT_TRUE(ui::WaitForText(client(), IDC_NET_STATUS, "Connected to server.", kWaitMs))
        << ui::ReadText(client(), IDC_LOG_PANE);
    EXPECT_TRUE(ui::WaitForText(server(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    EXPECT_TRUE(ui::WaitForText(client(), IDC_REMOTE_STATUS, "Remote Tarvel Ver:23", kWaitMs));
}

// A stored message of 255 characters, tokens among them, and the bytes each piece puts on
// the far keyer's wire.
struct MessagePiece {
    const char* text;
    Bytes bytes;
};
std::vector<MessagePiece> LongMessage() {
    std::vector<MessagePiece> pieces = {
        {"[P]", {0x18, 0x01}}, {"[S30]", {0x1C, 30}}, {"[W05]", {0x1A, 5}},
        {"[X]", {0x1E}},       {"[M]", {0x1B}},       {"[N]", {0x18, 0x00}},
    };
    std::vector<MessagePiece> message;
    std::size_t length = 0;
    for (int i = 0; length < 255; ++i) {
        const MessagePiece& token = pieces[static_cast<std::size_t>(i) % pieces.size()];
        std::string text = "CQ TEST DE PELLMAR " + std::to_string(i) + " ";
        text.resize(std::min(text.size(), 255 - length));
        message.push_back({nullptr, Bytes(text.begin(), text.end())});
        length += text.size();
        if (length + std::strlen(token.text) <= 255) {
            message.push_back(token);
            length += std::strlen(token.text);
        }
    }
    return message;
}

class TwoStationsOverASlowLineTest : public TwoStationsThroughAProxyTest {
  protected:
    int LineDelayMs() const override { return 150; }
    void AdjustClientImage(std::vector<uint8_t>* image) override {
        std::string text;
        for (const MessagePiece& piece : LongMessage()) {
            text += piece.text != nullptr ? std::string(piece.text)
                                          : std::string(piece.bytes.begin(), piece.bytes.end());
        }
        ASSERT_EQ(text.size(), 255u);
        PutMessage(image, 1, text);
    }
};

// 150 ms each way: the far keyer reports hold a whole round trip after the message outran
// it, and still every byte arrives, in order, each command with its argument.
TEST_F(TwoStationsOverASlowLineTest, AStoredMessageArrivesWholeAndInOrderOnTheFarKeyer) {
    ASSERT_EQ(server_keyer_.WaitForStateField("mode", "04", kWaitMs), "04");
    Bytes expected;
    for (const MessagePiece& piece : LongMessage()) {
        expected.insert(expected.end(), piece.bytes.begin(), piece.bytes.end());
    }
    const size_t mark = server_keyer_.Received().size();
    ui::Click(client(), IDC_M1);
    const Bytes wire = server_keyer_.ReceivedEndingWith(expected, 90000);
    EXPECT_EQ(Hex(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(mark), wire.end())),
              Hex(expected));
}

}  // namespace
