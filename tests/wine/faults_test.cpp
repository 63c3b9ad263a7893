// Faults that only the real program can show: a hostile peer flooding the site's open port
// for a minute, the keyer unplugged while it keys or pouring out status bytes, a station
// killed while its keyer is attached, and the configuration file held by another program.
// Each case tells what the operator sees, and that the station neither hangs nor loses what
// it stores. The emulated keyer sits behind COM1, the port the default settings name.
//
// A COM port held by another program is a host test (station_link_test.cpp): Wine lets a
// second process open a serial device that one already holds without sharing, where Windows
// refuses it.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/resource_ids.h"
#include "app/resource_texts.h"
#include "app/window.h"
#include "gtest/gtest.h"
#include "net/packet.h"
#include "settings/settings_record.h"
#include "tools/common/wait_until.h"
#include "tools/wine_kit/station_fixtures.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

// Longer than any wait a station makes on purpose; a window that takes this long to answer
// a message looks hung to its operator.
constexpr int kAnswerLimitMs = 2000;

int TextLength(HWND window, int id) {
    DWORD_PTR length = 0;
    SendMessageTimeoutA(ui::Control(window, id), WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000,
                        &length);
    return static_cast<int>(length);
}

// `from`, when given, is the loopback address the client comes from (127.0.0.2, say);
// `receive_buffer`, when given, the little the client's stack keeps for it unread.
SOCKET ConnectTo(uint16_t port, int timeout_ms, const char* from = nullptr,
                 int receive_buffer = 0) {
    SOCKET peer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (receive_buffer > 0) {
        setsockopt(peer, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive_buffer),
                   sizeof receive_buffer);
    }
    if (from != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(from);
        bind(peer, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    u_long non_blocking = 1;
    ioctlsocket(peer, FIONBIO, &non_blocking);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(peer, &writable);
    timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (select(0, nullptr, &writable, nullptr, &wait) != 1) {
        closesocket(peer);
        return INVALID_SOCKET;
    }
    u_long blocking = 0;
    ioctlsocket(peer, FIONBIO, &blocking);
    return peer;
}

bool SendAll(SOCKET peer, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int count = send(peer, reinterpret_cast<const char*>(bytes.data() + sent),
                               static_cast<int>(bytes.size() - sent), 0);
        if (count <= 0) {
            return false;
        }
        sent += static_cast<size_t>(count);
    }
    return true;
}

// What arrives within `timeout_ms`, cut into packets.
std::vector<Packet> ReceivePackets(SOCKET peer, int timeout_ms) {
    PacketReassembler reassembler;
    const DWORD start = GetTickCount();
    char buffer[4096];
    while (static_cast<int>(GetTickCount() - start) < timeout_ms) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(peer, &readable);
        timeval wait{0, 50000};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1) {
            continue;
        }
        const int count = recv(peer, buffer, sizeof buffer, 0);
        if (count <= 0) {
            break;
        }
        reassembler.Append(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(count));
    }
    std::vector<Packet> packets;
    Packet packet;
    while (reassembler.Next(&packet)) {
        packets.push_back(packet);
    }
    return packets;
}

Bytes PacketBytes(const Packet& packet) {
    return Bytes(packet.bytes, packet.bytes + kPacketSize);
}

