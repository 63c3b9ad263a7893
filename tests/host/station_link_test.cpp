// A station brought on line and taken off as the operator does it, against a test peer on
// loopback (plain sockets, so the peer can also misbehave) and the keyer emulator: the
// Connect log word for word, the status lines, and the packets on the wire.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "keyer/keyer_link.h"
#include "keyer/keyer_wire.h"
#include "keyer/serial_port.h"
#include "net/packet.h"
#include "net/socket_api.h"
#include "net/timed_packets.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/keyer_settings_packet.h"
#include "station/station.h"
#include "tests/host/main_loop.h"
#include "tests/host/socket_test_peer.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string kBegin = "\r\n--------------Begin Connect Log------------";
const std::string kEnd = "\r\n--------------End Connect Log------------\r\n";

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}
bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

Bytes PacketBytes(uint8_t type, uint8_t value) {
    const Packet packet = BuildPacket(type, value);
    return Bytes(packet.bytes, packet.bytes + kPacketSize);
}

// A heartbeat with count `count` and the link's time, never earlier than `*stamp`, which it
// moves on to its own.
void ExpectHeartbeat(const Bytes& bytes, uint8_t count, uint32_t* stamp) {
    ASSERT_EQ(bytes.size(), kPacketSize);
    Packet packet;
    std::memcpy(packet.bytes, bytes.data(), kPacketSize);
    const std::optional<uint32_t> time_ms = ReadHeartbeatTime(packet);
    ASSERT_TRUE(time_ms.has_value()) << "no stamp";
    const Packet expected = TimedHeartbeatPacket(count, *time_ms);
    EXPECT_EQ(bytes, Bytes(expected.bytes, expected.bytes + kPacketSize));
    EXPECT_GE(*time_ms, *stamp);
    *stamp = *time_ms;
}

// A free loopback port: bound, read back and let go.
uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// The other station, played with plain sockets.
class Peer {
  public:
    ~Peer() {
        for (int fd : fds_) {
            close(fd);
        }
    }

    int Connect(uint16_t port) { return Own(loopback::PlainConnect(port)); }

    // Listening on `port` (0 for any) of `host`; returns the port.
    uint16_t Listen(uint16_t port = 0, uint32_t host = INADDR_LOOPBACK) {
        listener_ = Own(socket(AF_INET, SOCK_STREAM, 0));
        const int reuse = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address = Loopback(port);
        address.sin_addr.s_addr = htonl(host);
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener_, 4), 0);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    int Accept() {
        pollfd wait{listener_, POLLIN, 0};
        if (poll(&wait, 1, 5000) != 1) {
            return -1;
        }
        return Own(accept(listener_, nullptr, nullptr));
    }

    static void Send(int fd, const Bytes& bytes) { loopback::RawSendAll(fd, bytes); }

    // Everything that arrives until `count` bytes are in, the station closes, or 5 s.
    static Bytes Receive(int fd, size_t count, std::chrono::milliseconds patience = 5000ms) {
        return loopback::RawReceive(fd, count, 256, static_cast<int>(patience.count()));
    }

    // True when the station has closed the connection.
    static bool SeesClose(int fd) {
        const auto closed = [fd] {
            pollfd wait{fd, POLLIN, 0};
            uint8_t byte;
            return poll(&wait, 1, 20) == 1 && recv(fd, &byte, 1, 0) <= 0;
        };
        return WaitUntil(closed, 5s, [] {});  // the poll is the pause
    }

    void Close(int fd) {
        close(fd);
        for (int& owned : fds_) {
            if (owned == fd) {
                owned = -1;
            }
        }
    }

  private:
    static sockaddr_in Loopback(uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    int Own(int fd) {
        fds_.push_back(fd);
        return fd;
    }
    std::vector<int> fds_;
    int listener_ = -1;
};

class StationTest : public ::testing::Test {
  protected:
    // No logger port: its line and its start of the socket library are no part of a case.
    // What a case adds to the .ini goes after it.
    void SetUp() override {
        std::ofstream(folder_.File("pellmar.ini")) << "[Logger]\nPort = 0\n";
        store.SetDefaults();
        settings.net_flags = kNetLocalKeyerDisabled;
        std::strcpy(settings.ip_address, "127.0.0.1");
    }

    void TearDown() override { station_.CloseAndExit("the test ends"); }

    std::string Log() { return window_.Text(IDC_LOG_PANE); }

    void BeServer(uint32_t role = kNetRoleControlPoint) {
        settings.net_flags = kNetLocalKeyerDisabled | kNetModeServer | kNetIpAddrOverride | role;
        settings.ip_port = FreePort();
    }
    void BeClient(uint16_t port, uint32_t role = kNetRoleControlPoint) {
        settings.net_flags = kNetLocalKeyerDisabled | kNetModeClient | role;
        settings.ip_port = port;
    }

