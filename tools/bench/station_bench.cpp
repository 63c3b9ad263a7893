// station_bench: Pellmar as its operator feels it, under Wine. Two real pellmar.exe linked on
// loopback, each with an emulated keyer: how long a character typed at the ControlPoint
// takes to reach the RemoteSide keyer's wire and to come back into the ControlPoint's echo
// line; what each station costs while it waits, linked and with its keyer open; and how
// much memory each holds against an empty window program. Pieces of the path are timed on
// their own too (the Win32 serial layer, the keyer's queue, a socket, a window call), so
// the figures say where the time goes. scripts/bench runs it; it prints figures and never
// judges them.
//
// --paddles measures paddles instead, over a line that holds each packet a random 0 to
// --jitter-ms (40): the ControlPoint keyer emulator's fist keys at 30 WPM, and each change's
// spacing on the RemoteSide keyer's wire is set against the fist's, once with the site's
// timed paddle events (PaddleDelay = auto) and once with them off (PaddleDelay = 0).
//
//   station_bench [--characters N] [--period-ms P] [--idle-seconds S] [--idle-only]
//                 [--paddles] [--jitter-ms J]
//                 [--program PATH] [--native-site UNIX_PATH] [--figures FILE LABEL]
//
// Runs under tools/wine_kit/with_keyer_sims.sh with emulator 0 as the RemoteSide's keyer,
// emulator 1 as the ControlPoint's and emulator 2 (optional) for the serial layer alone.
// --native-site has the native pellmar-site play the RemoteSide instead of a pellmar.exe;
// --figures appends the headline figures to FILE as "LABEL NAME VALUE" lines, so that a
// script can set runs beside each other.
// The CPU and memory figures come from Linux's /proc, read through Wine's Z: drive; the
// Wine server's process id comes in PELLMAR_WINESERVER_PID.
//
// Clocks: the emulators log each byte they receive on their own clock. The bench reads an
// emulator's clock over its control channel many times and keeps the reading with the
// shortest round trip, which lines the two clocks up to within half that round trip.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/resource_ids.h"
#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "settings/settings_record.h"
#include "tools/bench/station_pair.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"
#include "tools/wine_kit/link_proxy.h"
#include "tools/wine_kit/paddle_spacing.h"
#include "tools/wine_kit/station_kit.h"
#include "tools/wine_kit/ui_driver.h"

namespace {

constexpr uint8_t kWpm = 22;

double NowUs() {
    static const double per_us = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1e6;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / per_us;
}

// --- figures -------------------------------------------------------------------------

// The headline figures of this run, for --figures.
std::vector<std::string> g_figures;

void KeepFigure(const std::string& name, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    g_figures.push_back(name + " " + text);
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(values.size()) + 0.999);
    return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

// One line: name, count, median, p99, max and min, in milliseconds.
void PrintSpread(const char* name, const std::vector<double>& ms) {
    if (ms.empty()) {
        std::printf("| %s | 0 | - | - | - | - |\n", name);
        return;
    }
    std::printf("| %s | %zu | %.2f | %.2f | %.2f | %.2f |\n", name, ms.size(), Percentile(ms, 0.5),
                Percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()),
                *std::min_element(ms.begin(), ms.end()));
}

void PrintSpreadHeader() {
    std::printf("| path | samples | median ms | p99 ms | max ms | min ms |\n");
    std::printf("|---|---|---|---|---|---|\n");
}

// --- an emulator's clock and log ---------------------------------------------------------

struct ClockLink {
    double offset_us = 0;       // emulator time = bench time + offset
    double uncertainty_us = 0;  // half the best round trip
};

ClockLink LineUpClocks(KeyerSimControl* keyer) {
    ClockLink best;
    double best_round_trip = 1e18;
    for (int i = 0; i < 60; ++i) {
        const double before = NowUs();
        const std::string reply = keyer->Command("clock");
        const double after = NowUs();
        if (reply.rfind("ok ", 0) != 0) {
            continue;
        }
        const double round_trip = after - before;
        if (round_trip < best_round_trip) {
            best_round_trip = round_trip;
            best.offset_us = std::atof(reply.c_str() + 3) - (before + after) / 2;
            best.uncertainty_us = round_trip / 2;
        }
    }
    return best;
}