// A hostile or broken peer's burst: every packet type with any value and settings block,
// packets without the marker and types nobody uses, and near its end a run of bytes that
// shifts the framing of what follows, until a filler at the end of the burst puts it right.
Bytes FloodBurst(std::mt19937* random, int packets) {
    static const uint8_t kTypes[] = {PKT_VERSION_REQUEST,
                                     PKT_TEXT_CHAR,
                                     PKT_KEYER_SETTINGS,
                                     PKT_SPEED,
                                     PKT_HEARTBEAT,
                                     PKT_CLEAR,
                                     PKT_PAUSE,
                                     PKT_TUNE,
                                     PKT_BACKSPACE,
                                     PKT_VERSION_REPLY,
                                     PKT_ECHO_CHAR,
                                     PKT_STATUS,
                                     PKT_HEARTBEAT_REPLY,
                                     PKT_PADDLE,
                                     0x23,
                                     0x35,
                                     0x00,
                                     0xFF};
    auto byte = [random] { return static_cast<uint8_t>((*random)() & 0xFF); };
    const int shift_at = packets - 1 - static_cast<int>((*random)() % 4);
    const size_t shift = 1 + (*random)() % (kPacketSize - 1);
    Bytes burst;
    for (int i = 0; i < packets; ++i) {
        if (i == shift_at) {
            for (size_t j = 0; j < shift; ++j) {
                burst.push_back(byte());
            }
        }
        uint8_t payload[kPacketPayloadSize];
        for (uint8_t& b : payload) {
            b = byte();
        }
        Packet packet = BuildPacket(kTypes[(*random)() % sizeof kTypes], byte(), byte(), payload);
        if ((*random)() % 10 == 0) {
            packet.bytes[0] = static_cast<uint8_t>(PKT_MARKER ^ (1 + (*random)() % 255));
        }
        const Bytes bytes = PacketBytes(packet);
        burst.insert(burst.end(), bytes.begin(), bytes.end());
    }
    burst.resize(burst.size() + kPacketSize - shift, 0x5A);
    return burst;
}

// The site: a RemoteSide Net Server with its keyer attached, listening on a loopback port.
class SiteOnAnOpenPortTest : public KeyedStationTest {
  protected:
    void AdjustImage(Bytes* image) override {
        port_ = FreeLoopbackPort();
        const uint32_t flags = kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
        const uint32_t port = port_;
        std::memcpy(image->data() + offsetof(SettingsRecord, net_flags), &flags, sizeof flags);
        std::memcpy(image->data() + offsetof(SettingsRecord, ip_port), &port, sizeof port);
    }

    uint16_t port_ = 0;
};