    // A Net Server with one peer linked to it; the peer's socket.
    int LinkedServer(Peer* peer, uint32_t role = kNetRoleControlPoint) {
        BeServer(role);
        EXPECT_EQ(station_.OpenConnection(), 1) << Log();
        const int fd = peer->Connect(static_cast<uint16_t>(settings.ip_port));
        EXPECT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); })) << Log();
        return fd;
    }

    TempFolder folder_;
    RecordingWindow window_;
    MainWindowView view_{window_};
    // A client waits a second, then two, between its tries at its server. Its keyer's COM
    // port n is the folder's `keyer<n>`.
    SocketLoop sockets_;
    Station station_{view_, view_, sockets_,
                     StationSetup{folder_.File("pellmar.cfg"),
                                  {},
                                  {},
                                  {},
                                  {1s, 2s},
                                  KeyerPortPlace{{}, folder_.File("keyer%d")}}};
    SettingsStore& store = station_.settings();
    SettingsRecord& settings = store.record();
    // Socket events as the window gets them; a case ticks the link timer itself.
    MainLoop loop_{station_, sockets_, MainLoop::LinkTimer::kStopped, 5s};
};

TEST_F(StationTest, KeyerDisabledAndNetworkOffLogsOnlyTheBeginning) {
    EXPECT_EQ(station_.OpenConnection(), 1);
    EXPECT_EQ(Log(), kBegin);
    EXPECT_EQ(sockets_.Starts(), 0);
    EXPECT_FALSE(station_.IsKeyerAttached());
}

class StationKeyerTest : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        keyer_sim::Options options;
        options.speedup = 50;
        options.link_path = folder_.File("keyer1");
        sim_ = std::make_unique<keyer_sim::KeyerSim>(options);
        ASSERT_TRUE(sim_->Start());
        settings.net_flags = kNetModeOff;
        settings.com_port = 1;
    }
    void TearDown() override {
        StationTest::TearDown();
        sim_->Stop();
    }
    std::unique_ptr<keyer_sim::KeyerSim> sim_;
};

TEST_F(StationKeyerTest, AttachesTheKeyerLoadsItAndPicksTheModeByVersion) {
    ASSERT_EQ(station_.OpenConnection(), 1);
    EXPECT_EQ(Log(), kBegin +
                         "\r\nopenComm: 1\r\nAttach local Tarvel: \r\nLoad local Tarvel "
                         "settings...Done\r\n");
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    EXPECT_TRUE(station_.IsKeyerAttached());
    EXPECT_TRUE(keyer_wire::IsExtendedKeyerVersion(station_.KeyerVersion()));

    Bytes expected = {0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x02, 0x0F};
    const auto* block = reinterpret_cast<const uint8_t*>(&settings.keyer_settings);
    expected.insert(expected.end(), block, block + sizeof settings.keyer_settings);
    expected.insert(expected.end(), {0x07, 0x15, 0x00, 0x0B});
    ASSERT_TRUE(sim_->WaitForReceived(expected.size(), 3s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sim_->Received(), expected);

    // The close path: key released, settings saved, base mode, host close; the port is free
    // again. The release bytes come first, so the wire is read once the close has ended it.
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel Closed");
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_FALSE(station_.IsKeyerAttached());
    const Bytes close = {0x00, 0x0A, 0x00, 0x03};
    Bytes wire;
    EXPECT_TRUE(loop_.PumpUntil([&] {
        wire = sim_->Received();
        return wire.size() >= expected.size() + close.size() &&
               Bytes(wire.end() - 4, wire.end()) == close;
    }));
    EXPECT_EQ(Bytes(wire.end() - 4, wire.end()), close);
    EXPECT_EQ(access(store.config_path().c_str(), F_OK), 0);
}

TEST_F(StationKeyerTest, VersionNineteenGetsBaseMode) {
    ASSERT_EQ(sim_->Command("version 19"), "ok");
    ASSERT_EQ(station_.OpenConnection(), 1);
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V19 OnLine");
    EXPECT_FALSE(keyer_wire::IsExtendedKeyerVersion(station_.KeyerVersion()));
    ASSERT_TRUE(sim_->WaitForReceived(8 + 18 + 2, 3s));
    const Bytes wire = sim_->Received();
    EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), (Bytes{0x00, 0x0A}));
}

TEST_F(StationKeyerTest, SilentKeyerFailsAndGivesThePortBack) {
    ASSERT_EQ(sim_->Command("silent on"), "ok");
    EXPECT_EQ(station_.OpenConnection(), 0);
    EXPECT_EQ(Log(), kBegin + "\r\nopenComm: 1\r\nAttach local Tarvel: No Echo Response");
    EXPECT_FALSE(station_.IsKeyerAttached());

    // The next attempt can open the port again rather than failing for ever.
    ASSERT_EQ(sim_->Command("silent off"), "ok");
    EXPECT_EQ(station_.OpenConnection(), 1) << Log();
    EXPECT_TRUE(station_.IsKeyerAttached());
}

TEST_F(StationKeyerTest, WrongEchoAndMissingVersionAreLogged) {
    ASSERT_EQ(sim_->Command("echo-answer 54"), "ok");
    EXPECT_EQ(station_.OpenConnection(), 0);
    EXPECT_TRUE(EndsWith(Log(), "Attach local Tarvel: Echo Mismatch")) << Log();
    ASSERT_EQ(sim_->Command("echo-answer normal"), "ok");
    ASSERT_EQ(sim_->Command("no-version on"), "ok");
    EXPECT_EQ(station_.OpenConnection(), 0);
    EXPECT_TRUE(EndsWith(Log(), "Attach local Tarvel: Tarvel does not respond")) << Log();
}

