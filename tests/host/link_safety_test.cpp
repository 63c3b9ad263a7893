// A station left alone at a remote site, against a test peer on loopback and the keyer
// emulator: whatever way its link ends the keyer is let go of, a dead link never locks it,
// and no character from the link is lost, nor its keying over budget kept. The silence period
// is cut short for the tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "gtest/gtest.h"
#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "net/link_timing.h"
#include "net/packet.h"
#include "net/socket_api.h"
#include "net/timed_packets.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/receive_backlog.h"
#include "station/station.h"
#include "tests/host/keyed_peer.h"
#include "tests/host/main_loop.h"
#include "tests/host/socket_test_peer.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

using namespace std::chrono_literals;
using loopback::Bytes;
using loopback::RawReceive;
using loopback::RawSendAll;
using ByteList = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr auto kSilence = 400ms;
// What a station puts on its keyer's wire when it lets go: clear, key up, paddles released.
// Cleared, PTT off, keyed up, paddles released.
const ByteList kLetGo = {0x0A, 0x18, 0x00, 0x0B, 0x00, 0x14, 0x00};

ByteList Packet(uint8_t type, uint8_t value) {
    return Bytes(BuildPacket(type, value));
}

bool Contains(const ByteList& bytes, const ByteList& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A descriptor of this process that is a socket, and its address as `name` reads it
// (getsockname or getpeername); the first for which `matches` holds, or -1.
int FindSocket(int (*name)(int, sockaddr*, socklen_t*),
               const std::function<bool(int fd, const sockaddr_in&)>& matches) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        if (name(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && matches(fd, address)) {
            return fd;
        }
    }
    return -1;
}

// The station's end of the connection whose other end is `peer`.
int StationEndOf(int peer) {
    sockaddr_in mine{};
    socklen_t length = sizeof mine;
    getsockname(peer, reinterpret_cast<sockaddr*>(&mine), &length);
    return FindSocket(getpeername, [&](int fd, const sockaddr_in& other) {
        return fd != peer && other.sin_port == mine.sin_port &&
               other.sin_addr.s_addr == mine.sin_addr.s_addr;
    });
}

// The station's socket that listens on `port`.
int StationListenerOn(int port) {
    return FindSocket(getsockname, [port](int fd, const sockaddr_in& address) {
        int listening = 0;
        socklen_t length = sizeof listening;
        return ntohs(address.sin_port) == port &&
               getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 &&
               listening == 1;
    });
}

// The other station as a plain server on a free loopback port; a port nobody holds once it
// has gone.
struct PlainServer {
    PlainServer() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = loopback::kLoopback;
        socklen_t length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), length);
        listen(listener, 4);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~PlainServer() { close(listener); }
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    uint16_t port = 0;
};

class LinkSafetyTest : public ::testing::Test {
  protected:
    // `silence`: how long the link may be quiet; cases about a link that drains for a while
    // with its peer quiet set it long.
    explicit LinkSafetyTest(std::chrono::milliseconds silence = kSilence) : silence_(silence) {}

    // No logger port: what a case adds to the .ini goes after it.
    void SetUp() override {
        std::ofstream(folder_.File("pellmar.ini")) << "[Logger]\nPort = 0\n";
        store.SetDefaults();
        std::strcpy(settings.ip_address, "127.0.0.1");
        settings.com_port = 1;
    }
    void TearDown() override {
        station_.CloseAndExit("the test ends");
        for (int fd : peers_) {
            close(fd);
        }
    }

    void StartKeyer(double speedup = 50.0) {
        keyer_sim::Options options;
        options.speedup = speedup;
        options.link_path = folder_.File("com1");
        sim_ = std::make_unique<keyer_sim::KeyerSim>(options);
        ASSERT_TRUE(sim_->Start());
    }

    // A Net Server in `role` with its keyer attached, listening on a free port.
    void ListeningServer(uint32_t role = kNetRoleRemoteSide) {
        StartKeyer();
        settings.net_flags = kNetModeServer | kNetIpAddrOverride | role;
        settings.ip_port = PlainServer().port;
        EXPECT_EQ(station_.OpenConnection(), 1) << Log();
    }

    // A Net Server in `role` with its keyer attached and one peer linked; the peer's socket.
    int LinkedServer(uint32_t role = kNetRoleRemoteSide) {
        ListeningServer(role);
        const int fd = Connect();
        EXPECT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); })) << Log();
        return fd;
    }

    int Connect(const char* from = nullptr) {
        peers_.push_back(loopback::PlainConnect(static_cast<int>(settings.ip_port), from));
        return peers_.back();
    }

    // The keyer's wire from `mark` on, once it holds `part` (or after the patience).
    ByteList WireSince(std::size_t mark, const ByteList& part = {}) {
        ByteList since;
        loop_.PumpUntil(
            [&] {
                const ByteList all = sim_->Received();
                since.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark, all.size())),
                             all.end());
                return Contains(since, part);
            },
            5s);
        return since;
    }

    std::string Log() { return window_.Text(IDC_LOG_PANE); }

    TempFolder folder_;
    RecordingWindow window_;
    MainWindowView view_{window_};
    // The link's own send, but that a case may cut the next one short: only its first
    // `cut_next_send_` bytes go into the stream, and then the stream breaks.
    std::atomic<std::size_t> cut_next_send_{0};
    std::atomic<bool> broken_{false};
    const std::chrono::milliseconds silence_;
    int Send(SocketHandle socket, const uint8_t* bytes, std::size_t count) {
        if (broken_.load()) {
            return kSocketError;
        }
        const std::size_t cut = cut_next_send_.exchange(0);
        if (cut == 0 || cut >= count) {
            return sockets_.SendSome(socket, bytes, count);
        }
        broken_ = true;
        return sockets_.SendSome(socket, bytes, cut);
    }
    SocketLoop sockets_;
    Station station_{
        view_, view_, sockets_,
        StationSetup{
            folder_.File("pellmar.cfg"),
            LinkSetup{silence_, [this](SocketHandle socket, const uint8_t* bytes,
                                       std::size_t count) { return Send(socket, bytes, count); }},
            {},
            {},
            kReconnectWaits,
            KeyerPortPlace{{}, folder_.File("com%d")}}};
    SettingsStore& store = station_.settings();
    SettingsRecord& settings = store.record();
    // Socket events and the link timer, as the window gets them.
    MainLoop loop_{station_, sockets_, MainLoop::LinkTimer::kRunning, 10s};
    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    std::vector<int> peers_;
};