// For a minute a peer pours valid and invalid packets into the site as fast as the site
// takes them, while other clients keep knocking: the window answers throughout, its texts
// stay within their bounds, and afterwards a well-behaved client is served as ever.
TEST_F(SiteOnAnOpenPortTest, AMinuteOfFloodLeavesTheWindowAnsweringAndTheNextClientServed) {
    ASSERT_TRUE(ui::WaitForText(window(), IDC_NET_STATUS, "Listening for Request....", kWaitMs));
    SOCKET flooder = ConnectTo(port_, kWaitMs);
    ASSERT_NE(flooder, INVALID_SOCKET);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));

    std::atomic<bool> stop{false};
    std::atomic<bool> link_lost{false};
    std::atomic<long long> bytes_sent{0};
    std::atomic<long long> bytes_back{0};
    std::thread sender([&] {
        std::mt19937 random(16);
        while (!stop.load()) {
            const Bytes burst = FloodBurst(&random, 50);
            if (!SendAll(flooder, burst)) {
                link_lost = true;
                return;
            }
            bytes_sent += static_cast<long long>(burst.size());
        }
    });
    // The site's answers are read as they come, or its sends would stall on a full line.
    std::thread reader([&] {
        char buffer[4096];
        while (!stop.load()) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(flooder, &readable);
            timeval wait{0, 50000};
            if (select(0, &readable, nullptr, nullptr, &wait) == 1) {
                const int count = recv(flooder, buffer, sizeof buffer, 0);
                if (count <= 0) {
                    link_lost = true;
                    return;
                }
                bytes_back += count;
            }
        }
    });

    std::vector<int> answers;
    int longest_log = 0;
    int longest_echo = 0;
    int knocks = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000 && !link_lost.load()) {
        answers.push_back(AnswerTimeMs(window(), 10000));
        longest_log = std::max(longest_log, TextLength(window(), IDC_LOG_PANE));
        longest_echo = std::max(longest_echo, TextLength(window(), IDC_ECHO_LINE));
        // Another client knocks while the link lives: it is turned away, and says so in the
        // log pane, which the knocks alone would take past its bound within the minute.
        SOCKET knock = ConnectTo(port_, 200);
        if (knock != INVALID_SOCKET) {
            ++knocks;
            closesocket(knock);
        }
        Sleep(100);
    }
    stop = true;
    sender.join();
    reader.join();
    const std::string log = ui::ReadText(window(), IDC_LOG_PANE);
    EXPECT_FALSE(link_lost.load()) << log;
    EXPECT_EQ(ui::ReadText(window(), IDC_NET_STATUS), "Connected to Client.");
    closesocket(flooder);

    std::sort(answers.begin(), answers.end());
    ASSERT_FALSE(answers.empty());
    std::printf(
        "flood: %lld bytes in (%lld packets' worth), %lld bytes back, %d knocks; the window "
        "answered %zu times, median %d ms, slowest %d ms; longest log pane %d, echo line %d\n",
        bytes_sent.load(), bytes_sent.load() / static_cast<long long>(kPacketSize),
        bytes_back.load(), knocks, answers.size(), answers[answers.size() / 2], answers.back(),
        longest_log, longest_echo);
    EXPECT_LT(answers.back(), kAnswerLimitMs);
    EXPECT_LE(longest_log, KeptTextOf(IDC_LOG_PANE)->limit);
    EXPECT_LE(longest_echo, KeptTextOf(IDC_ECHO_LINE)->limit);
    EXPECT_GT(knocks, 300) << "the knocks were meant to fill the log pane past its bound";
    EXPECT_NE(log.find("\r\nConnection refused: already linked"), std::string::npos)
        << log.substr(log.size() > 400 ? log.size() - 400 : 0);

    // The flooder gone, the site listens again and serves a plain client: its heartbeat and
    // version request are answered, and its text reaches the keyer.
    EXPECT_TRUE(ui::WaitForText(window(), IDC_NET_STATUS, "Connection Closed", kWaitMs));
    SOCKET client = ConnectTo(port_, kWaitMs);
    ASSERT_NE(client, INVALID_SOCKET);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    const std::string word = "CLEAN";
    Bytes hello = PacketBytes(BuildPacket(PKT_HEARTBEAT, 7));
    std::vector<Packet> rest = {BuildPacket(PKT_VERSION_REQUEST, 0)};
    for (char c : word) {
        rest.push_back(BuildPacket(PKT_TEXT_CHAR, static_cast<uint8_t>(c)));
    }
    for (const Packet& packet : rest) {
        const Bytes bytes = PacketBytes(packet);
        hello.insert(hello.end(), bytes.begin(), bytes.end());
    }
    ASSERT_TRUE(SendAll(client, hello));
    bool heartbeat_answered = false;
    bool version_answered = false;
    for (const Packet& packet : ReceivePackets(client, 3000)) {
        heartbeat_answered |= PacketType(packet) == PKT_HEARTBEAT_REPLY && PacketValue(packet) == 7;
        version_answered |= PacketType(packet) == PKT_VERSION_REPLY && PacketValue(packet) == 23;
    }
    EXPECT_TRUE(heartbeat_answered);
    EXPECT_TRUE(version_answered);
    // The keyer's whole wire after a minute of flood is too long to fetch again and again;
    // what it has keyed since its reset is short, as keying is slow.
    std::string keyed;
    WaitUntil([&] { return EndsWith(keyed = keyer_.Command("keyed"), word); },
              std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(50));
    EXPECT_TRUE(EndsWith(keyed, word)) << keyed.substr(keyed.size() > 80 ? keyed.size() - 80 : 0);
    closesocket(client);

    ui::Click(window(), IDC_EXIT);
    EXPECT_EQ(station_->WaitForExit(kWaitMs), 0);
}