// An earlier run left the keyer in host mode (00 02), where it ignores a host open until the
// host close.
TEST_F(StationKeyerTest, KeyerLeftInHostModeIsClosedAndAttachedAgain) {
    const int earlier_run = open(sim_->PortPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(write(earlier_run, "\0\2", 2), 2);
    ASSERT_TRUE(sim_->WaitForReceived(2, 3s));
    close(earlier_run);
    ASSERT_EQ(station_.OpenConnection(), 1) << Log();
    EXPECT_TRUE(EndsWith(Log(),
                         "Attach local Tarvel: Tarvel left in host mode: closing it\r\n"
                         "Attach local Tarvel: \r\nLoad local Tarvel settings...Done\r\n"));
    const Bytes handshake_twice = {0, 2, 0x13, 0x13, 0x13, 0, 4, 0x55, 0, 2,
                                   0, 3, 0x13, 0x13, 0x13, 0, 4, 0x55, 0, 2};
    ASSERT_TRUE(sim_->WaitForReceived(handshake_twice.size(), 3s));
    const Bytes wire = sim_->Received();
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 20), handshake_twice);
}

// A device the .ini names goes before the record's COM port number, which cannot name it.
TEST_F(StationKeyerTest, TheIniNamesTheKeyersDevice) {
    settings.com_port = 3;
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app)
        << "[Keyer]\nDevice = " << folder_.File("keyer1");
    EXPECT_EQ(station_.OpenConnection(), 1) << Log();
    EXPECT_EQ(station_.KeyerDevice(), folder_.File("keyer1"));
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
}

TEST_F(StationKeyerTest, MissingPortAsksToCheckTheSettings) {
    settings.com_port = 3;
    EXPECT_EQ(station_.OpenConnection(), 0);
    EXPECT_EQ(Log(), kBegin + "\r\nopenComm: 3Comm Open Failed!\r\nCheck com port settings.");
}

// Another program has the keyer's port open; the lock stands for the exclusive open that a
// Windows COM port gets. The Open is refused without a byte on the wire, and goes through
// once the other program lets go.
TEST_F(StationKeyerTest, PortHeldByAnotherProgramIsReportedAndTheOpenAfterItsReleaseAttaches) {
    const int other = open(sim_->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    window_.SetControlText(IDC_OPEN_CLOSE, "Open");
    station_.OpenOrClose();
    EXPECT_EQ(Log(), kBegin + "\r\nopenComm: 1Comm Open Failed!\r\nCheck com port settings.");
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_FALSE(station_.IsKeyerAttached());
    EXPECT_TRUE(sim_->Received().empty());

    close(other);
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine") << Log();
    station_.OpenOrClose();
    EXPECT_FALSE(station_.IsKeyerAttached());
}

// The keyer's adapter is pulled while nothing else is open: the station closes the keyer,
// says so, and Open attaches it again once it is plugged back in. A keyer that is merely
// silent for longer than that is not taken for lost.
TEST_F(StationKeyerTest, UnpluggedKeyerIsClosedShownAndAttachesAgainOncePluggedIn) {
    station_.OpenOrClose();
    ASSERT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine") << Log();
    std::this_thread::sleep_for(kKeyerLostAfter + 300ms);
    station_.CloseLocalKeyerIfLost();
    EXPECT_TRUE(station_.IsKeyerAttached());

    const std::string before = Log();
    ASSERT_EQ(sim_->Command("unplug"), "ok");
    const auto unplugged = Clock::now();
    ASSERT_TRUE(loop_.PumpUntil([this] {
        station_.CloseLocalKeyerIfLost();
        return !station_.IsKeyerAttached();
    }));
    EXPECT_GE(Clock::now() - unplugged, kKeyerLostAfter);
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel Lost");
    EXPECT_EQ(Log(), before + "\r\nLocal Tarvel lost: COM1 stopped answering.");
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_FALSE(station_.IsKeyerAttached());

    ASSERT_EQ(sim_->Command("plug"), "ok");
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine") << Log();
}

// A remote site loses its keyer while linked: the keyer is closed and shown lost, the home
// station is told the site has no keyer (the version answer, unasked), and the link goes on
// under "Close" until the operator ends it.
TEST_F(StationKeyerTest, UnpluggedKeyerOfALinkedSiteTellsTheHomeStationAndKeepsTheLink) {
    settings.net_flags = kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
    settings.ip_port = FreePort();
    station_.OpenOrClose();
    ASSERT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine") << Log();
    Peer peer;
    const int fd = peer.Connect(static_cast<uint16_t>(settings.ip_port));
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); })) << Log();

    ASSERT_EQ(sim_->Command("unplug"), "ok");
    ASSERT_TRUE(loop_.PumpUntil([this] {
        station_.CloseLocalKeyerIfLost();
        return !station_.IsKeyerAttached();
    }));
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel Lost");
    EXPECT_TRUE(station_.IsLinked());
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Close");
    const Bytes told = Peer::Receive(fd, kPacketSize);
    ASSERT_EQ(told.size(), kPacketSize);
    EXPECT_EQ(told[1], PKT_VERSION_REPLY);
    EXPECT_EQ(told[2], kNoKeyerVersion);
    station_.OpenOrClose();
    EXPECT_FALSE(station_.IsLinked());
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
}