// The arrival of each sent byte, matched in order in the log from `mark` on; bench time, or
// a negative value for a byte that never arrived.
std::vector<double> Arrivals(const std::vector<TimedByte>& log, size_t mark,
                             const std::vector<uint8_t>& sent, const ClockLink& clock) {
    std::vector<double> arrivals;
    size_t at = mark;
    for (uint8_t byte : sent) {
        size_t found = at;
        while (found < log.size() && log[found].byte != byte) {
            ++found;
        }
        if (found == log.size()) {
            arrivals.push_back(-1);
            continue;
        }
        arrivals.push_back(log[found].at_us - clock.offset_us);
        at = found + 1;
    }
    return arrivals;
}

std::vector<double> LatenciesMs(const std::vector<double>& from_us,
                                const std::vector<double>& to_us) {
    std::vector<double> ms;
    for (size_t i = 0; i < from_us.size() && i < to_us.size(); ++i) {
        if (from_us[i] >= 0 && to_us[i] >= 0) {
            ms.push_back((to_us[i] - from_us[i]) / 1000.0);
        }
    }
    return ms;
}

void SleepUntilUs(double at_us) {
    const double left_ms = (at_us - NowUs()) / 1000.0;
    if (left_ms > 1.0) {
        Sleep(static_cast<DWORD>(left_ms));
    }
}

// --- Linux's view of the processes, through Wine's Z: drive ------------------------------