enum class LinkEnd { kPeerCloses, kPeerFallsSilent, kPacketCutShort, kOpenClose, kExit };

class EveryLinkEnd : public LinkSafetyTest, public ::testing::WithParamInterface<LinkEnd> {};

// The peer keys the transmitter down and presses a paddle; then the link ends.
TEST_P(EveryLinkEnd, LetsGoOfTheKeyerAndResetsTuneAndPause) {
    const int peer = LinkedServer();
    ByteList keying = Packet(PKT_HEARTBEAT, 1);
    for (const ByteList& more : {Packet(PKT_TUNE, 1), Packet(PKT_PADDLE, 2)}) {
        keying.insert(keying.end(), more.begin(), more.end());
    }
    const std::size_t mark = sim_->Received().size();
    RawSendAll(peer, keying);
    ASSERT_TRUE(Contains(WireSince(mark, {0x14, 0x02}), {0x0B, 0x01}));
    ASSERT_EQ(RawReceive(peer, kPacketSize), Packet(PKT_HEARTBEAT_REPLY, 1));
    // Tune and Pause on as well, pressed while the station was for a moment a ControlPoint
    // (Setup may change the role of a linked station), so that they went to the peer.
    store.PublishNetFlags(store.NetFlags() ^ (kNetRoleRemoteSide | kNetRoleControlPoint));
    station_.ToggleTune();
    station_.TogglePause();
    store.PublishNetFlags(store.NetFlags() ^ (kNetRoleRemoteSide | kNetRoleControlPoint));
    ByteList pressed = Packet(PKT_TUNE, 1);
    const ByteList pause = Packet(PKT_PAUSE, 1);
    pressed.insert(pressed.end(), pause.begin(), pause.end());
    ASSERT_EQ(RawReceive(peer, 2 * kPacketSize), pressed);
    ASSERT_TRUE(station_.IsTuneOn() && station_.IsPauseOn());
    const std::size_t keyed = sim_->Received().size();

    ByteList expected = kLetGo;
    switch (GetParam()) {
        case LinkEnd::kPeerCloses:
            close(peer);
            break;
        case LinkEnd::kPeerFallsSilent:
            break;  // it heard a heartbeat, and then nothing
        case LinkEnd::kPacketCutShort:
            cut_next_send_ = 7;
            RawSendAll(peer, Packet(PKT_HEARTBEAT, 2));
            break;
        case LinkEnd::kOpenClose:
            station_.OpenOrClose();
            expected.insert(expected.end(), {0x00, 0x0A, 0x00, 0x03});
            break;
        case LinkEnd::kExit:
            station_.Exit();
            break;
    }
    if (GetParam() != LinkEnd::kExit) {  // the exit leaves the flags to the program's end
        ASSERT_TRUE(loop_.PumpUntil([this] { return !station_.IsLinked(); })) << Log();
    }
    EXPECT_EQ(WireSince(keyed, expected), expected);
    EXPECT_EQ(window_.Text(IDC_TUNE), "Tune");
    EXPECT_EQ(window_.Text(IDC_PAUSE), "Pause");
    EXPECT_FALSE(station_.IsTuneOn());
    EXPECT_FALSE(station_.IsPauseOn());

    switch (GetParam()) {
        case LinkEnd::kPeerFallsSilent:
            EXPECT_TRUE(EndsWith(Log(),
                                 "\r\nConnection lost: nothing heard for three "
                                 "heartbeats"))
                << Log();
            EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connection Closed");
            EXPECT_EQ(RawReceive(peer, 1, 4096, 2000), ByteList{}) << "the station closed";
            // The server goes on listening: a new client is taken at once.
            Connect();
            EXPECT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
            break;
        case LinkEnd::kPacketCutShort:
            // The peer got the start of the heartbeat's answer, and then the close.
            {
                const ByteList reply = Packet(PKT_HEARTBEAT_REPLY, 2);
                EXPECT_EQ(RawReceive(peer, kPacketSize, 4096, 2000),
                          ByteList(reply.begin(), reply.begin() + 7));
            }
            EXPECT_TRUE(EndsWith(Log(), "\r\nConnection lost: a packet went out cut short"))
                << Log();
            EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connection Closed");
            break;
        case LinkEnd::kOpenClose: {
            // And opened again, it starts keyed up.
            const std::size_t closed = sim_->Received().size();
            station_.OpenOrClose();
            ASSERT_TRUE(station_.IsKeyerAttached()) << Log();
            EXPECT_FALSE(Contains(WireSince(closed, {0x00, 0x0B}), {0x0B, 0x01}));
            break;
        }
        case LinkEnd::kExit:
            EXPECT_TRUE(sim_->HostModeOpen()) << "exit leaves host mode open";
            EXPECT_EQ(sockets_.Starts(), 0);
            break;
        default:
            EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connection Closed");
            break;
    }
}

