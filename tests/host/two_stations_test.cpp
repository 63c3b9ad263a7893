// Two stations in one process, linked over loopback, each with its own view and its own
// emulated keyer: a station is an object, and nothing of one leaks into the other.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "keyer/serial_port.h"
#include "net/socket_api.h"
#include "station/station.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_folder.h"
#include "tools/common/wait_until.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

using namespace std::chrono_literals;

// One station with its view, its keyer on COM`com_port`, its own configuration file and the
// socket loop it runs on, as each copy of the program has its own window.
struct StationUnderTest {
    StationUnderTest(const TempFolder& folder, int com_port, const char* name,
                     ReconnectWaits reconnect_waits = kReconnectWaits)
        : keyer([&] {
              keyer_sim::Options options;
              options.speedup = 50.0;
              options.link_path = folder.File("com" + std::to_string(com_port));
              return options;
          }()),
          station(view, view, sockets,
                  StationSetup{folder.File(name),
                               {},
                               {},
                               {},
                               std::move(reconnect_waits),
                               KeyerPortPlace{{}, folder.File("com%d")}}) {
        station.settings().SetDefaults();
        station.settings().record().com_port = static_cast<uint32_t>(com_port);
    }

    RecordingView view;
    keyer_sim::KeyerSim keyer;
    SocketLoop sockets;
    Station station;

    // Its window's loop, briefly: the next socket event, if one comes, then the link timer.
    void Pump() {
        SocketEvent event{};
        if (sockets.Wait(2, &event)) {
            station.OnSocketEvent(event);
        }
        station.OnLinkWatchTick();
    }
};

// Whether this machine can listen on ::1 at all.
bool HasIpv6Loopback() {
    SocketLoop sockets;
    sockets.Start();
    const SocketHandle socket = sockets.OpenStream(NetAddress::Family::kIpv6);
    const bool bound =
        socket != kNoSocket && sockets.Bind(socket, *NetAddress::FromText("::1"), 0) == 0;
    sockets.Stop();
    return bound;
}

class TwoStationsInOneProcess : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(site_.keyer.Start() && home_.keyer.Start()); }
    // As the program ends: each lets go of its keyer and its link.
    void TearDown() override {
        home_.station.Exit();
        site_.station.Exit();
    }

    // Both stations' loops, on this thread, in turn.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds patience = 10s) {
        return WaitUntil(done, patience, [this] {
            site_.Pump();
            home_.Pump();
        });
    }

    TempFolder folder_;
    // Each tries its server again after a second, where a case makes it a Net Client.
    StationUnderTest site_{folder_, 1, "site.cfg", {1s}};
    StationUnderTest home_{folder_, 2, "home.cfg", {1s}};
};

TEST_F(TwoStationsInOneProcess, TextTypedAtHomeIsKeyedAtTheSiteAndEchoedBack) {
    // The site: a RemoteSide Net Server on any free loopback port.
    SettingsStore& site = site_.station.settings();
    site.PublishNetFlags(kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide);
    std::strcpy(site.record().ip_address, "127.0.0.1");
    site.record().ip_port = 0;
    ASSERT_EQ(site_.station.OpenConnection(), 1) << site_.view.Log();
    const int port = site_.station.LinkPort();
    ASSERT_GT(port, 0);

    // Home: a ControlPoint Net Client of that port.
    SettingsStore& home = home_.station.settings();
    home.PublishNetFlags(kNetModeClient | kNetRoleControlPoint);
    std::strcpy(home.record().ip_address, "127.0.0.1");
    home.record().ip_port = static_cast<uint32_t>(port);
    ASSERT_EQ(home_.station.OpenConnection(), 1) << home_.view.Log();

    ASSERT_TRUE(PumpUntil([this] {
        return site_.view.Network() == NetworkStatus::kLinkedToClient &&
               home_.view.Network() == NetworkStatus::kLinkedToServer;
    })) << site_.view.Log()
        << "\n"
        << home_.view.Log();
    EXPECT_EQ(site_.view.LocalKeyer(), LocalKeyerState::kOnline);
    EXPECT_EQ(home_.view.LocalKeyer(), LocalKeyerState::kOnline);

    for (const char character : std::string("CQ DE")) {
        home_.station.TypeCharacter(static_cast<unsigned char>(character));
    }
    EXPECT_EQ(home_.view.Typed(), "CQ DE");
    ASSERT_TRUE(PumpUntil([this] { return home_.view.Echoes() == "CQ DE"; }))
        << "echoed back: \"" << home_.view.Echoes() << "\"";

    const std::vector<uint8_t> wire = site_.keyer.Received();
    EXPECT_NE(std::string(wire.begin(), wire.end()).find("CQ DE"), std::string::npos)
        << "the site's keyer keyed the text";
    EXPECT_EQ(site_.view.Echoes(), "") << "a RemoteSide sends its echo home and shows none";
}