// The keyer's adapter is pulled and plugged back at the same path, with nobody at the
// station: the link timer's tick finds it again within 6 s, unlinked as well as linked, and a
// linked site then tells the home station its keyer's version unasked and gives the keyer
// what home last had its keyer take.
class KeyerComesBackTest : public StationKeyerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(KeyerComesBackTest, IsAttachedAgainWithinSixSecondsOfBeingPluggedBack) {
    const bool linked = GetParam();
    if (linked) {
        settings.net_flags = kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
        settings.ip_port = FreePort();
    }
    station_.OpenOrClose();
    ASSERT_TRUE(station_.IsKeyerAttached()) << Log();
    Peer peer;
    const int fd = linked ? peer.Connect(static_cast<uint16_t>(settings.ip_port)) : -1;
    ASSERT_TRUE(loop_.PumpUntil([&] { return station_.IsLinked() == linked; })) << Log();
    const auto holds = [this](const Bytes& part) {
        const Bytes wire = sim_->Received();
        return std::search(wire.begin(), wire.end(), part.begin(), part.end()) != wire.end();
    };
    KeyerSettings home_block = settings.keyer_settings;
    home_block.sidetone ^= 1;
    const Bytes home_speed = {keyer_wire::kSetSpeed, 31};
    if (linked) {
        const Packet settings_packet = BuildKeyerSettingsPacket(home_block);
        Peer::Send(fd, Bytes(settings_packet.bytes, settings_packet.bytes + kPacketSize));
        Peer::Send(fd, PacketBytes(PKT_SPEED, 31));
        ASSERT_TRUE(loop_.PumpUntil([&] { return holds(home_speed); }));
    }
    const auto tick_until = [this](const std::function<bool()>& done) {
        return loop_.PumpUntil(
            [&] {
                station_.CloseLocalKeyerIfLost();
                station_.AttachKeyerAgainIfDue();
                return done();
            },
            7s);
    };

    ASSERT_EQ(sim_->Command("unplug"), "ok");
    ASSERT_TRUE(tick_until([this] { return !station_.IsKeyerAttached(); }));
    const std::string tries = "\r\nNo keyer on COM1; trying it again every 5 s.";
    ASSERT_TRUE(tick_until([&] { return EndsWith(Log(), tries); })) << Log();
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), linked ? "Close" : "Open");

    ASSERT_EQ(sim_->Command("plug"), "ok");
    const auto plugged = Clock::now();
    ASSERT_TRUE(tick_until([this] { return station_.IsKeyerAttached(); })) << Log();
    EXPECT_LT(Clock::now() - plugged, 6s);
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel V23 OnLine");
    EXPECT_TRUE(EndsWith(Log(), tries + "\r\nKeyer back on COM1.")) << Log();
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Close");
    if (linked) {
        const Bytes told = Peer::Receive(fd, 2 * kPacketSize);
        ASSERT_EQ(told.size(), 2 * kPacketSize);
        EXPECT_EQ(told[1], PKT_VERSION_REPLY);
        EXPECT_EQ(told[2], kNoKeyerVersion);
        EXPECT_EQ(told[kPacketSize + 1], PKT_VERSION_REPLY);
        EXPECT_EQ(told[kPacketSize + 2], 23);
        // The later speed rides in the block's one load.
        home_block.wpm = 31;
        Bytes home_load = {keyer_wire::kLoadSettings};
        const auto* block = reinterpret_cast<const uint8_t*>(&home_block);
        home_load.insert(home_load.end(), block, block + sizeof home_block);
        EXPECT_TRUE(loop_.PumpUntil([&] { return holds(home_load); }))
            << ::testing::PrintToString(sim_->Received());
    }
}

INSTANTIATE_TEST_SUITE_P(LinkedOrNot, KeyerComesBackTest, ::testing::Bool());

TEST_F(StationKeyerTest, NetworkFailureAfterTheKeyerLeavesItAttached) {
    settings.net_flags = kNetModeClient;
    std::strcpy(settings.ip_address, "");
    window_.SetControlText(IDC_OPEN_CLOSE, "Open");
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_TRUE(station_.IsKeyerAttached());
    EXPECT_EQ(sockets_.Starts(), 0);
    // The caption stayed "Open", but the keyer is attached: the press closes it.
    station_.OpenOrClose();
    EXPECT_FALSE(station_.IsKeyerAttached());
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel Closed");
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_EQ(access(store.config_path().c_str(), F_OK), 0);
}