std::string NameOf(const ::testing::TestParamInfo<LinkEnd>& info) {
    static const char* const kNames[] = {"PeerCloses", "PeerFallsSilent", "PacketCutShort",
                                         "OpenClose", "Exit"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Ways, EveryLinkEnd,
                         ::testing::Values(LinkEnd::kPeerCloses, LinkEnd::kPeerFallsSilent,
                                           LinkEnd::kPacketCutShort, LinkEnd::kOpenClose,
                                           LinkEnd::kExit),
                         NameOf);

TEST_F(LinkSafetyTest, ExitUnlinkedKeysUpAndLeavesTheBufferAndHostMode) {
    StartKeyer();
    settings.net_flags = kNetModeOff;
    ASSERT_EQ(station_.OpenConnection(), 1) << Log();
    const std::size_t mark = WireSince(0, {0x00, 0x0B}).size();
    station_.Exit();
    EXPECT_EQ(WireSince(mark, {0x14, 0x00}), (ByteList{0x0B, 0x00, 0x14, 0x00}));
    EXPECT_TRUE(sim_->HostModeOpen());
}

// A RemoteSide ends a silent link only once it has heard heartbeats on it.
TEST_F(LinkSafetyTest, ARemoteSideEndsALinkThatBringsNoHeartbeatOrFallsSilent) {
    const int peer = LinkedServer();
    int keep_alive = 0;
    int idle = 0;
    socklen_t length = sizeof keep_alive;
    const int data = StationEndOf(peer);
    ASSERT_GE(data, 0);
    getsockopt(data, SOL_SOCKET, SO_KEEPALIVE, &keep_alive, &length);
    getsockopt(data, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &length);
    EXPECT_EQ(keep_alive, 1);
    EXPECT_EQ(idle, 4);
    loop_.PumpFor(kSilence / 2);
    EXPECT_TRUE(station_.IsLinked()) << "the first heartbeat is waited for a period";
    EXPECT_TRUE(loop_.PumpUntil([this] { return !station_.IsLinked(); }));

    const int client = Connect();
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    for (int beat = 0; beat < 4; ++beat) {
        RawSendAll(client, Packet(PKT_HEARTBEAT, 0));
        loop_.PumpFor(kSilence / 2);
        EXPECT_TRUE(station_.IsLinked()) << "heartbeat " << beat;
    }
    EXPECT_TRUE(loop_.PumpUntil([this] { return !station_.IsLinked(); }));
}

// A ControlPoint sends heartbeats, so it ends a link that never answers; told by its .ini
// not to try the server again, it leaves that to its operator, who can close and open again.
TEST_F(LinkSafetyTest, AControlPointEndsALinkThatNeverAnswers) {
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app) << "[Network]\nReconnect = no\n";
    PlainServer home;
    settings.net_flags = kNetLocalKeyerDisabled | kNetModeClient | kNetRoleControlPoint;
    settings.ip_port = home.port;
    ASSERT_EQ(station_.OpenConnection(), 1) << Log();
    peers_.push_back(accept(home.listener, nullptr, nullptr));
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    ASSERT_TRUE(loop_.PumpUntil([this] { return !station_.IsLinked(); }));
    EXPECT_TRUE(EndsWith(Log(), "\r\nConnection lost: nothing heard for three heartbeats"));
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connection Closed");
    EXPECT_EQ(sockets_.Starts(), 0);
    EXPECT_TRUE(station_.IsLinkPending()) << "the caption stays Close";
    station_.OpenOrClose();
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Network Connection Closed");
    station_.OpenOrClose();
    peers_.push_back(accept(home.listener, nullptr, nullptr));
    EXPECT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
}

TEST_F(LinkSafetyTest, ASecondClientIsRefusedWhileTheLinkLivesAndTakesOverASilentOne) {
    const int first = LinkedServer();
    const int refused = Connect();
    ASSERT_TRUE(loop_.PumpUntil([this] { return EndsWith(Log(), "already linked"); }));
    EXPECT_EQ(RawReceive(refused, 1, 4096, 2000), ByteList{});
    const std::size_t mark = sim_->Received().size();
    RawSendAll(first, Packet(PKT_TUNE, 1));
    ASSERT_TRUE(Contains(WireSince(mark, {0x0B, 0x01}), {0x0B, 0x01}));

    // Quiet for longer than the period, before the link watch has looked.
    std::this_thread::sleep_for(kSilence + 100ms);
    ASSERT_TRUE(station_.IsLinked());
    const std::size_t before = sim_->Received().size();
    const int second = Connect();
    MainLoop events_only{station_, sockets_, MainLoop::LinkTimer::kStopped, 10s};
    ASSERT_TRUE(events_only.PumpUntil([this] {
        return EndsWith(Log(),
                        "Accepting Request....\r\nSilent client dropped for the new one\r\n"
                        "Client 127.0.0.1 accepted.");
    }));
    EXPECT_EQ(RawReceive(first, 1, 4096, 2000), ByteList{}) << "the old link is closed";
    // Let go of, then given its settings again as at any first accept.
    const ByteList wire = WireSince(before, {0x07, 0x15});
    EXPECT_EQ(ByteList(wire.begin(), wire.begin() + 8),
              (ByteList{0x0A, 0x18, 0x00, 0x0B, 0x00, 0x14, 0x00, 0x0F}));
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connected to Client.");
    RawSendAll(second, Packet(PKT_TUNE, 1));
    EXPECT_TRUE(Contains(WireSince(before, {0x0B, 0x01}), {0x0B, 0x01}));
}

// The site's .ini names who may key it: a stranger is closed before a byte is read, the
// listed client links, and a mistake in the list is told once.
TEST_F(LinkSafetyTest, OnlyTheAllowedMayConnectAndEveryClientIsLogged) {
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app)
        << "[Network]\nAllowFrom = 127.0.0.2\n";
    ListeningServer();
    const int stranger = Connect();
    ASSERT_TRUE(loop_.PumpUntil(
        [this] { return EndsWith(Log(), "Connection refused: 127.0.0.1 is not allowed."); }));
    EXPECT_EQ(RawReceive(stranger, 1, 4096, 2000), ByteList{}) << "closed, nothing sent";
    EXPECT_FALSE(station_.IsLinked());
    EXPECT_EQ(Log().find("Accepting Request...."), std::string::npos) << Log();

    Connect("127.0.0.2");
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); })) << Log();
    EXPECT_TRUE(EndsWith(Log(), "Accepting Request....\r\nClient 127.0.0.2 accepted."));
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app)
        << "[Network]\nAllowFrom = 127.0.0.2, 10.0.0.0/33\n";
    station_.Start();  // which reads the .ini again, as each Open does
    station_.Start();
    const std::string log = Log();
    EXPECT_EQ(log.find("10.0.0.0/33"), log.rfind("10.0.0.0/33")) << log;
    EXPECT_NE(log.find("10.0.0.0/33"), std::string::npos) << log;
    EXPECT_TRUE(EndsWith(log, "only loopback (127.0.0.0/8) may connect until it is mended."));
}

