// keyer_bench: how long a queued byte takes to reach the keyer, and what the two keyer
// threads cost while host mode sits idle. Runs against an in-process emulator on a pty, so
// the figures are the link's own and not a serial line's; build it with host-release.
//
//   keyer_bench [BYTES] [IDLE_SECONDS]     (defaults 1000 and 5)
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "keyer/keyer_link.h"
#include "keyer/serial_port.h"
#include "settings/settings_record.h"
#include "tools/keyer_recorder/recorded_keyer_events.h"
#include "tools/keyer_sim/keyer_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ThreadTimes {
    bool found = false;
    long long ticks = 0;   // utime + stime, in clock ticks
    long long run_ns = 0;  // schedstat's time on a CPU, when the kernel keeps it
    bool have_run_ns = false;
};

std::string ReadFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The CPU time of the task named `name` in this process.
ThreadTimes TimesOf(const std::string& name) {
    ThreadTimes times;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return times;
    }
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        if (ReadFirstLine(task + "/comm") != name) {
            continue;
        }
        // The command name in the stat line may hold spaces; the fields count from the
        // last closing parenthesis: state is field 3, utime 14 and stime 15.
        const std::string stat = ReadFirstLine(task + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> words;
        std::string word;
        while (fields >> word) {
            words.push_back(word);
        }
        if (words.size() < 13) {
            continue;
        }
        times.found = true;
        times.ticks += std::atoll(words[11].c_str()) + std::atoll(words[12].c_str());
        std::istringstream schedstat(ReadFirstLine(task + "/schedstat"));
        long long run_ns = 0;
        if (schedstat >> run_ns) {
            times.run_ns += run_ns;
            times.have_run_ns = true;
        }
    }
    closedir(tasks);
    return times;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999);
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

int OpenHostMode(keyer_sim::KeyerSim& sim, KeyerLink& keyer) {
    const int port = keyer.port().Open(1, KeyerPortPlace{sim.PortPath()});
    if (port != 0) {
        std::fprintf(stderr, "keyer_bench: the port's open gave %d\n", port);
        return 1;
    }
    uint8_t version = 0;
    const int host = keyer.OpenHost(&version);
    if (host != 0) {
        std::fprintf(stderr, "keyer_bench: the host open gave %d (%s)\n", host,
                     sim.Command("received").c_str());
        keyer.port().Close();
        return 1;
    }
    // Mode byte 0: no serial echo and no paddle echo, so the keyer sends back only status.
    const KeyerSettings settings = {0x00, 20, 5, 50, 0, 0, 10, 25, 0, 0, 0, 50, 50, 5, 0};
    keyer.LoadSettings(&settings);
    std::printf("host mode open: keyer version %d on %s\n", version, sim.PortPath().c_str());
    return 0;
}

// Queues one byte, waits for the emulator to log it, and takes the next.
bool MeasureLatency(keyer_sim::KeyerSim& sim, KeyerLink& keyer, int count) {
    // The settings load goes out first; latency counts from the bytes after it.
    size_t start = 0;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const size_t now = sim.Log().size();
        if (now > 8 && now == start) {
            break;
        }
        start = now;
    }
    std::vector<double> latencies_ms;
    latencies_ms.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t byte = static_cast<uint8_t>('A' + i % 26);
        const Clock::time_point queued = Clock::now();
        const int result = keyer.QueueByte(byte);
        if (result != 0) {
            std::fprintf(stderr, "keyer_bench: queueing gave %d at byte %d\n", result, i);
            return false;
        }
        const size_t wanted = start + static_cast<size_t>(i) + 1;
        if (!sim.WaitForReceived(wanted, std::chrono::milliseconds(2000))) {
            std::fprintf(stderr, "keyer_bench: byte %d never arrived\n", i);
            return false;
        }
        const std::vector<keyer_sim::LoggedByte> log = sim.Log();
        const keyer_sim::LoggedByte& arrived = log[wanted - 1];
        if (arrived.byte != byte) {
            std::fprintf(stderr, "keyer_bench: byte %d arrived as %02X, not %02X\n", i,
                         arrived.byte, byte);
            return false;
        }
        latencies_ms.push_back(
            std::chrono::duration<double, std::milli>(arrived.when - queued).count());
    }
    std::sort(latencies_ms.begin(), latencies_ms.end());
    std::printf("queue-to-keyer latency over %d bytes, one at a time:\n", count);
    std::printf("  median %.3f ms\n", Percentile(latencies_ms, 0.50));
    std::printf("  p99    %.3f ms\n", Percentile(latencies_ms, 0.99));
    std::printf("  max    %.3f ms\n", latencies_ms.back());
    std::printf("  min    %.3f ms\n", latencies_ms.front());
    return true;
}

bool MeasureIdleCpu(keyer_sim::KeyerSim& sim, int seconds) {
    // Idle means the keyer has keyed everything and sends nothing more.
    for (int i = 0; i < 200; ++i) {
        if (sim.Command("state").find(" buffered=0 ") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const char* const names[] = {"keyer-writer", "keyer-reader"};
    ThreadTimes before[2];
    for (int i = 0; i < 2; ++i) {
        before[i] = TimesOf(names[i]);
        if (!before[i].found) {
            std::fprintf(stderr, "keyer_bench: no thread named %s\n", names[i]);
            return false;
        }
    }
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall_s = std::chrono::duration<double>(Clock::now() - start).count();
    const double tick_s = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::printf("keyer thread CPU over %.2f s of idle host mode (percent of one core):\n", wall_s);
    for (int i = 0; i < 2; ++i) {
        const ThreadTimes after = TimesOf(names[i]);
        const double stat_s = static_cast<double>(after.ticks - before[i].ticks) * tick_s;
        std::printf("  %-12s %.2f %% (utime+stime, %.0f ms resolution)", names[i],
                    100.0 * stat_s / wall_s, 1000.0 * tick_s);
        if (after.have_run_ns && before[i].have_run_ns) {
            const double run_s = static_cast<double>(after.run_ns - before[i].run_ns) * 1e-9;
            std::printf("; %.3f %% (schedstat)", 100.0 * run_s / wall_s);
        }
        std::printf("\n");
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (count < 1 || idle_seconds < 1) {
        std::fprintf(stderr, "usage: keyer_bench [BYTES] [IDLE_SECONDS]\n");
        return 2;
    }
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    std::printf("note: a debug or sanitizer build; run the host-release build for figures\n");
#endif
    keyer_sim::Options options;
    // Keying far faster than real time, with a buffer that never fills, so the emulator
    // never raises hold and the writer never waits for it.
    options.speedup = 1000.0;
    options.buffer_capacity = 1 << 20;
    options.high_water = (1 << 20) - 1;
    options.low_water = 0;
    keyer_sim::KeyerSim sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "keyer_bench: the emulator could not open a pty\n");
        return 1;
    }
    KeyerLink keyer(*RecordingKeyerListener());
    if (OpenHostMode(sim, keyer) != 0) {
        return 1;
    }
    const bool measured = MeasureLatency(sim, keyer, count) && MeasureIdleCpu(sim, idle_seconds);
    keyer.CloseHost();
    sim.Stop();
    return measured ? 0 : 1;
}