// CPU time of a process in seconds as its stat line counts it: utime + stime, in 10 ms ticks.
double StatCpuSeconds(int pid) {
    const std::string stat = ReadUnixFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (pid <= 0 || close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::vector<std::string> words;
    std::string word;
    while (fields >> word) {
        words.push_back(word);
    }
    if (words.size() < 13) {
        return 0;
    }
    return static_cast<double>(std::atoll(words[11].c_str()) + std::atoll(words[12].c_str())) /
           100.0;
}

// CPU time of a process, all its threads, in seconds: the scheduler's own count where the
// kernel keeps it, else the stat line's ticks.
double CpuSeconds(int pid) {
    if (pid <= 0) {
        return 0;
    }
    const std::string base = "/proc/" + std::to_string(pid);
    double run_s = 0;
    bool have_run = false;
    for (const std::string& task : UnixFolder(base + "/task")) {
        std::istringstream schedstat(ReadUnixFile(base + "/task/" + task + "/schedstat"));
        long long run_ns = 0;
        if (schedstat >> run_ns) {
            run_s += static_cast<double>(run_ns) * 1e-9;
            have_run = true;
        }
    }
    return have_run ? run_s : StatCpuSeconds(pid);
}

// --- the pieces of the path, each on its own -------------------------------------------------

// The Win32 serial layer: a one-byte port write to the byte on the keyer's wire, then
// the same through the keyer's transmit queue and its writer's tick in host mode.
void MeasureSerialLayer(const Emulator& emulator, int count) {
    KeyerLink link(*RecordingKeyerListener());
    KeyerSimControl keyer;
    if (!keyer.Connect(emulator.control_port) || keyer.Command("reset") != "ok" ||
        link.port().Open(emulator.com_port) != 0) {
        std::printf("(no third emulator: the serial layer is not timed on its own)\n");
        return;
    }
    const ClockLink clock = LineUpClocks(&keyer);
    std::vector<uint8_t> sent;
    // Hands `count` letters to `send`, `pause_ms` apart, noting when each one went.
    const auto send_letters = [&](const std::function<void(uint8_t)>& send, DWORD pause_ms) {
        std::vector<double> stamps;
        sent.clear();
        for (int i = 0; i < count; ++i) {
            const uint8_t byte = static_cast<uint8_t>('A' + i % 26);
            sent.push_back(byte);
            stamps.push_back(NowUs());
            send(byte);
            Sleep(pause_ms);
        }
        Sleep(200);
        return stamps;
    };
    const std::vector<double> written =
        send_letters([&](uint8_t byte) { link.port().Write(&byte, 1); }, 4);
    std::vector<TimedByte> log = keyer.Logged();
    const std::vector<double> direct = LatenciesMs(written, Arrivals(log, 0, sent, clock));

    uint8_t version = 0;
    std::vector<double> queued_ms;
    if (link.OpenHost(&version) == 0) {
        Sleep(300);
        const size_t mark = keyer.Logged().size();
        const std::vector<double> queued =
            send_letters([&](uint8_t byte) { link.QueueByte(byte); }, 10);
        log = keyer.Logged();
        queued_ms = LatenciesMs(queued, Arrivals(log, mark, sent, clock));
        link.CloseHost();
    }
    link.port().Close();
    PrintSpread("SerialPort::Write to the keyer's wire (serial layer)", direct);
    PrintSpread("KeyerLink::QueueByte to the keyer's wire (writer's tick + serial layer)",
                queued_ms);
    std::printf("(clocks lined up to within %.0f us)\n", clock.uncertainty_us);
}

// A 20-byte packet one way over loopback TCP between two threads: half a round trip.
void MeasureSocket(int count) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    SOCKET near_end = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    std::thread connector(
        [&] { connect(near_end, reinterpret_cast<sockaddr*>(&address), sizeof address); });
    SOCKET far_end = accept(listener, nullptr, nullptr);
    connector.join();
    closesocket(listener);
    const BOOL on = TRUE;
    setsockopt(near_end, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(far_end, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);

    auto read_packet = [](SOCKET s, char* packet) {
        int got = 0;
        while (got < 20) {
            const int n = recv(s, packet + got, 20 - got, 0);
            if (n <= 0) {
                return false;
            }
            got += n;
        }
        return true;
    };
    std::thread echo([&] {
        char packet[20];
        while (read_packet(far_end, packet)) {
            send(far_end, packet, 20, 0);
        }
    });
    std::vector<double> one_way_ms;
    char packet[20] = {static_cast<char>(0xA5)};
    for (int i = 0; i < count; ++i) {
        const double start = NowUs();
        send(near_end, packet, 20, 0);
        if (!read_packet(near_end, packet)) {
            break;
        }
        one_way_ms.push_back((NowUs() - start) / 2000.0);
    }
    shutdown(near_end, SD_BOTH);
    closesocket(near_end);
    echo.join();
    closesocket(far_end);
    PrintSpread("a packet one way on loopback TCP (half a round trip)", one_way_ms);
}

// A window call into another process and back: what each hop onto a window thread costs.
void MeasureWindowCall(HWND control, int count) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const double start = NowUs();
        DWORD_PTR length = 0;
        SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length);
        ms.push_back((NowUs() - start) / 1000.0);
        Sleep(2);
    }
    PrintSpread("a sent window message to the ControlPoint and back", ms);
}

// --- the two stations --------------------------------------------------------------------

bool Fail(const std::string& what) {
    std::fprintf(stderr, "station_bench: %s\n", what.c_str());
    return false;
}

struct Pids {
    int server = 0;
    int client = 0;
    int wineserver = 0;
    bool native_server = false;  // the RemoteSide is the native site, no Wine server's client
};

const char* ServerName(const Pids& pids) {
    return pids.native_server ? "RemoteSide pellmar-site (native)" : "RemoteSide pellmar.exe";
}

Pids FindPids(const StationPair& pair) {
    Pids pids;
    pids.native_server = pair.server == nullptr;
    pids.server = pids.native_server ? pair.native->pid() : UnixPidOf(*pair.server);
    pids.client = UnixPidOf(*pair.client);
    pids.wineserver = WineServerPidFromEnvironment();
    return pids;
}