// A stranger knocking without end: the log tells of the first few knocks and no more, so the
// night's earlier lines stay in the log file.
TEST_F(LinkSafetyTest, ThousandsOfRefusedKnocksLeaveTheLogFileAlone) {
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app)
        << "[Network]\nAllowFrom = 10.0.0.0/8\n";
    ListeningServer();
    loop_.PumpFor(300ms);  // the log file takes the Open's lines
    const auto read = [this](const char* name) {
        std::ifstream file(folder_.File(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const std::string before = read("pellmar.log");
    ASSERT_NE(before.find("Server..."), std::string::npos) << before;
    constexpr int kKnocks = 20000;
    // What the listener's backlog holds, so that no connect waits for the station.
    constexpr int kBatch = 2;
    for (int knocked = 0; knocked < kKnocks; knocked += kBatch) {
        std::vector<int> batch;
        for (int i = 0; i < kBatch; ++i) {
            batch.push_back(loopback::PlainConnect(static_cast<int>(settings.ip_port)));
        }
        // Each is closed by the station before anything is read.
        ASSERT_TRUE(loop_.PumpUntil([&batch] {
            return std::all_of(batch.begin(), batch.end(), [](int fd) {
                char byte = 0;
                const ssize_t got = recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
                return got == 0 || (got < 0 && errno == ECONNRESET);
            });
        })) << knocked;
        for (int fd : batch) {
            close(fd);
        }
    }
    const std::string after = read("pellmar.log");
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the earlier lines are in place";
    EXPECT_LT(after.size() - before.size(), 1000u) << after.substr(before.size());
    std::size_t told = 0;
    for (std::size_t at = after.find("is not allowed."); at != std::string::npos;
         at = after.find("is not allowed.", at + 1)) {
        ++told;
    }
    EXPECT_EQ(told, 5u);
    EXPECT_EQ(after.find("Accepting Request...."), std::string::npos);
}

// Tune and a paddle from the link hold the site's key only as long as the .ini allows.
TEST_F(LinkSafetyTest, KeyingFromTheLinkIsReleasedAtItsLimitAndTheLinkGoesOn) {
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app)
        << "[Safety]\nTuneLimitSeconds = 1\nPaddleLimitSeconds = 1\n";
    const int peer = LinkedServer();
    const std::size_t mark = sim_->Received().size();
    RawSendAll(peer, Packet(PKT_TUNE, 1));
    RawSendAll(peer, Packet(PKT_PADDLE, 2));
    for (int beat = 0; beat < 8; ++beat) {  // a home station that goes on answering
        RawSendAll(peer, Packet(PKT_HEARTBEAT, 0));
        loop_.PumpFor(kSilence / 2);
    }
    const ByteList wire = WireSince(mark, {0x14, 0x00});
    EXPECT_TRUE(Contains(wire, {0x0B, 0x00}) && Contains(wire, {0x14, 0x00})) << Log();
    EXPECT_NE(Log().find("Tune from the link released after 1 s."), std::string::npos);
    EXPECT_NE(Log().find("Paddles from the link released after 1 s."), std::string::npos);
    EXPECT_TRUE(station_.IsLinked());
}

// Stamped paddle changes are played out a steady delay behind the earliest arrivals, and the
// site's answers to the heartbeat say which; a plain change goes at once, dropping those that
// wait. The limits still hold: a change is never applied before its time.
TEST_F(LinkSafetyTest, StampedPaddlesPlayOutTheDelayBehindAndPlainOnesAtOnce) {
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app) << "[Network]\nPaddleDelay = 80\n";
    const int peer = LinkedServer();
    const Clock::time_point first_stamp_sent = Clock::now();
    RawSendAll(peer, Bytes(TimedHeartbeatPacket(3, 1000)));
    loop_.PumpFor(100ms);
    ASSERT_EQ(RawReceive(peer, kPacketSize), Bytes(HeartbeatReplyWithDelay(3, 80)));
    const std::size_t mark = sim_->Received().size();
    RawSendAll(peer, Packet(PKT_PADDLE, 1));
    RawSendAll(peer, Bytes(TimedPaddlePacket(2, {1010, 0})));
    const ByteList wire = WireSince(mark, {0x14, 0x01, 0x14, 0x02});
    ASSERT_TRUE(Contains(wire, {0x14, 0x01, 0x14, 0x02})) << Log();
    const keyer_sim::LoggedByte pressed = sim_->Log().back();
    // No earlier than the quickest path allows, and 80 ms behind it.
    EXPECT_GE(pressed.when - first_stamp_sent, 80ms);

    // A plain release while a stamped press waits: the release holds, and the press never comes.
    const std::size_t before_release = sim_->Received().size();
    RawSendAll(peer, Bytes(TimedPaddlePacket(1, {1100, 1})));
    RawSendAll(peer, Packet(PKT_PADDLE, 0));
    loop_.PumpFor(400ms);
    EXPECT_EQ(WireSince(before_release), (ByteList{0x14, 0x00})) << Log();
    EXPECT_TRUE(station_.IsLinked());
}

// Over its budget keying from the link (Tune, paddles, PTT in text) is let go of at once and
// no press keys after it; nor, ever, a paddle code the keyer does not know.
TEST_F(LinkSafetyTest, KeyingOverItsBudgetIsLetGoOfAndPressesKeyNothingAfter) {
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app)
        << "[Safety]\nKeyDownSecondsPerMinute = 2\n";
    const int peer = LinkedServer();
    ByteList presses;
    for (const ByteList& more : {Packet(PKT_TEXT_CHAR, 0x18), Packet(PKT_TEXT_CHAR, 0x01),
                                 Packet(PKT_TUNE, 1), Packet(PKT_PADDLE, 7)}) {
        presses.insert(presses.end(), more.begin(), more.end());
    }
    const auto keyer_wire_after_presses = [&](int beats) {
        const auto mark = static_cast<std::ptrdiff_t>(sim_->Received().size());
        RawSendAll(peer, presses);
        for (int beat = 0; beat < beats; ++beat) {  // a home station that goes on answering
            RawSendAll(peer, Packet(PKT_HEARTBEAT, 0));
            loop_.PumpFor(kSilence / 4);
        }
        const ByteList wire = sim_->Received();
        return ByteList(wire.begin() + mark, wire.end());
    };
    const ByteList keyed = keyer_wire_after_presses(30);
    const auto let_go = std::search(keyed.begin(), keyed.end(), kLetGo.begin(), kLetGo.end());
    EXPECT_TRUE(let_go != keyed.end() && Contains({keyed.begin(), let_go}, {0x18, 0x01}) &&
                Contains({keyed.begin(), let_go}, {0x0B, 0x01}))
        << Log();
    EXPECT_NE(Log().find("Keying from the link released: over 2 s in a minute."),
              std::string::npos);
    const ByteList refused = keyer_wire_after_presses(10);
    for (const ByteList& keying : {ByteList{0x18, 0x01}, ByteList{0x0B, 0x01}, ByteList{0x14}}) {
        EXPECT_FALSE(Contains(refused, keying)) << Log();
    }
    EXPECT_TRUE(station_.IsLinked());
}

