// pellmar-site: a station without a window, run by a service manager at the remote site.
//
// Signals. SIGTERM and SIGINT are blocked before the first thread starts, so every thread
// inherits the block and no serial read or socket call is cut short by them; one thread of
// the site's own waits for them, asks the loop to stop and wakes its socket wait. SIGPIPE is
// ignored: a journal or pipe that goes away must not end a station that holds a
// transmitter's key.
//
// A site that cannot work as configured says why in one line and exits kSiteNotConfigured
// before anything else is shown, so the service manager marks it failed rather than keep a
// station running off the air. Its configuration file is only read: only `config set`
// writes it.
#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "keyer/serial_port.h"
#include "net/socket_api.h"
#include "site/command_line.h"
#include "site/config_command.h"
#include "site/key_command.h"
#include "site/log_line_view.h"
#include "site/read_only_disk.h"
#include "site/service_notifier.h"
#include "site/site_loop.h"
#include "station/station.h"
#include "version/version.h"

namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

// Waits for SIGTERM or SIGINT for as long as it lives, its end ending the wait when none came;
// a signal asks the loop to stop and wakes `sockets`.
class StopSignalWatch {
  public:
    StopSignalWatch(const sigset_t& signals, SocketLoop& sockets)
        : signals_(signals), sockets_(sockets), thread_([this] { Watch(); }) {}
    ~StopSignalWatch() {
        if (!stop_requested_.load()) {
            pthread_kill(thread_.native_handle(), SIGTERM);
        }
        thread_.join();
    }
    StopSignalWatch(const StopSignalWatch&) = delete;
    StopSignalWatch& operator=(const StopSignalWatch&) = delete;

    bool stop_requested() const { return stop_requested_.load(); }

  private:
    void Watch() {
        int signal = 0;
        while (sigwait(&signals_, &signal) != 0) {
        }
        stop_requested_ = true;
        sockets_.Wake();
    }

    const sigset_t signals_;
    SocketLoop& sockets_;
    std::atomic<bool> stop_requested_{false};
    std::thread thread_;
};

int RunStation(const SiteCommand& command, const sigset_t& stop_signals) {
    const std::string cannot_work = WhySiteCannotWork(command.config_path);
    if (!cannot_work.empty()) {
        std::fprintf(stderr, "pellmar-site not started: %s\n", cannot_work.c_str());
        return kSiteNotConfigured;
    }
    LogLineView view(stdout);
    int status = 0;
    {
        ReadOnlyDisk config_disk;
        StationSetup setup;
        setup.config_path = command.config_path;
        setup.keyer_port.device = command.keyer_device;
        setup.config_disk = &config_disk;
        SocketLoop sockets;
        Station station(view, view, sockets, std::move(setup));
        const std::string device = station.KeyerDevice();
        view.Line(std::string("pellmar-site ") + PELLMAR_VERSION_TEXT +
                  " starting, configuration " + command.config_path + ", keyer " +
                  (device.empty() ? std::string("on the record's COM port") : device));
        const std::string key_warning = ReadableKeyWarning(command.config_path);
        if (!key_warning.empty()) {
            view.Line(key_warning);
        }
        StopSignalWatch watch(stop_signals, sockets);
        ServiceNotifier service(NotifySocketFromEnvironment(), WatchdogPeriodFromEnvironment());
        status = RunSite(
            station, sockets, [&] { return watch.stop_requested(); }, service);
    }
    view.Line(status == 0 ? "pellmar-site stopped"
                          : "pellmar-site not started: the keyer or the link could not be "
                            "opened (see the lines above)");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const sigset_t stop_signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Each line reaches the journal whole and at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    SiteCommand command;
    std::string error;
    if (!ParseSiteCommand(std::vector<std::string>(argv + 1, argv + argc), &command, &error)) {
        std::fprintf(stderr, "pellmar-site: %s (see pellmar-site --help)\n", error.c_str());
        return 2;
    }
    switch (command.kind) {
        case SiteCommand::Kind::kHelp:
            std::fputs(SiteHelpText().c_str(), stdout);
            return 0;
        case SiteCommand::Kind::kVersion:
            std::printf("pellmar-site %s\n", PELLMAR_VERSION_TEXT);
            return 0;
        case SiteCommand::Kind::kConfig:
            return RunConfigCommand(command.config_words, command.config_path, KeyerPortPlace{},
                                    std::cout, std::cerr);
        case SiteCommand::Kind::kKeyNew:
            // An .ini made now is its maker's alone; one that is there keeps its owner and mode.
            umask(077);
            return RunKeyNewCommand(command.config_path, std::cout, std::cerr);
        case SiteCommand::Kind::kRun:
            break;
    }
    return RunStation(command, stop_signals);
}
