// The native site: its log lines as the journal gets them, its command line, its loop's two
// ends (a keyer missing at the start, and a stop that releases the keyer), a configuration it
// cannot work on, and its word to the service manager.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "keyer/keyer_wire.h"
#include "keyer/serial_port.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "site/command_line.h"
#include "site/log_line_view.h"
#include "site/service_notifier.h"
#include "site/site_loop.h"
#include "station/station.h"
#include "tests/support/temp_folder.h"
#include "tools/common/wait_until.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

// The view's lines without their time stamps ("YYYY-MM-DD HH:MM:SS.mmm ").
std::vector<std::string> PrintedLines(std::FILE* file) {
    std::rewind(file);
    std::vector<std::string> lines;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line(buffer);
        EXPECT_EQ(line.back(), '\n');
        EXPECT_GT(line.size(), 24U);
        lines.push_back(line.substr(24, line.size() - 25));
    }
    return lines;
}

TEST(SiteLogLines, ConnectLogPiecesJoinAndStatusLinesKeepTheirOrderAndSayOnlyChanges) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        LogLineView view(file);
        view.Append("\r\nbind()...");
        view.Append("listen()");
        view.ShowNetworkStatus(NetworkStatus::kListening);
        view.ShowNetworkStatus(NetworkStatus::kListening);
        view.Append("\r\nClient 127.0.0.1 accepted.\r\nLoad local Tarvel settings...");
        view.Append("Done\r\n");
        view.ShowBusy(true);
        view.ShowLinkHealth({LinkHealth::Kind::kRoundTrip, 23, {}, {}});
        view.ShowLinkHealth({LinkHealth::Kind::kRoundTrip, 31, {}, {}});
        view.ShowLinkHealth({LinkHealth::Kind::kSilent, 0, {}, {}});
        view.ShowLocalKeyer(LocalKeyerState::kOnline, 23);
        view.ShowTune(true);
        for (const NetworkStatus status :
             {NetworkStatus::kLinkEnded, NetworkStatus::kLinkedToClient}) {
            view.ShowRemoteKeyerVersion(23);
            view.ShowRemoteKeyerVersion(23);
            view.ShowNetworkStatus(status);
        }
        view.ShowRemoteKeyerVersion(23);
        view.ReportProblem(Problem::kConfigNotSaved);
        view.Append("\r\nEnd");
    }
    const std::vector<std::string> expected = {
        "bind()...listen()",
        "Network: Listening for Request....",
        "Client 127.0.0.1 accepted.",
        "Load local Tarvel settings...Done",
        "Link: Link 23 ms",
        "Link: Link -",
        "Local keyer: Local Tarvel V23 OnLine",
        "Tune: on",
        "Remote keyer: Remote Tarvel Ver:23",
        "Network: Connection Closed",
        "Network: Connected to Client.",
        "Remote keyer: Remote Tarvel Ver:23",
        "Error: Save State Failed.",
        "End",
    };
    EXPECT_EQ(PrintedLines(file), expected);
    std::fclose(file);
}