// A peer that goes on sending heartbeats but never reads: no send waits on it, and once what
// waits for it has not moved for the silence period the link is ended as dead.
TEST_F(LinkSafetyTest, APeerThatStopsReadingHoldsNoSenderAndIsEndedAsDead) {
    const int peer = LinkedServer();
    auto slowest = std::chrono::steady_clock::duration::zero();
    auto next_beat = std::chrono::steady_clock::now();
    const auto give_up = next_beat + 20s;
    // The station answers each heartbeat it is handed: a packet it sends of its own accord.
    const auto beat = BuildPacket(PKT_HEARTBEAT, 0);
    while (station_.IsLinked() && std::chrono::steady_clock::now() < give_up) {
        if (std::chrono::steady_clock::now() >= next_beat) {
            RawSendAll(peer, Packet(PKT_HEARTBEAT, 0));
            next_beat += kSilence / 4;
            loop_.PumpFor(1ms);
        }
        for (int i = 0; i < 1000; ++i) {
            const auto before = std::chrono::steady_clock::now();
            station_.processIPpacket(beat);
            slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
        }
    }
    EXPECT_TRUE(EndsWith(Log(), "Connection lost: the other station stopped reading")) << Log();
    EXPECT_LT(slowest, 200ms) << "a send waited on the peer";
}

// Once linked, Tune acts on the other station: a key left down here is let go of first.
TEST_F(LinkSafetyTest, TuneOnWhenALinkStartsIsReleasedFirst) {
    ListeningServer();
    const std::size_t mark = sim_->Received().size();
    station_.ToggleTune();
    ASSERT_TRUE(Contains(WireSince(mark, {0x0B, 0x01}), {0x0B, 0x01}));
    Connect();
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    EXPECT_TRUE(Contains(WireSince(mark, {0x0B, 0x00}), {0x0B, 0x00}));
    EXPECT_EQ(window_.Text(IDC_TUNE), "Tune");
    EXPECT_FALSE(station_.IsTuneOn());
}

TEST_F(LinkSafetyTest, AFailedAcceptWhileLinkedLeavesTheLinkAndTheListener) {
    const int peer = LinkedServer();
    // For one accept the listener's descriptor is a socket that does not listen, whose
    // accept fails as a listener's can; then the listener is back in its place.
    const int listener = StationListenerOn(station_.LinkPort());
    ASSERT_GE(listener, 0);
    const int kept = dup(listener);
    const int not_listening = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(dup2(not_listening, listener), listener);
    EXPECT_EQ(
        station_.OnSocketEvent(SocketEvent{static_cast<SocketHandle>(listener), kSocketAccept, 0}),
        0);
    ASSERT_EQ(dup2(kept, listener), listener);
    close(kept);
    close(not_listening);
    EXPECT_TRUE(EndsWith(Log(), "\r\naccept failed: 10022")) << Log();
    EXPECT_TRUE(station_.IsLinked());
    EXPECT_EQ(window_.Text(IDC_NET_STATUS), "Connected to Client.");
    RawSendAll(peer, Packet(PKT_VERSION_REPLY, 21));
    EXPECT_TRUE(loop_.PumpUntil(
        [this] { return window_.Text(IDC_REMOTE_STATUS) == "Remote Tarvel Ver:21"; }));
    Connect();  // still listening: refused, the link being alive
    EXPECT_TRUE(loop_.PumpUntil([this] { return EndsWith(Log(), "already linked"); }));
}

// 1,000 packets at once, buffered commands among the text, to a keyer far slower than the
// link: everything reaches the keyer's wire whole and in order while hold paces the sender.
class BurstTest : public LinkSafetyTest {
  protected:
    BurstTest() : LinkSafetyTest(60s) {}

    int LinkAndSendBurst(int packets) {
        settings.keyer_settings.wpm = 40;
        const int peer = LinkedServer();
        const uint8_t units[][3] = {{0x18, 0x01, 0}, {0x1C, 40, 0}, {0x1B, 'A', 'R'},
                                    {0x19, 0x02, 0}, {0x1E, 0, 0},  {0x18, 0x00, 0}};
        ByteList stream;
        for (int i = 0; static_cast<int>(sent_.size()) < packets; ++i) {
            const uint8_t* unit = units[i % 6];
            const int length = 1 + keyer_wire::BufferedCommandArgumentCount(unit[0]);
            const char* text = i % 3 == 0 ? "CQ DE TEST " : "EE ";
            ByteList piece(text, text + std::strlen(text));
            if (i % 4 == 1) {
                piece.insert(piece.begin(), unit, unit + length);
            }
            for (uint8_t byte : piece) {
                if (static_cast<int>(sent_.size()) == packets) {
                    break;
                }
                sent_.push_back(byte);
                const ByteList packet = Packet(PKT_TEXT_CHAR, byte);
                stream.insert(stream.end(), packet.begin(), packet.end());
            }
        }
        mark_ = sim_->Received().size();
        RawSendAll(peer, stream);
        return peer;
    }

    // The status values the station has sent upstream so far.
    std::vector<uint8_t> StatusSent(int peer) {
        const ByteList bytes = RawReceive(peer, 1 << 20, 4096, 100);
        for (std::size_t at = 0; at + kPacketSize <= bytes.size(); at += kPacketSize) {
            if (bytes[at + 1] == PKT_STATUS) {
                status_.push_back(bytes[at + 2]);
            }
        }
        return status_;
    }

    ByteList sent_;
    std::vector<uint8_t> status_;
    std::size_t mark_ = 0;
};