TEST_F(StationKeyerTest, CloseWithNetworkOffClosesOnlyTheKeyerAndSavesTheRecord) {
    station_.OpenOrClose();
    ASSERT_EQ(window_.Text(IDC_OPEN_CLOSE), "Close") << Log();
    window_.SetControlText(IDC_NET_STATUS, "No Network Connection");
    window_.SetControlText(IDC_REMOTE_STATUS, "Remote Tarvel Ver:23");
    settings.keyer_settings.wpm = 33;            // as the WPM field leaves it
    ASSERT_TRUE(sim_->WaitForReceived(28, 3s));  // the attach and the settings load
    std::this_thread::sleep_for(50ms);
    const size_t attached = sim_->Received().size();

    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_EQ(window_.Text(IDC_LOCAL_STATUS), "Local Tarvel Closed");
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "No Network Connection");
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "Remote Tarvel Ver:23");
    EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
    // Cleared, PTT off, keyed up and paddles released before base mode and the host close.
    ASSERT_TRUE(sim_->WaitForReceived(attached + 11, 3s));
    const Bytes wire = sim_->Received();
    EXPECT_EQ(Bytes(wire.begin() + static_cast<std::ptrdiff_t>(attached), wire.end()),
              (Bytes{0x0A, 0x18, 0x00, 0x0B, 0x00, 0x14, 0x00, 0x00, 0x0A, 0x00, 0x03}));
    settings.keyer_settings.wpm = 0;
    store.Read();
    EXPECT_EQ(settings.keyer_settings.wpm, 33);
}

// Each rejected address text, and the library given back after it.
TEST_F(StationTest, AddressTextsThatAreNotLegal) {
    for (const char* text : {"255.255.255.255", "", "1host.example", "-1"}) {
        SCOPED_TRACE(text);
        window_.SetControlText(IDC_LOG_PANE, "");
        BeClient(81);
        std::strcpy(settings.ip_address, text);
        EXPECT_EQ(station_.OpenConnection(), 0);
        EXPECT_EQ(Log(), kBegin +
                             "\r\nInitializing winsock Client...\r\nThe IPv4 address entered "
                             "is not legal");
        EXPECT_EQ(sockets_.Starts(), 0);
        EXPECT_FALSE(station_.IsLinkPending());
    }
}

TEST_F(StationTest, UnknownHostNameIsReportedAndReleased) {
    BeClient(81);
    std::strcpy(settings.ip_address, "no-such-host.invalid");
    EXPECT_EQ(station_.OpenConnection(), 0);
    const std::string log = Log();
    const std::string prefix = kBegin + "\r\nInitializing winsock Client...";
    ASSERT_EQ(log.substr(0, prefix.size()), prefix);
    const std::string reason = log.substr(prefix.size());
    EXPECT_TRUE(reason == "\r\nError: Host not found" ||
                reason == "\r\nError: No data record found" ||
                reason.rfind("\r\nFunction failed with error: 1100", 0) == 0)
        << reason;
    EXPECT_EQ(sockets_.Starts(), 0);
}

TEST_F(StationTest, PortAlreadyBoundFailsAtBindAndReleases) {
    Peer peer;
    BeServer();
    settings.ip_port = peer.Listen();
    EXPECT_EQ(station_.OpenConnection(), 0);
    const std::string log = Log();
    EXPECT_TRUE(StartsWith(log, kBegin + "\r\nInitializing winsock Server...\r\nOfficial name: "))
        << log;
    EXPECT_TRUE(EndsWith(log, "\r\nIP: 127.0.0.1\r\nbind()...\r\nbind() failed.")) << log;
    EXPECT_EQ(sockets_.Starts(), 0);
    EXPECT_EQ(station_.LinkPort(), 0);
}

TEST_F(StationTest, PortNumbersAboveTheRangeWrap) {
    Peer peer;
    const uint16_t port = peer.Listen();
    BeClient(port);
    settings.ip_port = 0x10000u + port;
    ASSERT_EQ(station_.OpenConnection(), 1);
    EXPECT_GE(peer.Accept(), 0);
}

TEST_F(StationTest, ServerListensAcceptsAndSendsItsSettingsAtOnce) {
    BeServer();
    ASSERT_EQ(station_.OpenConnection(), 1) << Log();
    const std::string log = Log();
    EXPECT_TRUE(StartsWith(log, kBegin + "\r\nInitializing winsock Server...\r\nOfficial name: "))
        << log;
    EXPECT_TRUE(EndsWith(log, "\r\nIP: 127.0.0.1\r\nbind()...listen()\r\nActivate Async Mode"))
        << log;
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Listening for Request....");
    EXPECT_TRUE(station_.IsLinkPending());

    Peer peer;
    const int fd = peer.Connect(static_cast<uint16_t>(settings.ip_port));
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    EXPECT_EQ(Log().substr(log.size()), "\r\nAccepting Request....\r\nClient 127.0.0.1 accepted.");
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connected to Client.");
    EXPECT_FALSE(station_.IsLinkPending());
    const Bytes settings_packet = Peer::Receive(fd, kPacketSize);
    ASSERT_EQ(settings_packet.size(), kPacketSize);
    EXPECT_EQ(settings_packet[0], PKT_MARKER);
    EXPECT_EQ(settings_packet[1], PKT_KEYER_SETTINGS);
}