TEST(SiteCommandLine, ReadsRunConfigAndHelpAndRefusesWhatMeansNothing) {
    struct Case {
        std::vector<std::string> words;
        bool accepted;
        SiteCommand::Kind kind;
        std::string config;
        std::string keyer;
        std::vector<std::string> config_words;
    };
    const std::string home = kDefaultConfigPath;
    const Case cases[] = {
        {{}, true, SiteCommand::Kind::kRun, home, "", {}},
        {{"--config", "/s/p.cfg", "--keyer=/dev/ttyUSB0"},
         true,
         SiteCommand::Kind::kRun,
         "/s/p.cfg",
         "/dev/ttyUSB0",
         {}},
        {{"config", "set", "IP Port", "7373", "--config=/s/p.cfg"},
         true,
         SiteCommand::Kind::kConfig,
         "/s/p.cfg",
         "",
         {"set", "IP Port", "7373"}},
        {{"key", "new", "--config=/s/p.cfg"}, true, SiteCommand::Kind::kKeyNew, "/s/p.cfg", "", {}},
        {{"--help"}, true, SiteCommand::Kind::kHelp, home, "", {}},
        {{"--version"}, true, SiteCommand::Kind::kVersion, home, "", {}},
        {{"config"}, false, {}, {}, {}, {}},
        {{"--keyer"}, false, {}, {}, {}, {}},
        {{"--config="}, false, {}, {}, {}, {}},
        {{"config", "show", "--keyer", "/dev/x"}, false, {}, {}, {}, {}},
        {{"start"}, false, {}, {}, {}, {}},
        {{"key"}, false, {}, {}, {}, {}},
        {{"key", "old"}, false, {}, {}, {}, {}},
        {{"key", "new", "--keyer", "/dev/x"}, false, {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SiteCommand command;
        std::string error;
        const bool accepted = ParseSiteCommand(c.words, &command, &error);
        const std::string shown = ::testing::PrintToString(c.words);
        ASSERT_EQ(accepted, c.accepted) << shown << ": " << error;
        EXPECT_EQ(error.empty(), accepted) << shown;
        if (accepted) {
            EXPECT_EQ(command.kind, c.kind) << shown;
            EXPECT_EQ(command.config_path, c.config) << shown;
            EXPECT_EQ(command.keyer_device, c.keyer) << shown;
            EXPECT_EQ(command.config_words, c.config_words) << shown;
        }
    }
}

class SiteLoopTest : public ::testing::Test {
  protected:
    ~SiteLoopTest() override {
        view_.reset();
        std::fclose(out_);
    }

    // The site's keyer on `keyer_device`, as its command line names it.
    int Run(const std::string& keyer_device, const std::function<bool()>& stop) {
        StationSetup setup;
        setup.config_path = folder_.File("pellmar.cfg");
        setup.keyer_port.device = keyer_device;
        SocketLoop sockets;
        Station station(*view_, *view_, sockets, std::move(setup));
        ServiceNotifier no_manager("", std::chrono::microseconds(0));
        return RunSite(station, sockets, stop, no_manager);
    }

    TempFolder folder_;
    std::FILE* out_ = std::tmpfile();
    std::unique_ptr<LogLineView> view_ = std::make_unique<LogLineView>(out_);
};

// A site started while its keyer's device is missing listens all the same, and attaches the
// keyer once it is there.
TEST_F(SiteLoopTest, AKeyerMissingAtTheStartIsAttachedOnceItIsThere) {
    SettingsStore store(folder_.File("pellmar.cfg"));
    store.SetDefaults();
    store.record().net_flags = kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
    std::strcpy(store.record().ip_address, "127.0.0.1");
    store.record().ip_port = 0;
    ASSERT_EQ(store.Save(), 1);
    keyer_sim::Options plugged_in;
    plugged_in.link_path = folder_.File("keyer");
    keyer_sim::KeyerSim sim(plugged_in);
    std::atomic<bool> stop{false};
    std::thread plug_in([&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (sim.Start()) {
            WaitUntil([&] { return sim.HostModeOpen(); }, std::chrono::seconds(7));
        }
        stop = true;
    });
    EXPECT_EQ(Run(plugged_in.link_path, [&] { return stop.load(); }), 0);
    plug_in.join();
    view_.reset();
    const std::vector<std::string> lines = PrintedLines(out_);
    const auto printed = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(printed("No keyer on " + plugged_in.link_path + "; trying it again every 5 s."))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(printed("Keyer back on " + plugged_in.link_path + "."));
    EXPECT_TRUE(printed("Network: Listening for Request...."));
    EXPECT_TRUE(printed("Local keyer: Local Tarvel V23 OnLine"));
}

TEST_F(SiteLoopTest, ADeviceThatCannotBeOpenedIsNamedWithTheSystemsReason) {
    const struct {
        std::string device;
        std::string line;
    } cases[] = {
        {folder_.File("no-such-device"),
         "cannot open " + folder_.File("no-such-device") +
             ": No such file or directory; is the keyer plugged in, and is this its device?"},
        {folder_.path().string(), "cannot open " + folder_.path().string() + ": Is a directory"},
    };
    for (const auto& c : cases) {
        view_ = std::make_unique<LogLineView>(out_);
        // Named but not there: told at the start, and the site runs on to try it again.
        EXPECT_EQ(Run(c.device, [] { return true; }), 0);
        view_.reset();
        const std::vector<std::string> lines = PrintedLines(out_);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end())
            << ::testing::PrintToString(lines);
    }
}

// Records written as `config set` would leave them, or files no site can run on.
TEST(SiteConfig, ASiteThatCannotWorkSaysWhyAndLeavesItsFileAsItWas) {
    const TempFolder folder;
    const std::string path = folder.File("pellmar.cfg");
    const auto record = [&](uint32_t net_flags) {
        SettingsStore store(path);
        store.SetDefaults();
        store.PublishNetFlags(net_flags);
        ASSERT_EQ(store.Save(), 1);
    };
    const struct {
        std::function<void()> make;
        std::string said;
    } cases[] = {
        {[] {}, " does not exist; make it with: pellmar-site config set"},
        {[&] { std::ofstream(path) << ""; }, " is empty or holds no Pellmar configuration"},
        {[&] { std::filesystem::create_directory(path); }, ": Is a directory"},
        {[&] { record(kNetModeOff | kNetRoleRemoteSide); }, " says Network Off"},
        {[&] { record(kNetModeServer | kNetLocalKeyerDisabled); }, " names no keyer"},
        {[&] { record(kNetModeServer | kNetRoleRemoteSide); }, ""},
        {[&] { record(kNetModeClient | kNetRoleRemoteSide); }, ""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(path);
        c.make();
        const bool existed = std::filesystem::exists(path);
        const auto size = existed && std::filesystem::is_regular_file(path)
                              ? std::filesystem::file_size(path)
                              : 0;
        const std::string why = WhySiteCannotWork(path);
        if (c.said.empty()) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(path + c.said), std::string::npos) << why;
        }
        EXPECT_EQ(std::filesystem::exists(path), existed) << why;
        EXPECT_EQ(existed && std::filesystem::is_regular_file(path)
                      ? std::filesystem::file_size(path)
                      : 0,
                  size)
            << why;
    }
}