// The idle cost, in slices so that the spread shows: percent of one core for each station,
// the Wine server (which both stations share) and each station with half the server's.
void MeasureIdle(const Pids& pids, int seconds) {
    constexpr int kSliceS = 5;
    const int slices = std::max(1, seconds / kSliceS);
    std::vector<double> server;
    std::vector<double> client;
    std::vector<double> wineserver;
    double totals[3] = {0, 0, 0};
    double wall_total = 0;
    const double server_ticks_before = StatCpuSeconds(pids.server);
    for (int i = 0; i < slices; ++i) {
        const double before[3] = {CpuSeconds(pids.server), CpuSeconds(pids.client),
                                  CpuSeconds(pids.wineserver)};
        const double start = NowUs();
        Sleep(kSliceS * 1000);
        const double wall_s = (NowUs() - start) / 1e6;
        const double after[3] = {CpuSeconds(pids.server), CpuSeconds(pids.client),
                                 CpuSeconds(pids.wineserver)};
        server.push_back(100.0 * (after[0] - before[0]) / wall_s);
        client.push_back(100.0 * (after[1] - before[1]) / wall_s);
        wineserver.push_back(100.0 * (after[2] - before[2]) / wall_s);
        for (int k = 0; k < 3; ++k) {
            totals[k] += after[k] - before[k];
        }
        wall_total += wall_s;
    }
    const double server_ticks = StatCpuSeconds(pids.server) - server_ticks_before;
    auto line = [&](const char* name, const std::vector<double>& percent, double total) {
        std::printf("| %s | %.3f | %.3f | %.3f |\n", name, 100.0 * total / wall_total,
                    *std::min_element(percent.begin(), percent.end()),
                    *std::max_element(percent.begin(), percent.end()));
    };
    std::printf(
        "Idle over %.1f s in %d slices of %d s, linked, both keyers open "
        "(percent of one core):\n\n",
        wall_total, slices, kSliceS);
    std::printf("| process | whole run | lowest slice | highest slice |\n|---|---|---|---|\n");
    line(ServerName(pids), server, totals[0]);
    line("ControlPoint pellmar.exe", client, totals[1]);
    line(pids.native_server ? "Wine server (the ControlPoint's)" : "Wine server (shared by both)",
         wineserver, totals[2]);
    // A Wine station's share of the server it uses; the native site uses none.
    const double server_share = pids.native_server ? 0 : totals[2] / 2;
    const double client_share = pids.native_server ? totals[2] : totals[2] / 2;
    const double server_percent = 100.0 * (totals[0] + server_share) / wall_total;
    std::printf(
        "\nPer station, with its share of the Wine server: RemoteSide %.3f %%, ControlPoint "
        "%.3f %%; the RemoteSide's utime + stime alone %.3f %%\n\n",
        server_percent, 100.0 * (totals[1] + client_share) / wall_total,
        100.0 * server_ticks / wall_total);
    KeepFigure("site_idle_percent", server_percent);
    KeepFigure("site_idle_ticks_percent", 100.0 * server_ticks / wall_total);
}