TEST_F(StationTest, ClientConnectsAndIntroducesItself) {
    Peer peer;
    const uint16_t port = peer.Listen();
    BeClient(port, kNetRoleRemoteSide);
    station_.TogglePause();
    station_.LockSpeedToPot(true);
    station_.OnSpeedPot(27);  // the keyer's pot, as its reader hands the reading on
    ASSERT_EQ(station_.OpenConnection(), 1);
    const std::string log = Log();
    EXPECT_TRUE(StartsWith(log, kBegin + "\r\nInitializing winsock Client...\r\nOfficial name: "))
        << log;
    EXPECT_TRUE(EndsWith(log, "\r\nIP: 127.0.0.1\r\nActivate Async Mode\r\nConnect to Server"))
        << log;
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Waiting...");
    EXPECT_TRUE(station_.IsLinkPending());
    const int fd = peer.Accept();
    ASSERT_GE(fd, 0);
    const auto connected_at = Clock::now();
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    EXPECT_EQ(Log().substr(Log().size() - kEnd.size()), kEnd);
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connected to server.");

    Bytes expected = PacketBytes(PKT_PAUSE, 1);
    const Bytes request = PacketBytes(PKT_VERSION_REQUEST, 0);
    expected.insert(expected.end(), request.begin(), request.end());
    EXPECT_EQ(Peer::Receive(fd, 2 * kPacketSize), expected);
    // A RemoteSide sends no settings; the speed follows 250 ms after the connect.
    EXPECT_EQ(Peer::Receive(fd, kPacketSize), PacketBytes(PKT_SPEED, 27));
    EXPECT_GE(Clock::now() - connected_at, 240ms);
    EXPECT_EQ(Peer::Receive(fd, 1, 200ms), Bytes{});
}

TEST_F(StationTest, ControlPointClientSendsItsSettingsBeforeTheSpeed) {
    Peer peer;
    BeClient(peer.Listen());
    settings.net_flags |= kNetRemoteSidetone;
    station_.LockSpeedToPot(true);
    station_.OnSpeedPot(31);
    ASSERT_EQ(station_.OpenConnection(), 1);
    const int fd = peer.Accept();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    const Bytes first = Peer::Receive(fd, 3 * kPacketSize);
    ASSERT_EQ(first.size(), 3 * kPacketSize);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 20), PacketBytes(PKT_PAUSE, 0));
    EXPECT_EQ(Bytes(first.begin() + 20, first.begin() + 40), PacketBytes(PKT_VERSION_REQUEST, 0));
    EXPECT_EQ(first[41], PKT_KEYER_SETTINGS);
    EXPECT_EQ(Peer::Receive(fd, kPacketSize), PacketBytes(PKT_SPEED, 31));
}

// 127.0.0.2 has no name here: the address itself must do.
TEST_F(StationTest, DottedAddressWithoutAReverseRecordIsStillUsed) {
    Peer peer;
    const uint16_t port = peer.Listen(0, 0x7F000002);
    BeClient(port);
    std::strcpy(settings.ip_address, "127.0.0.2");
    ASSERT_EQ(station_.OpenConnection(), 1) << Log();
    EXPECT_NE(Log().find("\r\nIP: 127.0.0.2\r\nActivate Async Mode"), std::string::npos) << Log();
    EXPECT_GE(peer.Accept(), 0);
    EXPECT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
}

TEST_F(StationTest, StartupOpensWhenAskedAndClearsPause) {
    Peer peer;
    BeClient(peer.Listen());
    station_.OpenAtStartup();
    EXPECT_EQ(Log(), "");  // not asked to

    settings.open_at_startup = 1;
    station_.TogglePause();
    const auto start = Clock::now();
    station_.OpenAtStartup();
    EXPECT_GE(Clock::now() - start, 240ms);
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Close");
    EXPECT_FALSE(station_.IsPauseOn());
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Waiting...");
}

TEST_F(StationTest, FailedOpenLeavesTheCaptionAndPause) {
    BeClient(81);
    std::strcpy(settings.ip_address, "255.255.255.255");
    window_.SetControlText(IDC_OPEN_CLOSE, "Open");
    station_.TogglePause();
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_TRUE(station_.IsPauseOn());
    EXPECT_EQ(window_.FocusedControl(), IDC_LOG_PANE);
}

TEST_F(StationTest, RefusedConnectFailsAndTheNextPressResets) {
    BeClient(FreePort());
    ASSERT_EQ(station_.OpenConnection(), 1);
    ASSERT_TRUE(
        loop_.PumpUntil([this] { return window_.Text(IDC_NET_STATUS) == "Failed to connect"; }));
    EXPECT_TRUE(station_.IsLinkPending());
    EXPECT_EQ(sockets_.Starts(), 0);
    EXPECT_EQ(station_.LinkPort(), 0);

    window_.SetControlText(IDC_REMOTE_STATUS, "Remote Tarvel Ver:23");
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Network Connection Closed");
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "Remote Tarvel Closed");
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_FALSE(station_.IsLinkPending());
}