// A client that keeps sending heartbeats but never reads the answers: the site's window
// answers throughout, and once its answers have had nowhere to go for the silence period the
// site ends the link as dead.
TEST_F(SiteOnAnOpenPortTest, APeerThatStopsReadingNeverHoldsTheWindowAndItsLinkEnds) {
    ASSERT_TRUE(ui::WaitForText(window(), IDC_NET_STATUS, "Listening for Request....", kWaitMs));
    SOCKET client = ConnectTo(port_, kWaitMs, nullptr, 1024);
    ASSERT_NE(client, INVALID_SOCKET);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_NET_STATUS, "Connected to Client.", kWaitMs));
    std::atomic<bool> stop{false};
    std::thread pourer([&] {
        const Bytes beats = [] {
            Bytes many;
            for (int i = 0; i < 500; ++i) {
                const Bytes one = PacketBytes(BuildPacket(PKT_HEARTBEAT, 1));
                many.insert(many.end(), one.begin(), one.end());
            }
            return many;
        }();
        while (!stop.load() && SendAll(client, beats)) {
        }
    });
    int slowest = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000 &&
           ui::ReadText(window(), IDC_NET_STATUS) == "Connected to Client.") {
        slowest = std::max(slowest, AnswerTimeMs(window(), 10000));
        Sleep(100);
    }
    stop = true;
    closesocket(client);  // ends the pourer's send
    pourer.join();
    std::printf("the link ended after %lu ms; the window answered within %d ms\n",
                static_cast<unsigned long>(GetTickCount() - start), slowest);
    EXPECT_LT(slowest, 1000);
    EXPECT_TRUE(EndsWith(ui::ReadText(window(), IDC_LOG_PANE),
                         "Connection lost: the other station stopped reading"))
        << ui::ReadText(window(), IDC_LOG_PANE);
}

// The site alone on its open port, whichever program runs it: its keyer is the emulator,
// and a case's own sockets are its clients. Each case starts it with the .ini it needs.
class OpenPortOnEachSiteTest : public StationTestBase, public ::testing::WithParamInterface<Site> {
  protected:
    static constexpr int kWaitMs = 15000;
    // Not the emulator's speed before a settings block: seeing it means the attach is over.
    static constexpr uint8_t kWpm = 18;

    void SetUp() override {
        StationTestBase::SetUp();
        ASSERT_TRUE(EmulatorFromEnvironment(0, &emulator_));
        ASSERT_TRUE(keyer_.Connect(emulator_.control_port));
        ASSERT_EQ(keyer_.Command("reset"), "ok");
        port_ = FreeLoopbackPort();
        site_ = MakeRemoteSite(GetParam(), emulator_);
        site_->WriteConfig(StationImage(static_cast<uint32_t>(emulator_.com_port),
                                        kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide,
                                        port_, kWpm));
    }
    void TearDown() override {
        site_.reset();
        ExpectAnswered(keyer_);
        keyer_.Close();
        StationTestBase::TearDown();
    }

    // Starts the site with `ini` beside its configuration file, and waits until it listens
    // with its keyer attached (the settings block, the attach's last command, is in).
    void StartWithIni(const std::string& ini) {
        site_->WriteIni(ini);
        ASSERT_TRUE(site_->StartListening()) << site_->Shown();
        ASSERT_EQ(keyer_.WaitForStateField("wpm", std::to_string(kWpm), kWaitMs),
                  std::to_string(kWpm));
    }
    void ForgetWireSoFar() { wire_mark_ = keyer_.Received().size(); }
    Bytes WireSinceMarkContaining(const Bytes& part, int timeout_ms = kWaitMs) {
        return keyer_.ReceivedSince(wire_mark_, part, timeout_ms);
    }

    Emulator emulator_;
    KeyerSimControl keyer_;
    std::unique_ptr<RemoteSite> site_;
    uint16_t port_ = 0;

  private:
    size_t wire_mark_ = 0;
};

INSTANTIATE_TEST_SUITE_P(EachSite, OpenPortOnEachSiteTest,
                         ::testing::Values(Site::kWine, Site::kNative), SiteParamName);