// The pointer rests where an operator's may rest for hours: on the Clear button of the station
// whose idle counts most (the RemoteSide's window, or the ControlPoint's beside a native site).
void RestPointerOnClear(const StationPair& pair) {
    const bool on_site = pair.server != nullptr;
    HWND clear = ui::Control((on_site ? pair.server : pair.client)->window(), IDC_CLEAR);
    RECT rect{};
    GetWindowRect(clear, &rect);
    const POINT at{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    SetCursorPos(at.x, at.y);
    std::printf("The pointer rests on the %s's Clear button, at (%ld, %ld) on the screen.\n\n",
                on_site ? "RemoteSide" : "ControlPoint", at.x, at.y);
}

// Typed at the ControlPoint's log pane at a steady rate; each character's arrival on the
// RemoteSide keyer's wire (from the emulator's log) and in the ControlPoint's echo line
// (polled every millisecond).
void MeasureTyping(StationPair* pair, int count, int period_ms) {
    HWND client = pair->client->window();
    HWND echo_line = ui::Control(client, IDC_ECHO_LINE);
    HWND log_pane = ui::Control(client, IDC_LOG_PANE);
    const ClockLink clock = LineUpClocks(&pair->server_keyer);
    const size_t mark = pair->server_keyer.Logged().size();
    std::vector<uint8_t> typed_bytes;
    std::vector<double> typed;
    std::vector<double> echoed;
    int echo_missing = 0;
    auto echo_length = [&] {
        DWORD_PTR length = 0;
        SendMessageTimeoutA(echo_line, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length);
        return length;
    };
    DWORD_PTR length = echo_length();
    const double start = NowUs() + 200000;
    for (int i = 0; i < count; ++i) {
        SleepUntilUs(start + static_cast<double>(i) * period_ms * 1000.0);
        const uint8_t c = static_cast<uint8_t>('A' + i % 26);
        typed_bytes.push_back(c);
        typed.push_back(NowUs());
        PostMessageA(log_pane, WM_CHAR, c, 1);
        double shown = -1;
        const double give_up = NowUs() + 2e6;
        while (NowUs() < give_up) {
            const DWORD_PTR now = echo_length();
            if (now != length) {
                shown = NowUs();
                length = now;
                break;
            }
            Sleep(1);
        }
        if (shown < 0) {
            ++echo_missing;
        }
        echoed.push_back(shown);
    }
    Sleep(300);
    const ClockLink after = LineUpClocks(&pair->server_keyer);
    const std::vector<TimedByte> log = pair->server_keyer.Logged();
    const std::vector<double> wire = Arrivals(log, mark, typed_bytes, clock);
    const std::vector<double> to_wire = LatenciesMs(typed, wire);
    const std::vector<double> to_echo = LatenciesMs(typed, echoed);
    const std::vector<double> wire_to_echo = LatenciesMs(wire, echoed);
    std::printf("%d characters typed at the ControlPoint, one every %d ms:\n\n", count, period_ms);
    PrintSpreadHeader();
    PrintSpread("typed to the RemoteSide keyer's wire", to_wire);
    if (!to_wire.empty()) {
        KeepFigure("typed_wire_p50_ms", Percentile(to_wire, 0.5));
        KeepFigure("typed_wire_p99_ms", Percentile(to_wire, 0.99));
    }
    PrintSpread("typed to the ControlPoint's echo line", to_echo);
    PrintSpread("RemoteSide keyer's wire to the echo line", wire_to_echo);
    std::printf(
        "\n%zu of %d reached the far wire, %d echoes missing; the far keyer logged its "
        "bytes %.0f us apart from this clock (drift over the run %.0f us)\n\n",
        to_wire.size(), count, echo_missing, clock.uncertainty_us,
        after.offset_us - clock.offset_us);
}

// Resident memory of each station and of an empty window program started the same way.
void MeasureMemory(const Pids& pids, const std::string& floor_program) {
    auto line = [](const char* name, int pid) {
        std::printf("| %s | %.1f | %.1f | %.1f | %.1f |\n", name,
                    StatusField(pid, "VmRSS") / 1024.0, StatusField(pid, "RssAnon") / 1024.0,
                    StatusField(pid, "RssFile") / 1024.0, StatusField(pid, "VmHWM") / 1024.0);
    };
    std::printf(
        "| process | resident MB | of it anonymous MB | of it file-backed MB | peak resident "
        "MB |\n");
    std::printf("|---|---|---|---|---|\n");
    line(ServerName(pids), pids.server);
    KeepFigure("site_rss_mb", StatusField(pids.server, "VmRSS") / 1024.0);
    KeepFigure("site_hwm_mb", StatusField(pids.server, "VmHWM") / 1024.0);
    line("ControlPoint pellmar.exe", pids.client);

    ui::Program floor;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    if (!ui::StartProgram(floor_program, temp, &floor)) {
        std::printf("| empty window program | (did not start) | | | |\n");
        return;
    }
    for (int waited = 0; waited < 10000 && FindWindowA("PellmarFloorClass", nullptr) == nullptr;
         waited += 50) {
        Sleep(50);
    }
    Sleep(2000);
    line("empty window program (the floor)", UnixPidWith("empty_window.exe"));
    ui::StopProgram(&floor);
}

// --- paddles over a jittery line -----------------------------------------------------------

struct BenchOptions {
    int characters = 500;
    int period_ms = 60;
    int idle_seconds = 30;
    bool idle_only = false;
    bool paddles = false;
    int jitter_ms = 40;
    std::string program;
    std::string native_site;
    std::string figures_file;
    std::string figures_label;
};

// The pair as the run's options ask for it.
PairOptions PairOptionsFor(const BenchOptions& bench) {
    PairOptions options;
    options.wpm = kWpm;
    options.program = bench.program;
    options.native_site = bench.native_site;
    return options;
}

// Letters and words at 30 WPM, a dit 40 ms: 334 paddle changes in about 26 s, well inside
// the site's keying budget.
constexpr int kFistWpm = 30;
constexpr char kFistText[] =
    "CQ CQ DE PELLMAR PELLMAR THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG K";

// One pair, its line through a jittery proxy, the site's PaddleDelay as given: a row of the
// spacing errors, and its figures under `figure`. False when it measured nothing.
bool MeasurePaddles(const BenchOptions& bench, const char* name, const std::string& figure,
                    const std::string& paddle_delay) {
    std::unique_ptr<LinkProxy> proxy;
    Job job;
    StationPair pair;
    PairOptions options = PairOptionsFor(bench);
    // Home and the site share this machine, where only home may have the logger port.
    options.server_ini =
        "[Logger]\r\nPort = 0\r\n[Network]\r\nPaddleDelay = " + paddle_delay + "\r\n";
    options.client_port = [&](uint16_t port) {
        proxy = std::make_unique<LinkProxy>(port, LinkProxy::Line{0, bench.jitter_ms, 35});
        return proxy->Start() ? proxy->port() : uint16_t{0};
    };
    std::string error;
    PaddleSpacing spacing;
    bool measured = StartStationPair(options, &job, &pair, &error);
    if (measured) {
        Sleep(3000);  // the link's first heartbeats cross before the operator starts
        measured = KeyPaddlesAcrossTheLink(&pair.client_keyer, &pair.server_keyer, kFistWpm,
                                           kFistText, &spacing, &error);
    }
    if (!measured) {
        std::printf("| %s | (failed: %s) | | | | | |\n", name, error.c_str());
        StopNativeSite(&pair);
        return false;
    }
    const std::string field = ui::ReadText(pair.client->window(), IDC_LINK_HEALTH);
    const std::vector<double>& errors = spacing.errors_ms;
    const double worst = errors.empty() ? 0 : *std::max_element(errors.begin(), errors.end());
    std::printf("| %s | %zu | %zu | %.2f | %.2f | %.2f | %s |\n", name, spacing.changes,
                spacing.inputs, Percentile(errors, 0.5), Percentile(errors, 0.99), worst,
                field.c_str());
    KeepFigure(figure + "_p50_ms", Percentile(errors, 0.5));
    KeepFigure(figure + "_p99_ms", Percentile(errors, 0.99));
    if (ShownPaddleDelayMs(field) >= 0) {
        KeepFigure(figure + "_delay_ms", ShownPaddleDelayMs(field));
    }
    StopNativeSite(&pair);
    return true;
}

bool MeasurePaddleCase(const BenchOptions& bench) {
    std::printf(
        "### Paddles over a line of 0 to %d ms a packet\n\n"
        "The fist keys \"%s\" at %d WPM; each error is |far spacing - fist spacing| of two "
        "consecutive paddle changes.\n\n",
        bench.jitter_ms, kFistText, kFistWpm);
    std::printf(
        "| site's paddle events | changes sent | paddle inputs at the far keyer | error median "
        "ms | p99 ms | max ms | home's link field after |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const bool timed = MeasurePaddles(bench, "timed (PaddleDelay = auto)", "paddles_timed", "auto");
    const bool off = MeasurePaddles(bench, "off (PaddleDelay = 0)", "paddles_off", "0");
    std::printf("\n");
    return timed && off;
}

// The typing, idle and memory case; false when the stations would not link.
bool MeasureStations(const BenchOptions& bench) {
    if (!bench.idle_only) {
        std::printf("### The pieces, each on its own\n\n");
        PrintSpreadHeader();
        Emulator serial_emulator;
        if (EmulatorFromEnvironment(2, &serial_emulator)) {
            MeasureSerialLayer(serial_emulator, 300);
        }
        MeasureSocket(500);
    }

    Job job;
    StationPair pair;
    const PairOptions options = PairOptionsFor(bench);
    std::string error;
    if (!StartStationPair(options, &job, &pair, &error)) {
        Fail(error);
        StopNativeSite(&pair);
        return false;
    }
    if (!bench.idle_only) {
        MeasureWindowCall(ui::Control(pair.client->window(), IDC_ECHO_LINE), 300);
        std::printf("\n");
    }
    const Pids pids = FindPids(pair);
    if (pids.server == 0 || pids.client == 0 || pids.wineserver == 0) {
        Fail("could not find the stations or the Wine server under /proc (server " +
             std::to_string(pids.server) + ", client " + std::to_string(pids.client) +
             ", Wine server " + std::to_string(pids.wineserver) + ")");
    }
    // The link's first heartbeats and the keyers' first status bytes settle first.
    Sleep(3000);
    std::printf("### Idle\n\n");
    RestPointerOnClear(pair);
    MeasureIdle(pids, bench.idle_seconds);
    if (!bench.idle_only) {
        std::printf("### Typed to keyed\n\n");
        MeasureTyping(&pair, bench.characters, bench.period_ms);
        std::printf("### Resident memory\n\n");
        MeasureMemory(pids, ui::OwnFolder() + "empty_window.exe");
    }
    StopNativeSite(&pair);
    return true;
}

bool ParseOptions(int argc, char** argv, BenchOptions* bench) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool has_value = i + 1 < argc;
        if (option == "--characters" && has_value) {
            bench->characters = std::atoi(argv[++i]);
        } else if (option == "--period-ms" && has_value) {
            bench->period_ms = std::atoi(argv[++i]);
        } else if (option == "--idle-seconds" && has_value) {
            bench->idle_seconds = std::atoi(argv[++i]);
        } else if (option == "--jitter-ms" && has_value) {
            bench->jitter_ms = std::atoi(argv[++i]);
        } else if (option == "--program" && has_value) {
            bench->program = argv[++i];
        } else if (option == "--native-site" && has_value) {
            bench->native_site = argv[++i];
        } else if (option == "--figures" && i + 2 < argc) {
            bench->figures_file = argv[++i];
            bench->figures_label = argv[++i];
        } else if (option == "--idle-only") {
            bench->idle_only = true;
        } else if (option == "--paddles") {
            bench->paddles = true;
        } else {
            return false;
        }
    }
    return bench->jitter_ms >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions bench;
    if (!ParseOptions(argc, argv, &bench)) {
        std::fprintf(stderr,
                     "usage: station_bench [--characters N] [--period-ms P] "
                     "[--idle-seconds S] [--idle-only] [--paddles] [--jitter-ms J] "
                     "[--program PATH] [--native-site UNIX_PATH] [--figures FILE LABEL]\n");
        return 2;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        Fail("no Winsock");
        return 1;
    }
    timeBeginPeriod(1);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const bool measured = bench.paddles ? MeasurePaddleCase(bench) : MeasureStations(bench);
    if (!bench.figures_file.empty()) {
        std::ofstream out(bench.figures_file, std::ios::app);
        for (const std::string& figure : g_figures) {
            out << bench.figures_label << ' ' << figure << '\n';
        }
    }
    timeEndPeriod(1);
    WSACleanup();
    return measured ? 0 : 1;
}