TEST_F(BurstTest, ArrivesWholeAndInOrderWithHoldReportedWhileItDrains) {
    const int peer = LinkAndSendBurst(1000);
    std::size_t most_waiting = 0;
    bool quick_while_waiting = true;
    ByteList wire;
    ASSERT_TRUE(loop_.PumpUntil(
        [&] {
            most_waiting = std::max(most_waiting, station_.TextWaitingForKeyer().size());
            if (!station_.TextWaitingForKeyer().empty()) {
                quick_while_waiting &= station_.LinkTimerPeriod() == kLinkFeedPeriod;
            }
            wire = sim_->Received();
            return wire.size() >= mark_ + sent_.size() &&
                   std::equal(sent_.begin(), sent_.end(),
                              wire.end() - static_cast<std::ptrdiff_t>(sent_.size()));
        },
        60s));
    // The station's own commands at the accept (its settings block) may still reach the
    // wire after the mark; what follows them is the burst, whole and in order.
    ASSERT_GE(wire.size(), mark_ + sent_.size());
    EXPECT_EQ(ByteList(wire.end() - static_cast<std::ptrdiff_t>(sent_.size()), wire.end()), sent_);
    EXPECT_GT(most_waiting, 500u);
    EXPECT_EQ(Log().find("backlog full"), std::string::npos);
    ASSERT_TRUE(loop_.PumpUntil([&] {
        const std::vector<uint8_t> status = StatusSent(peer);
        return !status.empty() && (status.back() & 0x01) == 0;
    }));
    EXPECT_TRUE(std::any_of(status_.begin(), status_.end(), [](uint8_t s) { return s & 0x01; }));
    // The link timer runs quick only while it has text to move on: an idle link costs little.
    EXPECT_TRUE(quick_while_waiting);
    EXPECT_EQ(station_.LinkTimerPeriod(), kLinkWatchPeriod);
}

TEST_F(BurstTest, ClearEmptiesTheBacklogAndTheQueueAtOnce) {
    const int peer = LinkAndSendBurst(1000);
    ASSERT_TRUE(loop_.PumpUntil([&] { return station_.TextWaitingForKeyer().size() > 500; }));
    RawSendAll(peer, Packet(PKT_CLEAR, 0));
    const auto cleared = Clock::now();
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.TextWaitingForKeyer().size() == 0; }));
    const ByteList wire = WireSince(mark_, {0x0A});
    EXPECT_LT(Clock::now() - cleared, 1s);
    loop_.PumpFor(500ms);
    EXPECT_EQ(WireSince(mark_), wire) << "nothing of the burst after the clear";
    EXPECT_EQ(wire.back(), 0x0A);
    EXPECT_NE(sim_->Command("state").find("buffered=0"), std::string::npos);
    ASSERT_TRUE(loop_.PumpUntil([&] {
        const std::vector<uint8_t> status = StatusSent(peer);
        return !status.empty() && (status.back() & 0x01) == 0;
    }));
}

// A keyer that holds for ever: the backlog fills, says so once, and a command that finds no
// room for its argument is dropped whole rather than left to take the next character.
TEST_F(BurstTest, AFullBacklogSaysSoOnceAndSplitsNoCommand) {
    const int peer = LinkedServer();
    // Silent, so that no status of its own (busy once the first bytes reach it) ends the hold.
    ASSERT_EQ(sim_->Command("silent on"), "ok");
    sim_->Inject({0xC1});  // hold
    ByteList stream;
    const auto add = [&stream](uint8_t byte, int count) {
        const ByteList packet = Packet(PKT_TEXT_CHAR, byte);
        for (int i = 0; i < count; ++i) {
            stream.insert(stream.end(), packet.begin(), packet.end());
        }
    };
    add('E', 64 + static_cast<int>(kReceiveBacklogSize) - 1);  // the queue, then all but one
    add(0x1C, 1);
    add(40, 1);  // no room: its command goes too
    add('T', 2);
    RawSendAll(peer, stream);
    // Over four thousand packets, one per read notification: a loaded machine takes a while.
    ASSERT_TRUE(loop_.PumpUntil(
        [&] { return station_.TextWaitingForKeyer().size() == kReceiveBacklogSize; }, 30s));
    loop_.PumpFor(200ms);
    const ByteList waiting = station_.TextWaitingForKeyer();
    ASSERT_EQ(waiting.size(), kReceiveBacklogSize);
    EXPECT_EQ(ByteList(waiting.end() - 2, waiting.end()), (ByteList{'E', 'T'}))
        << "the first T takes the command's place";
    const std::string log = Log();
    EXPECT_EQ(log.find("backlog full"), log.rfind("backlog full"));
    EXPECT_TRUE(EndsWith(log, "\r\nprocessIPpacket: receive backlog full, text lost")) << log;
}

// A site with a link key: only a home that proves it links, and from then on only packets
// whose tags check key anything.
class KeyedSiteTest : public LinkSafetyTest {
  protected:
    void SetUp() override {
        LinkSafetyTest::SetUp();
        std::ofstream(folder_.File("pellmar.ini"), std::ios::app) << keyed_peer::SharedKeyIni();
        ListeningServer();
        mark_ = sim_->Received().size();
    }

    keyed_peer::KeyedPeer Home(const LinkKey& key, const char* from = nullptr) {
        return keyed_peer::KeyedPeer(
            Connect(from), LinkRole::kClient, key,
            [this](const std::function<bool()>& done) { return loop_.PumpUntil(done, 7s); });
    }

    bool KeyWentDown() { return Contains(WireSince(mark_), {0x0B, 0x01}); }

    std::size_t mark_ = 0;
};

// Whatever a peer without the key does, it never links and the key never goes down; each is
// closed and told, within the time to prove.
TEST_F(KeyedSiteTest, APeerWithoutTheKeyIsRefusedAndKeysNothing) {
    const Clock::time_point start = Clock::now();
    const int plain = Connect();  // speaks only the plain packets: Tune at once, and holds on
    RawSendAll(plain, Packet(PKT_TUNE, 1));
    EXPECT_TRUE(loop_.PumpUntil(
        [this] { return EndsWith(Log(), "127.0.0.1 did not prove the link key."); }, 6s))
        << Log();
    const int silent = Connect("127.0.0.2");
    EXPECT_TRUE(loop_.PumpUntil(
        [this] { return EndsWith(Log(), "127.0.0.2 did not prove the link key within 5 s."); }, 7s))
        << Log();
    EXPECT_LT(Clock::now() - start, 7s);
    keyed_peer::KeyedPeer stranger = Home(keyed_peer::OtherKey(), "127.0.0.3");
    EXPECT_NE(stranger.Prove(), ExchangeStep::kProved);
    EXPECT_TRUE(EndsWith(Log(), "Connection refused: 127.0.0.3 gave a wrong link key.")) << Log();
    for (const int fd : {plain, silent}) {
        EXPECT_EQ(RawReceive(fd, 100, 4096, 500).size(), kPacketSize) << "the challenge alone";
    }
    EXPECT_FALSE(station_.IsLinked());
    EXPECT_FALSE(KeyWentDown());
    EXPECT_EQ(Log().find("Accepting Request"), std::string::npos) << Log();
}