// The site's .ini lets only 127.0.0.2 in: a client from 127.0.0.1 is turned away before a
// byte of it is read, the allowed one links, and when it keys Tune and then says nothing
// more, the site lets the key go within 8 s.
TEST_P(OpenPortOnEachSiteTest, AStrangerIsRefusedAndASilentClientsTuneIsReleased) {
    ASSERT_NO_FATAL_FAILURE(StartWithIni("[Network]\r\nAllowFrom = 127.0.0.2\r\n"));

    // Reset at once: the reset may reach the stranger before its connect is seen complete.
    SOCKET stranger = ConnectTo(port_, kWaitMs);
    const std::string refused = "Connection refused: 127.0.0.1 is not allowed.";
    EXPECT_EQ(WaitForLastLogLine(site_.get(), refused, kWaitMs), refused) << site_->Shown();
    if (stranger != INVALID_SOCKET) {
        char byte = 0;
        EXPECT_LE(recv(stranger, &byte, 1, 0), 0) << "ended, with nothing sent";
        closesocket(stranger);
    }

    SOCKET client = ConnectTo(port_, kWaitMs, "127.0.0.2");
    ASSERT_NE(client, INVALID_SOCKET);
    ASSERT_TRUE(WaitForNetStatus(site_.get(), "Connected to Client.", kWaitMs)) << site_->Shown();
    ForgetWireSoFar();
    ASSERT_TRUE(SendAll(client, PacketBytes(BuildPacket(PKT_TUNE, 1))));
    const Bytes key_down = {0x0B, 0x01};
    ASSERT_TRUE(EndsWith(WireSinceMarkContaining(key_down), key_down));
    const DWORD keyed = GetTickCount();
    const Bytes key_up = {0x0B, 0x00};
    const Bytes wire = WireSinceMarkContaining(key_up);
    EXPECT_NE(std::search(wire.begin(), wire.end(), key_up.begin(), key_up.end()), wire.end());
    EXPECT_LE(GetTickCount() - keyed, 8000u);
    EXPECT_TRUE(WaitForNetStatus(site_.get(), "Connection Closed", kWaitMs)) << site_->Shown();
    closesocket(client);
}

// Tune from home holds the site's key only as long as the site's .ini allows, however alive
// the link is: then the key goes up, the log says so, and the link goes on.
TEST_P(OpenPortOnEachSiteTest, TuneFromTheLinkIsReleasedAtItsLimit) {
    ASSERT_NO_FATAL_FAILURE(StartWithIni("[Safety]\r\nTuneLimitSeconds = 2\r\n"));
    SOCKET client = ConnectTo(port_, kWaitMs);
    ASSERT_NE(client, INVALID_SOCKET);
    ASSERT_TRUE(WaitForNetStatus(site_.get(), "Connected to Client.", kWaitMs));
    ForgetWireSoFar();
    ASSERT_TRUE(SendAll(client, PacketBytes(BuildPacket(PKT_TUNE, 1))));
    const DWORD keyed = GetTickCount();
    const Bytes key_up = {0x0B, 0x00};
    Bytes wire;
    while (GetTickCount() - keyed < 10000 &&
           std::search(wire.begin(), wire.end(), key_up.begin(), key_up.end()) == wire.end()) {
        ASSERT_TRUE(SendAll(client, PacketBytes(BuildPacket(PKT_HEARTBEAT, 1))));
        wire = WireSinceMarkContaining(key_up, 500);
    }
    const DWORD held = GetTickCount() - keyed;
    EXPECT_NE(std::search(wire.begin(), wire.end(), key_up.begin(), key_up.end()), wire.end());
    EXPECT_GE(held, 1900u);
    EXPECT_LE(held, 6000u);
    const std::string released = "Tune from the link released after 2 s.";
    EXPECT_EQ(WaitForLastLogLine(site_.get(), released, kWaitMs), released) << site_->Shown();
    EXPECT_EQ(site_->NetStatus(), "Connected to Client.");
    closesocket(client);
}