TEST_F(StationTest, PacketsAreReassembledFromTheStream) {
    Peer peer;
    const int fd = LinkedServer(&peer);
    Peer::Receive(fd, kPacketSize);  // the settings block

    const Bytes version = PacketBytes(PKT_VERSION_REPLY, 23);
    Peer::Send(fd, Bytes(version.begin(), version.begin() + 7));
    loop_.PumpFor(100ms);
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "");
    Peer::Send(fd, Bytes(version.begin() + 7, version.end()));
    EXPECT_TRUE(loop_.PumpUntil(
        [this] { return window_.Text(IDC_REMOTE_STATUS) == "Remote Tarvel Ver:23"; }));

    Bytes three = PacketBytes(PKT_VERSION_REPLY, 21);
    for (const Bytes& more : {PacketBytes(PKT_STATUS, 0x04), PacketBytes(PKT_HEARTBEAT, 9)}) {
        three.insert(three.end(), more.begin(), more.end());
    }
    Peer::Send(fd, three);
    EXPECT_TRUE(loop_.PumpUntil([this] { return window_.Text(IDC_BUSY_STATUS) == "Busy"; }));
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "Remote Tarvel Ver:21");
    loop_.PumpFor(50ms);
    EXPECT_EQ(Peer::Receive(fd, kPacketSize), PacketBytes(PKT_HEARTBEAT_REPLY, 9));
}

TEST_F(StationTest, PeerGoneMidPacketThenANewClientIsAccepted) {
    Peer peer;
    const int fd = LinkedServer(&peer);
    const Bytes version = PacketBytes(PKT_VERSION_REPLY, 23);
    Peer::Send(fd, Bytes(version.begin(), version.begin() + 7));
    peer.Close(fd);
    ASSERT_TRUE(loop_.PumpUntil([this] { return !station_.IsLinked(); }));
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connection Closed");
    EXPECT_EQ(window_.Text(IDC_REMOTE_STATUS), "");  // half a packet was never acted on

    const int again = peer.Connect(static_cast<uint16_t>(settings.ip_port));
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connected to Client.");
    EXPECT_EQ(Peer::Receive(again, kPacketSize).size(), kPacketSize);  // settings again
    // The new link starts on a packet boundary: the old half packet is gone.
    Peer::Send(again, PacketBytes(PKT_VERSION_REPLY, 24));
    EXPECT_TRUE(loop_.PumpUntil(
        [this] { return window_.Text(IDC_REMOTE_STATUS) == "Remote Tarvel Ver:24"; }));
    const std::string log = Log();
    size_t accepts = 0;
    for (size_t at = log.find("Accepting Request...."); at != std::string::npos;
         at = log.find("Accepting Request....", at + 1)) {
        ++accepts;
    }
    EXPECT_EQ(accepts, 2u);
}

TEST_F(StationTest, SecondClientIsRefusedAndTheLinkCarriesOn) {
    Peer peer;
    const int first = LinkedServer(&peer);
    Peer::Receive(first, kPacketSize);
    const int second = peer.Connect(static_cast<uint16_t>(settings.ip_port));
    ASSERT_TRUE(loop_.PumpUntil([this] {
        return Log().find("\r\nConnection refused: already linked") != std::string::npos;
    }));
    EXPECT_TRUE(Peer::SeesClose(second));
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connected to Client.");
    EXPECT_TRUE(station_.IsLinked());
    Peer::Send(first, PacketBytes(PKT_VERSION_REPLY, 22));
    EXPECT_TRUE(loop_.PumpUntil(
        [this] { return window_.Text(IDC_REMOTE_STATUS) == "Remote Tarvel Ver:22"; }));
}

TEST_F(StationTest, CloseAfterTheClientLeftReleasesTheListenerSoOpenBindsAgain) {
    Peer peer;
    const int fd = LinkedServer(&peer);
    window_.SetControlText(IDC_OPEN_CLOSE, "Close");
    peer.Close(fd);
    ASSERT_TRUE(loop_.PumpUntil([this] { return !station_.IsLinked(); }));
    EXPECT_FALSE(station_.IsLinkPending());

    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Open");
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Network Connection Closed");
    EXPECT_EQ(sockets_.Starts(), 0);

    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Close") << Log();
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Listening for Request....");
    peer.Connect(static_cast<uint16_t>(settings.ip_port));
    EXPECT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
}

// The link field adds the delay that the other station plays this one's paddles out with, as
// its answers to the heartbeat say; a plain answer says nothing of it.
TEST_F(StationTest, TheLinkFieldShowsTheOtherStationsPaddleDelay) {
    Peer peer;
    const int fd = LinkedServer(&peer, kNetRoleConverse);
    Peer::Receive(fd, 1, 200ms);
    const auto answer = [&](const Packet& reply) {
        station_.OnHeartbeatTick();
        ASSERT_EQ(Peer::Receive(fd, kPacketSize).size(), kPacketSize);
        Peer::Send(fd, Bytes(reply.bytes, reply.bytes + kPacketSize));
    };
    answer(BuildPacket(PKT_HEARTBEAT_REPLY, 0));
    ASSERT_TRUE(loop_.PumpUntil([this] { return EndsWith(window_.Text(IDC_LINK_HEALTH), " ms"); }));
    EXPECT_EQ(window_.Text(IDC_LINK_HEALTH).find("paddles"), std::string::npos);
    answer(HeartbeatReplyWithDelay(1, 40));
    EXPECT_TRUE(loop_.PumpUntil([this] {
        return EndsWith(window_.Text(IDC_LINK_HEALTH), " ms, paddles 40 ms");
    })) << window_.Text(IDC_LINK_HEALTH);
}