TEST_F(KeyedSiteTest, AnUnsealedPacketInAProvedLinkKeysNothingAndEndsIt) {
    keyed_peer::KeyedPeer home = Home(keyed_peer::SharedKey());
    ASSERT_EQ(home.Prove(), ExchangeStep::kProved);
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    RawSendAll(peers_.back(), Packet(PKT_TUNE, 1));
    RawSendAll(peers_.back(), Packet(PKT_TUNE, 1));
    ASSERT_TRUE(loop_.PumpUntil([this] { return !station_.IsLinked(); }));
    EXPECT_TRUE(EndsWith(Log(), "The link's packets failed their check; link closed.")) << Log();
    EXPECT_FALSE(KeyWentDown());
    EXPECT_TRUE(Contains(WireSince(mark_, kLetGo), kLetGo));
}

// Three wrong proofs quiet an address: one summary, no more lines, one try at a time. A right
// proof from it still links, so a stranger behind the home's address cannot lock the home out.
TEST_F(KeyedSiteTest, WrongProofsQuietAnAddressButARightProofFromItStillLinks) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        keyed_peer::KeyedPeer stranger = Home(keyed_peer::OtherKey(), "127.0.0.5");
        EXPECT_NE(stranger.Prove(), ExchangeStep::kProved);
    }
    const std::string log = Log();
    const std::string refusal = "Connection refused: 127.0.0.5 gave a wrong link key.";
    EXPECT_EQ(log.find(refusal, log.find(refusal, log.find(refusal) + 1) + 1), log.rfind(refusal))
        << "three told, the fourth not: " << log;
    EXPECT_TRUE(EndsWith(log,
                         "127.0.0.5 gave three wrong link keys in 10 minutes: its tries "
                         "are taken one at a time and not logged for 10 minutes."))
        << log;
    const int held = Connect("127.0.0.5");  // the one try it may have open
    keyed_peer::KeyedPeer second_try = Home(keyed_peer::SharedKey(), "127.0.0.5");
    EXPECT_NE(second_try.Prove(), ExchangeStep::kProved) << "closed: one try at a time";
    close(held);
    peers_.erase(std::find(peers_.begin(), peers_.end(), held));
    loop_.PumpFor(200ms);  // its close seen
    keyed_peer::KeyedPeer home = Home(keyed_peer::SharedKey(), "127.0.0.5");
    EXPECT_EQ(home.Prove(), ExchangeStep::kProved) << Log();
    EXPECT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
}

// A home with the key links, keys and gets sealed answers, however many strangers wait
// meanwhile: connections that have not proved never touch the live link.
TEST_F(KeyedSiteTest, AHomeWithTheKeyKeysWhileStrangersNeverDisplaceOrHoldUpTheLink) {
    keyed_peer::KeyedPeer home = Home(keyed_peer::SharedKey());
    ASSERT_EQ(home.Prove(), ExchangeStep::kProved) << Log();
    ASSERT_TRUE(loop_.PumpUntil([this] { return station_.IsLinked(); }));
    EXPECT_TRUE(EndsWith(Log(), "Accepting Request....\r\nClient 127.0.0.1 accepted.")) << Log();
    home.SendSealed(PKT_VERSION_REQUEST, 0);
    const std::optional<::Packet> version = home.ReceiveSealed();
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(PacketType(*version), PKT_VERSION_REPLY);
    EXPECT_TRUE(loop_.PumpUntil([this] {
        return window_.Text(IDC_LINK_HEALTH) == "Client 127.0.0.1, key";
    })) << window_.Text(IDC_LINK_HEALTH);
    std::vector<int> strangers;
    for (uint8_t beat = 0; beat < 6; ++beat) {  // a home that goes on sending heartbeats
        strangers.push_back(Connect());
        home.SendSealed(PKT_HEARTBEAT, beat);
        loop_.PumpFor(kSilence / 8);
    }
    for (uint8_t beat = 0; beat < 6; ++beat) {
        const std::optional<::Packet> reply = home.ReceiveSealed();
        ASSERT_TRUE(reply.has_value()) << Log();
        EXPECT_EQ(PacketType(*reply), PKT_HEARTBEAT_REPLY);
        EXPECT_EQ(PacketValue(*reply), beat);
    }
    EXPECT_EQ(RawReceive(strangers.back(), 100, 4096, 100), ByteList{})
        << "past the unproved ones' limit, closed at once";
    home.SendSealed(PKT_TUNE, 1);
    EXPECT_TRUE(Contains(WireSince(mark_, {0x0B, 0x01}), {0x0B, 0x01}));
    EXPECT_TRUE(station_.IsLinked());
}

// What Open says of the key: a broken one opens no link and is named without the key; a site
// open to everyone without one says so.
class OpenWithTheKeyTest : public LinkSafetyTest,
                           public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};
INSTANTIATE_TEST_SUITE_P(
    EachIni, OpenWithTheKeyTest,
    ::testing::Values(std::make_tuple("[Network]\nAllowFrom = any\n", true),
                      std::make_tuple("[Network]\nAllowFrom = 127.0.0.1\n", true),
                      std::make_tuple("[Network]\nKey = 0123\nAllowFrom = any\n", false),
                      std::make_tuple("[Network]\nKey = KEY\nAllowFrom = any\n", true)));