// The keyer's cable pulled in the middle of a word: the window goes on answering and taking
// typed text, and within a couple of seconds the station closes the keyer and says so, under
// "Open", so that the operator can attach it again once it is plugged back in.
TEST_F(KeyedStationTest, KeyerUnpluggedWhileKeyingIsClosedAndShownLost) {
    ui::TypeText(window(), IDC_LOG_PANE, "cq cq cq de pellmar pellmar");
    std::string keyed;
    WaitUntil([&] { return (keyed = keyer_.Command("keyed")).size() >= std::strlen("ok CQ"); },
              std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(20));
    ASSERT_GE(keyed.size(), std::strlen("ok CQ")) << keyed;
    ASSERT_EQ(keyer_.Command("unplug"), "ok");
    const DWORD unplugged = GetTickCount();

    ui::TypeText(window(), IDC_LOG_PANE, " k");
    for (int i = 0; i < 10; ++i) {
        EXPECT_LT(AnswerTimeMs(window(), 10000), kAnswerLimitMs);
        Sleep(100);
    }
    ASSERT_TRUE(ui::WaitForText(window(), IDC_LOCAL_STATUS, "Local Tarvel Lost", kWaitMs));
    EXPECT_LT(GetTickCount() - unplugged, 5000u);
    EXPECT_EQ(ui::ReadText(window(), IDC_OPEN_CLOSE), "Open");
    const std::string log = ui::ReadText(window(), IDC_LOG_PANE);
    EXPECT_NE(log.find("PELLMAR K"), std::string::npos) << log;
    const std::string lost =
        "\r\nLocal Tarvel lost: COM" + std::to_string(emulator_.com_port) + " stopped answering.";
    EXPECT_TRUE(EndsWith(log, lost)) << log;
    SaveNamedScreenshot(window(), "keyer_unplugged");

    ui::Click(window(), IDC_EXIT);
    EXPECT_EQ(station_->WaitForExit(kWaitMs), 0);
}

// The keyer flips its busy bit thousands of times a second: the window keeps answering, the
// busy field follows the last word, and text typed meanwhile is keyed whole and in order.
TEST_F(KeyedStationTest, StatusFloodFromTheKeyerLosesNoTypedText) {
    KeyerFlood flood(emulator_.control_port, "inject C4 C0 C4 C0 C4 C0 C4 C0 C4 C0 C4 C0");
    ASSERT_TRUE(flood.connected());
    flood.pouring = true;
    const std::string typed = "CQ TEST DE PELLMAR";
    ui::TypeText(window(), IDC_LOG_PANE, "cq test de pellmar");
    int slowest = 0;
    for (int i = 0; i < 30; ++i) {
        slowest = std::max(slowest, AnswerTimeMs(window(), 10000));
        Sleep(100);
    }
    flood.pouring = false;
    EXPECT_LT(slowest, kAnswerLimitMs);
    const Bytes text(typed.begin(), typed.end());
    EXPECT_EQ(WireSinceMarkContaining(text), text);
    EXPECT_TRUE(EndsWith(ui::ReadText(window(), IDC_LOG_PANE), typed));
    ASSERT_EQ(keyer_.Command("inject C0"), "ok");
    EXPECT_TRUE(ui::WaitForText(window(), IDC_BUSY_STATUS, " ", kWaitMs));
}

// A station killed while attached leaves its keyer in host mode, where the keyer ignores a
// second host open; the station started again and opened still attaches it, with no power
// cycle, by sending the host close and shaking hands once more.
TEST_F(KeyedStationTest, KilledWhileAttachedAndStartedAgainAttachesTheKeyerWithoutAPowerCycle) {
    station_->Kill();
    ASSERT_EQ(keyer_.StateField("host"), "1");
    ASSERT_TRUE(StartInJob(station_.get()));
    ui::Click(window(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_LOCAL_STATUS, "Local Tarvel V23 OnLine", kWaitMs))
        << ui::ReadText(window(), IDC_LOG_PANE);
    // The attach's bytes: the handshake, the host close, and the handshake again.
    const Bytes attach = {0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x02, 0x00,
                          0x03, 0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x02};
    const std::string wire = Hex(WireSinceMarkContaining(attach));
    EXPECT_EQ(wire.rfind(Hex(attach), 0), 0u) << wire;
    const std::string log = ui::ReadText(window(), IDC_LOG_PANE);
    EXPECT_NE(log.find("\r\nAttach local Tarvel: Tarvel left in host mode: closing it"
                       "\r\nAttach local Tarvel: \r\nLoad local Tarvel settings...Done"),
              std::string::npos)
        << log;
}