// A site behind an address nobody can reach dials out to home. Home's operator presses Close
// and Open while linked: it listens again on its port although its old connection still waits
// out its close, and the site links again by itself.
TEST_F(TwoStationsInOneProcess, ASiteThatDialsOutLinksAgainOnceHomeListensAgain) {
    SettingsStore& home = home_.station.settings();
    home.PublishNetFlags(kNetModeServer | kNetIpAddrOverride | kNetRoleControlPoint);
    std::strcpy(home.record().ip_address, "127.0.0.1");
    home.record().ip_port = 0;
    ASSERT_EQ(home_.station.OpenConnection(), 1) << home_.view.Log();
    SettingsStore& site = site_.station.settings();
    site.PublishNetFlags(kNetModeClient | kNetRoleRemoteSide);
    std::strcpy(site.record().ip_address, "127.0.0.1");
    site.record().ip_port = home.record().ip_port = static_cast<uint32_t>(home_.station.LinkPort());
    ASSERT_EQ(site_.station.OpenConnection(), 1) << site_.view.Log();
    const auto linked = [this] { return site_.station.IsLinked() && home_.station.IsLinked(); };
    ASSERT_TRUE(PumpUntil(linked)) << site_.view.Log();
    // All read, so that home's close is the orderly one, which leaves the port waiting.
    PumpUntil([] { return false; }, 500ms);

    home_.station.OpenOrClose();
    home_.station.OpenOrClose();
    EXPECT_TRUE(PumpUntil([this] { return home_.view.Network() == NetworkStatus::kListening; }, 1s))
        << home_.view.Log();
    EXPECT_TRUE(PumpUntil(linked)) << site_.view.Log();
}

// Home names its site in each way an operator may: an IPv6 literal, bracketed or not, an IPv4
// client (which reaches a site of both families as IPv4), in full or in a short form, and a name,
// whose IPv6 address a site on IPv4 alone refuses where the resolver gives one.
TEST_F(TwoStationsInOneProcess, HomeLinksToTheSiteByAnyOfItsAddresses) {
    if (!HasIpv6Loopback()) {
        GTEST_SKIP() << "this machine has no IPv6 loopback (::1) to link over";
    }
    struct Case {
        const char* site_override;  // nullptr: the site listens without an override
        const char* home_names;
        const char* site_tells;
    };
    const Case cases[] = {
        {nullptr, "::1", "\r\nClient ::1 accepted."},
        {nullptr, "[::1]", "\r\nClient ::1 accepted."},
        {nullptr, "127.0.0.1", "\r\nClient 127.0.0.1 accepted."},
        {nullptr, "127.1", "\r\nClient 127.0.0.1 accepted."},  // the record's short form
        {"127.0.0.1", "localhost", "\r\nClient 127.0.0.1 accepted."},
    };
    for (const Case& c : cases) {
        const std::size_t told_before = site_.view.Log().size();
        SettingsStore& site = site_.station.settings();
        site.PublishNetFlags(kNetModeServer | kNetRoleRemoteSide |
                             (c.site_override != nullptr ? kNetIpAddrOverride : 0));
        std::strcpy(site.record().ip_address, c.site_override != nullptr ? c.site_override : "");
        site.record().ip_port = 0;
        ASSERT_EQ(site_.station.OpenConnection(), 1) << site_.view.Log();
        SettingsStore& home = home_.station.settings();
        home.PublishNetFlags(kNetModeClient | kNetRoleControlPoint);
        std::strcpy(home.record().ip_address, c.home_names);
        home.record().ip_port = static_cast<uint32_t>(site_.station.LinkPort());
        ASSERT_EQ(home_.station.OpenConnection(), 1) << home_.view.Log();
        EXPECT_TRUE(PumpUntil([this] {
            return site_.station.IsLinked() && home_.station.IsLinked();
        })) << c.home_names
            << "\n"
            << site_.view.Log() << "\n"
            << home_.view.Log();
        EXPECT_NE(site_.view.Log().find(c.site_tells, told_before), std::string::npos)
            << c.home_names << "\n"
            << site_.view.Log();
        home_.station.OpenOrClose();
        site_.station.OpenOrClose();
    }
}

// A home named in AllowFrom by its host name links once the name is looked up; a name that
// does not resolve lets nobody in, and is told of once.
TEST_F(TwoStationsInOneProcess, AHomeNamedInAllowFromLinks) {
    std::ofstream(folder_.File("site.ini"))
        << "[Network]\nAllowFrom = no-such-home.invalid, localhost, 10.0.0.0/8\n";
    SettingsStore& site = site_.station.settings();
    site.PublishNetFlags(kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide);
    std::strcpy(site.record().ip_address, "127.0.0.1");
    site.record().ip_port = 0;
    ASSERT_EQ(site_.station.OpenConnection(), 1) << site_.view.Log();
    SettingsStore& home = home_.station.settings();
    home.PublishNetFlags(kNetModeClient | kNetRoleControlPoint);
    std::strcpy(home.record().ip_address, "127.0.0.1");
    home.record().ip_port = static_cast<uint32_t>(site_.station.LinkPort());
    ASSERT_EQ(home_.station.OpenConnection(), 1) << home_.view.Log();

    EXPECT_TRUE(PumpUntil([this] { return site_.station.IsLinked() && home_.station.IsLinked(); }))
        << site_.view.Log();
    const std::string told =
        "\r\nAllowFrom name no-such-home.invalid does not resolve; it lets nobody in until it "
        "does.";
    const std::string log = site_.view.Log();
    EXPECT_NE(log.find(told), std::string::npos) << log;
    EXPECT_EQ(log.find(told), log.rfind(told)) << log;
    EXPECT_EQ(log.find("With a mistake"), std::string::npos) << "loopback is let in by name" << log;
}

}  // namespace