TEST_F(StationTest, HeartbeatCountsOnAndBlinksWithTheAnswers) {
    Peer peer;
    const int fd = LinkedServer(&peer, kNetRoleConverse);
    Peer::Receive(fd, 1, 200ms);  // Converse sends no settings block
    // The count runs on from 0: 254 heartbeats bring it to where it wraps; each carries the
    // link's time.
    uint32_t stamp = 0;
    for (int beat = 0; beat < 254; ++beat) {
        station_.OnHeartbeatTick();
        ASSERT_NO_FATAL_FAILURE(
            ExpectHeartbeat(Peer::Receive(fd, kPacketSize), static_cast<uint8_t>(beat), &stamp));
    }
    for (uint8_t expected : {254, 255, 0, 1}) {
        station_.OnHeartbeatTick();
        ExpectHeartbeat(Peer::Receive(fd, kPacketSize), expected, &stamp);
        Peer::Send(fd, PacketBytes(PKT_HEARTBEAT_REPLY, expected));
        const std::string mark = (expected & 1) != 0 ? " " : "+";
        EXPECT_TRUE(loop_.PumpUntil([&] { return window_.Text(IDC_HEARTBEAT) == mark; }))
            << int{expected};
    }

    settings.net_flags = (settings.net_flags & ~kNetRoleMask) | kNetRoleRemoteSide;
    station_.OnHeartbeatTick();
    EXPECT_EQ(Peer::Receive(fd, 1, 200ms), Bytes{});
    // The RemoteSide's tick left the count where it was.
    settings.net_flags = (settings.net_flags & ~kNetRoleMask) | kNetRoleConverse;
    station_.OnHeartbeatTick();
    ExpectHeartbeat(Peer::Receive(fd, kPacketSize), 2, &stamp);
}

TEST_F(StationTest, ExitClosesTheLinkedDataSocketOnly) {
    Peer peer;
    const uint16_t port = peer.Listen();
    BeClient(port);
    ASSERT_EQ(station_.OpenConnection(), 1);
    station_.CloseNetworkAtExit();  // only connecting: nothing is closed
    EXPECT_EQ(sockets_.Starts(), 1);
    const int fd = peer.Accept();
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    station_.CloseNetworkAtExit();
    EXPECT_TRUE(Peer::SeesClose(fd));
    EXPECT_EQ(sockets_.Starts(), 0);
}

// A ControlPoint's server is not there yet: the client tries it again, a little later each
// time, until it links; a link that ends starts the waits afresh, and Close ends the wait.
TEST_F(StationTest, ClientTriesItsServerAgainUntilLinkedAndCloseStopsTheWait) {
    const uint16_t port = FreePort();
    BeClient(port);
    MainLoop ticking{station_, sockets_, MainLoop::LinkTimer::kRunning, 5s};
    const auto log_ends = [this](const char* end) {
        return [this, end] { return EndsWith(Log(), end); };
    };
    station_.OpenOrClose();
    ASSERT_TRUE(
        ticking.PumpUntil(log_ends("\r\nConnect to Server\r\nTrying the server again in 1 s.")));
    EXPECT_EQ(window_.Text(IDC_OPEN_CLOSE), "Close");
    ASSERT_TRUE(
        ticking.PumpUntil(log_ends("\r\nConnect to Server\r\nTrying the server again in 2 s.")));
    Peer peer;
    peer.Listen(port);
    ASSERT_TRUE(ticking.PumpUntil([this] { return station_.IsLinked(); })) << Log();
    peer.Close(peer.Accept());
    ASSERT_TRUE(ticking.PumpUntil(log_ends("\r\nTrying the server again in 1 s."))) << Log();
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Network Connection Closed");
    ticking.PumpFor(1500ms);
    EXPECT_TRUE(EndsWith(Log(), "\r\nTrying the server again in 1 s.")) << Log();
}

// A site that dials out, started while home's name does not resolve yet (its network just up
// at boot), tries again as after a drop rather than ending; an operator's Open fails as ever.
TEST_F(StationTest, AnUnattendedClientWhoseServerDoesNotResolveYetTriesItAgain) {
    const uint16_t port = FreePort();
    BeClient(port, kNetRoleRemoteSide);
    std::strcpy(settings.ip_address, "no-such-home.invalid");
    EXPECT_EQ(station_.OpenConnection(), 0) << Log();
    MainLoop ticking{station_, sockets_, MainLoop::LinkTimer::kRunning, 5s};
    ASSERT_EQ(station_.OpenUnattended(), 1) << Log();
    EXPECT_TRUE(EndsWith(Log(), "\r\nError: Host not found\r\nTrying the server again in 1 s."))
        << Log();
    std::strcpy(settings.ip_address, "127.0.0.1");
    Peer peer;
    peer.Listen(port);
    EXPECT_TRUE(ticking.PumpUntil([this] { return station_.IsLinked(); })) << Log();
}

}  // namespace