TEST(SiteConfig, TheProgramWithNetworkOffExitsNotConfiguredWithOneLine) {
    const TempFolder folder;
    SettingsStore store(folder.File("pellmar.cfg"));
    store.SetDefaults();
    ASSERT_EQ(store.Save(), 1);
    const std::string command = std::string(PELLMAR_SITE_PROGRAM) + " --config " +
                                folder.File("pellmar.cfg") + " --keyer /dev/null 2>&1";
    std::FILE* site = popen(command.c_str(), "r");
    ASSERT_NE(site, nullptr);
    std::vector<std::string> lines;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, site) != nullptr) {
        lines.emplace_back(buffer);
    }
    const int status = pclose(site);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kSiteNotConfigured) << status;
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "pellmar-site not started: the configuration file " +
                            folder.File("pellmar.cfg") +
                            " says Network Off; choose a \"Network I/F\" with pellmar-site "
                            "config set\n");
}

// The service manager's notify socket, by a path and by an abstract name: "READY=1", then
// one "WATCHDOG=1" for the passes within half the watchdog's period.
TEST(SiteServiceNotifier, TellsTheManagersSocketThatItIsReadyAndAlive) {
    const TempFolder folder;
    const std::string abstract_name = "@pellmar-site-test-" + std::to_string(getpid());
    for (const std::string& name : {folder.File("notify"), abstract_name}) {
        const int manager = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(manager, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') {
            address.sun_path[0] = '\0';
        }
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() +
                                                   (name[0] == '@' ? 0 : 1));
        ASSERT_EQ(bind(manager, reinterpret_cast<const sockaddr*>(&address), length), 0) << name;
        {
            ServiceNotifier notifier(name, std::chrono::seconds(30));
            notifier.Ready();
            notifier.Alive();
            notifier.Alive();
        }
        std::vector<std::string> said;
        char datagram[64];
        for (ssize_t got; (got = recv(manager, datagram, sizeof datagram, MSG_DONTWAIT)) > 0;) {
            said.emplace_back(datagram, static_cast<size_t>(got));
        }
        EXPECT_EQ(said, (std::vector<std::string>{"READY=1", "WATCHDOG=1"})) << name;
        close(manager);
    }
}

TEST_F(SiteLoopTest, AStopReleasesTheKeyerAndEndsHostMode) {
    keyer_sim::KeyerSim sim(keyer_sim::Options{});
    ASSERT_TRUE(sim.Start());
    std::atomic<bool> stop{false};
    std::atomic<size_t> attached{0};
    std::thread stopper([&] {
        // Once the station has attached its keyer (the handshake and the settings).
        sim.WaitForReceived(20, std::chrono::seconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        attached = sim.Received().size();
        stop = true;
    });
    EXPECT_EQ(Run(sim.PortPath(), [&] { return stop.load(); }), 0);
    stopper.join();
    // The emulator reads its pty on a thread of its own: the last bytes may still be on the way.
    using namespace keyer_wire;
    const std::vector<uint8_t> base_mode_and_host_close = {kAdminPrefix, kAdminBaseMode,
                                                           kAdminPrefix, kAdminHostClose};
    std::vector<uint8_t> wire;
    const auto ends_closed = [&] {
        const std::vector<uint8_t> all = sim.Received();
        wire.assign(all.begin() + static_cast<std::ptrdiff_t>(attached.load()), all.end());
        return wire.size() >= 4 && std::equal(base_mode_and_host_close.begin(),
                                              base_mode_and_host_close.end(), wire.end() - 4);
    };
    EXPECT_TRUE(WaitUntil(ends_closed, std::chrono::seconds(3))) << ::testing::PrintToString(wire);
    const auto holds = [&](const std::vector<uint8_t>& part) {
        return std::search(wire.begin(), wire.end(), part.begin(), part.end()) != wire.end();
    };
    EXPECT_TRUE(holds({kSetKeyDown, 0}) && holds({kSetPaddleInput, 0}) && holds({kClearBuffer}))
        << ::testing::PrintToString(wire);
    sim.Stop();
}

}  // namespace