TEST_P(OpenWithTheKeyTest, TellsWhatTheKeyLeavesOpen) {
    const std::string key = LinkKeyText(keyed_peer::SharedKey());
    std::string ini = std::get<0>(GetParam());
    const bool opens = std::get<1>(GetParam());
    if (ini.find("KEY") != std::string::npos) {
        ini.replace(ini.find("KEY"), 3, key);
    }
    std::ofstream(folder_.File("pellmar.ini"), std::ios::app) << ini;
    StartKeyer();
    settings.net_flags = kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
    settings.ip_port = PlainServer().port;
    EXPECT_EQ(station_.OpenConnection(), opens ? 1 : 0) << Log();
    EXPECT_EQ(station_.LinkPort() != 0, opens);
    const bool broken =
        Log().find("No link: the link key in pellmar.ini is not usable (") != std::string::npos;
    EXPECT_EQ(broken, !opens) << Log();
    const bool everyone =
        ini.find("any") != std::string::npos && ini.find("Key") == std::string::npos;
    EXPECT_EQ(Log().find("Anyone on the Internet may key this station") != std::string::npos,
              everyone)
        << Log();
    EXPECT_EQ(Log().find(key.substr(0, 16)), std::string::npos) << "never the key itself";
}

// A keyed Net Client says nothing but its challenge and proof until the server has proved the
// key too; a server with another key never hears a packet of the link.
class KeyedHomeTest : public LinkSafetyTest {
  protected:
    ExchangeStep LinkToServerWith(const LinkKey& server_key) {
        std::ofstream(folder_.File("pellmar.ini"), std::ios::app) << keyed_peer::SharedKeyIni();
        StartKeyer();
        settings.net_flags = kNetModeClient | kNetRoleControlPoint;
        settings.ip_port = server_.port;
        EXPECT_EQ(station_.OpenConnection(), 1) << Log();
        peers_.push_back(accept(server_.listener, nullptr, nullptr));
        server_end_.emplace(
            peers_.back(), LinkRole::kServer, server_key,
            [this](const std::function<bool()>& done) { return loop_.PumpUntil(done, 7s); });
        return server_end_->Prove();
    }

    PlainServer server_;
    std::optional<keyed_peer::KeyedPeer> server_end_;
};

TEST_F(KeyedHomeTest, ProvesThenStartsItsLinkSealed) {
    ASSERT_EQ(LinkToServerWith(keyed_peer::SharedKey()), ExchangeStep::kProved) << Log();
    const std::optional<::Packet> first = server_end_->ReceiveSealed();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(PacketType(*first), PKT_PAUSE);
    EXPECT_EQ(PacketType(*server_end_->ReceiveSealed()), PKT_VERSION_REQUEST);
    EXPECT_TRUE(station_.IsLinked());
    EXPECT_TRUE(loop_.PumpUntil([this] { return window_.Text(IDC_LINK_HEALTH) == "Link -, key"; }))
        << window_.Text(IDC_LINK_HEALTH);
}

// The server with another key closes, as a station does on a wrong proof; the home says why
// it may have been, and has sent nothing of the link.
TEST_F(KeyedHomeTest, TellsOfAServerWithAnotherKeyHavingSentItNothing) {
    EXPECT_EQ(LinkToServerWith(keyed_peer::OtherKey()), ExchangeStep::kWrongProof);
    EXPECT_EQ(RawReceive(peers_.back(), 100, 4096, 300), ByteList{}) << "nothing after its proof";
    shutdown(peers_.back(), SHUT_RDWR);
    EXPECT_TRUE(loop_.PumpUntil([this] {
        return Log().find(
                   "Connection refused: 127.0.0.1 closed the link before proving the "
                   "link key; do both stations have the same key?") != std::string::npos;
    })) << Log();
    EXPECT_FALSE(station_.IsLinked());
}

// The keying budget on its own clock, checked on every tick of the link's watch.
using Verdict = KeyingBudget::Verdict;
const KeyingBudget::Clock::time_point kStart{};
constexpr auto kStep = 10ms;

// A peer holds each press `hold` unless a check lets go first, waits `gap` and then presses
// until a press is taken; the key is down `most_down` in some minute, but never longer.
struct Peer {
    const char* what;
    std::chrono::seconds allowance;
    std::chrono::milliseconds hold, gap;
    std::chrono::seconds most_down;
};

class KeyingBudgetPlay : public ::testing::TestWithParam<Peer> {};

TEST_P(KeyingBudgetPlay, KeysAtMostTheAllowanceInAnyMinute) {
    const Peer peer = GetParam();
    SCOPED_TRACE(peer.what);
    KeyingBudget budget(kLinkWatchPeriod * 3 / 2);
    budget.SetAllowance(peer.allowance);
    std::vector<char> down_steps;
    bool down = false;
    auto changed = kStart;
    for (auto now = kStart; now < kStart + 2min; now += kStep) {
        if ((now - kStart) % kLinkWatchPeriod == 0ms && budget.Check(now) != Verdict::kWithin) {
            down = false;
            changed = now;
        }
        const bool pressing =
            down ? now - changed < peer.hold : now - changed >= peer.gap && budget.HasRoom(now);
        if (pressing != down) {
            budget.Note(down = pressing, changed = now);
        }
        down_steps.push_back(down);
    }
    int in_minute = 0, most = 0;
    for (std::size_t end = 0, minute = 1min / kStep; end < down_steps.size(); ++end) {
        in_minute += down_steps[end] - (end >= minute ? down_steps[end - minute] : 0);
        most = std::max(most, in_minute);
    }
    EXPECT_LE(most * kStep, peer.most_down);
    EXPECT_GT(most * kStep, peer.most_down - 1s);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, KeyingBudgetPlay,
    ::testing::Values(Peer{"Tune toggled just under its limit", 30s, 29900ms, 100ms, 30s},
                      Peer{"paddles pressed again and again", 30s, 950ms, 50ms, 30s},
                      Peer{"keying within the budget", 30s, 200ms, 400ms, 20s},
                      Peer{"no budget", 0s, 29900ms, 100ms, 60s}));

TEST(KeyingBudget, ThreeTripsWithinTenMinutesEndTheLink) {
    for (const auto& [apart, ends] : {std::pair{240s, true}, std::pair{330s, false}}) {
        KeyingBudget budget(kLinkWatchPeriod);
        budget.SetAllowance(2s);
        Verdict third{};
        for (int trip = 0; trip < 3; ++trip) {
            budget.Note(true, kStart + trip * apart);
            third = budget.Check(kStart + trip * apart + 2s);
        }
        EXPECT_EQ(third, ends ? Verdict::kTrippedTooOften : Verdict::kTripped);
    }
}

}  // namespace