// One station and the emulated keyer, not yet started, for a case that holds something
// before the station starts.
class HeldByAnotherProgramTest : public StationTestBase {
  protected:
    void SetUp() override {
        StationTestBase::SetUp();
        ASSERT_TRUE(EmulatorFromEnvironment(0, &emulator_));
        ASSERT_EQ(emulator_.com_port, 1) << "the default settings name COM1";
        ASSERT_TRUE(keyer_.Connect(emulator_.control_port));
        ASSERT_EQ(keyer_.Command("reset"), "ok");
    }
    void TearDown() override {
        station_.reset();
        ExpectAnswered(keyer_);
        keyer_.Close();
        StationTestBase::TearDown();
    }
    HWND window() const { return station_->window(); }

    static constexpr int kWaitMs = 15000;
    Emulator emulator_;
    KeyerSimControl keyer_;
    std::unique_ptr<PellmarProcess> station_ = std::make_unique<PellmarProcess>();
};

// Another program holds the configuration file with no sharing while the station starts:
// the Connect log says so (no box waits for a click), the station runs on the defaults, and
// neither the close of the keyer, nor an operator's save answered No, nor the exit writes
// them over the stored messages and settings.
TEST_F(HeldByAnotherProgramTest, ConfigFileHeldOpenIsReportedAndKeptByteForByte) {
    Bytes image = StationImage(1, kNetModeOff, 0, 27);
    PutMessage(&image, 1, "CQ DE K1ABC [S30] TEST");
    station_->WriteConfig(image);
    HANDLE held = CreateFileA(station_->ConfigPath().c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    ASSERT_TRUE(StartInJob(station_.get(), false));
    ASSERT_TRUE(station_->WaitForWindow());
    EXPECT_TRUE(ui::WaitForText(window(), IDC_WPM, "16", kWaitMs)) << "the default speed";
    const std::string line =
        "Read config file failed: running on the defaults; the file is kept as it is.";
    EXPECT_TRUE(EndsWith(WaitForTextEnding(window(), IDC_LOG_PANE, line, kWaitMs), line));
    SaveNamedScreenshot(window(), "config_file_held");
    CloseHandle(held);

    // Closing an attached keyer saves the record; with the file unread, it must not.
    ui::Click(window(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_LOCAL_STATUS, "Local Tarvel V23 OnLine", kWaitMs))
        << ui::ReadText(window(), IDC_LOG_PANE);
    ui::Click(window(), IDC_OPEN_CLOSE);
    ASSERT_TRUE(ui::WaitForText(window(), IDC_LOCAL_STATUS, "Local Tarvel Closed", kWaitMs));
    ui::RightClick(window(), IDC_M1);
    HWND editor = ui::WaitForDialog(station_->process_id(), PELLMAR_EDITOR_CAPTION, kWaitMs);
    ASSERT_NE(editor, nullptr);
    ui::Click(editor, IDC_EDITOR_SAVE);
    HWND box = ui::WaitForMessageBox(station_->process_id(), "Replace Config File", kWaitMs);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(ui::WaitForFocus(box, IDNO, kWaitMs)) << "No is the default button";
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDNO, 0), 0);
    ASSERT_TRUE(ui::WaitForWindowGone(editor, kWaitMs));
    ui::Click(window(), IDC_EXIT);
    EXPECT_EQ(station_->WaitForExit(kWaitMs), 0);
    EXPECT_EQ(station_->ReadConfig(), image);
}

}  // namespace
