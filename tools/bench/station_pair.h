// What the programs that run two real stations for a long while share (the benchmark and
// the soak): the pair itself, a RemoteSide server and a ControlPoint client linked on
// loopback, each with its emulated keyer, started in a job that ends them with the caller;
// and Linux's view of their processes, read through Wine's Z: drive, where the figures that
// Windows does not give (resident memory, threads, CPU time) live.
//
// The programs run under tools/wine_kit/with_keyer_sims.sh: emulator 0 is the RemoteSide's
// keyer and emulator 1 the ControlPoint's.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/wine_kit/native_site.h"
#include "tools/wine_kit/station_kit.h"

struct StationPair {
    std::unique_ptr<PellmarProcess>
        server;                          // the RemoteSide, with emulator 0, unless the native site
    std::unique_ptr<NativeSite> native;  // is the RemoteSide instead
    std::unique_ptr<PellmarProcess> client;  // the ControlPoint, with emulator 1
    KeyerSimControl server_keyer;
    KeyerSimControl client_keyer;
};

struct PairOptions {
    uint8_t wpm = 20;
    std::string program;  // empty: the pellmar.exe beside the running program
    // Not empty: the RemoteSide is this native pellmar-site (a Unix path), with emulator 0's
    // pty (PELLMAR_KEYER_SIM_0_DEVICE) as its keyer.
    std::string native_site;
    // Changes to the ControlPoint's configuration image before it starts.
    std::function<void(Bytes*)> adjust_client;
    // The RemoteSide's .ini; none when empty.
    std::string server_ini;
    // The port the ControlPoint dials, given the RemoteSide's: that one, unless something
    // stands between.
    std::function<uint16_t(uint16_t)> client_port;
    int wait_ms = 20000;
};

// Resets both emulators, starts the RemoteSide and opens it, then the ControlPoint, and
// links them (LinkClient). False with the reason in `error` when any step fails.
bool StartStationPair(const PairOptions& options, Job* job, StationPair* pair, std::string* error);
// Asks the native site, when there is one, to stop as a service manager does (SIGTERM), waits
// for it to end and removes its folder.
void StopNativeSite(StationPair* pair);
// Presses Open at the ControlPoint and waits until the stations are linked and the
// ControlPoint's settings have reached the RemoteSide's keyer.
bool LinkClient(StationPair* pair, int wait_ms, std::string* error);

// --- Linux's view -------------------------------------------------------------------------

std::string ReadUnixFile(const std::string& path);
std::vector<std::string> UnixFolder(const std::string& path);
// The Linux process of this Wine prefix whose command line holds `part` (any case); 0 when
// none does. Other prefixes on the machine may run programs of the same name.
int UnixPidWith(const std::string& part);
// The Linux process of a running station.
int UnixPidOf(const PellmarProcess& station);
// One numeric field of /proc/PID/status (kB for the memory fields), or -1 when the process
// or the field is missing.
long StatusField(int pid, const std::string& field);
// The Wine server of this prefix, as the calling script found it (PELLMAR_WINESERVER_PID);
// 0 when it did not say.
int WineServerPidFromEnvironment();
