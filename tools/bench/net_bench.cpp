// net_bench: how long a packet takes from one station's send to the other station acting on
// it, over loopback, and how that grows with the packets in flight. One station runs here as
// a Net Server, its socket events pumped on this thread as its message loop would; the bench
// plays the other station with a plain socket. Build it with host-release.
//
//   net_bench [PACKETS]     (for each burst size of 1, 10 and 100; default 2000)
//
// Peer to station: the peer thread sends bursts of k version replies, each carrying the next
// count (mod 256), and waits until the station has shown all k before the next burst; the
// station's dispatch is the moment its remote keyer line is set. Station to peer: this
// thread hands the station bursts of k heartbeats, each answered at once with the same count,
// and the peer stamps each answer when its last byte is read.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_view.h"
#include "app/resource_ids.h"
#include "app/window.h"
#include "net/packet.h"
#include "net/socket_api.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "station/station.h"

namespace {

using Clock = std::chrono::steady_clock;

// When, and on which CPU: whether the two ends ran on one CPU or two decides much of what a
// burst costs.
struct Stamp {
    Clock::time_point when;
    int cpu;
};

Stamp Now() {
    const Clock::time_point when = Clock::now();
    return Stamp{when, sched_getcpu()};
}

// No single packet, burst or connection step may take this long on loopback; past it the
// bench gives up instead of hanging.
constexpr auto kPatience = std::chrono::seconds(5);
constexpr int kPumpSliceMs = 20;
constexpr int kWarmUpPackets = 200;
const std::string kVersionPrefix = "Remote Tarvel Ver:";

// Hands a burst's completion from one thread to the other, with a time-out on every wait.
class Progress {
  public:
    void Want(int count) {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_ = count;
    }
    // Called once per packet; wakes the waiter only when the burst is complete, so the
    // measured side pays for a notification once per burst.
    void Add() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++done_;
        if (done_ >= wanted_) {
            cv_.notify_all();
        }
    }
    bool WaitFor(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, kPatience, [&] { return done_ >= count || aborted_; }) &&
               !aborted_;
    }
    void Abort() {
        std::lock_guard<std::mutex> lock(mutex_);
        aborted_ = true;
        cv_.notify_all();
    }
    bool Aborted() {
        std::lock_guard<std::mutex> lock(mutex_);
        return aborted_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int done_ = 0;
    int wanted_ = 0;
    bool aborted_ = false;
};

// The Main window as far as the bench needs it: the time each remote keyer line arrives.
// Only the pump thread calls it, so the records need no lock of their own.
class TimingWindow : public WindowBackend {
  public:
    void Arm(std::vector<Stamp>* times, std::vector<int>* values, Progress* progress) {
        times_ = times;
        values_ = values;
        progress_ = progress;
    }
    void Disarm() { Arm(nullptr, nullptr, nullptr); }

    WindowHandle Handle() override { return kNoOwner; }
    void SetControlText(int id, const std::string& text) override {
        if (id != IDC_REMOTE_STATUS || times_ == nullptr) {
            return;
        }
        // The clock first: what follows is the bench's cost, not the station's.
        times_->push_back(Now());
        values_->push_back(text.rfind(kVersionPrefix, 0) == 0
                               ? std::atoi(text.c_str() + kVersionPrefix.size())
                               : -1);
        progress_->Add();
    }
    std::string GetControlText(int) override { return std::string(); }
    void SetSelection(int, int, int) override {}
    void ReplaceSelection(int, const std::string&) override {}
    void EnableControl(int, bool) override {}
    void FocusControl(int) override {}
    int ShowMessageBox(WindowHandle, const std::string&, const std::string&, BoxIcon) override {
        return 0;
    }

  private:
    std::vector<Stamp>* times_ = nullptr;
    std::vector<int>* values_ = nullptr;
    Progress* progress_ = nullptr;
};

TimingWindow window;
// The station shows itself through the Main window's own view, as the program does.
MainWindowView view(window);
SocketLoop sockets;
Station station(view, view, sockets);

double Percentile(const std::vector<double>& sorted, double fraction) {
    const size_t rank = static_cast<size_t>(fraction * static_cast<double>(sorted.size()) + 0.999);
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

double Microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

// `spacing`: whether the gaps between arrivals say something. They do at the station,
// which dispatches one packet per read notification; the peer reads what has come in one
// go and stamps the packets of one read alike.
void Report(const char* title, int burst, bool spacing, const std::vector<Stamp>& sent,
            const std::vector<Stamp>& arrived) {
    std::vector<double> latencies_us;
    latencies_us.reserve(sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        latencies_us.push_back(Microseconds(arrived[i].when - sent[i].when));
    }
    std::sort(latencies_us.begin(), latencies_us.end());
    const double span_s =
        std::chrono::duration<double>(arrived.back().when - sent.front().when).count();
    std::printf("%s, bursts of %d, %zu packets:\n", title, burst, sent.size());
    std::printf("  median %.1f us\n", Percentile(latencies_us, 0.50));
    std::printf("  p99    %.1f us\n", Percentile(latencies_us, 0.99));
    std::printf("  max    %.1f us\n", latencies_us.back());
    std::printf("  min    %.1f us\n", latencies_us.front());
    std::printf("  throughput %.0f packets/s (first send to last arrival, waits included)\n",
                span_s > 0 ? static_cast<double>(sent.size()) / span_s : 0.0);
    size_t same_cpu = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        same_cpu += sent[i].cpu == arrived[i].cpu ? 1 : 0;
    }
    std::printf("  sent and received on the same CPU: %.0f %% of packets\n",
                100.0 * static_cast<double>(same_cpu) / static_cast<double>(sent.size()));
    if (!spacing || burst < 2) {
        return;
    }
    // When a burst queues up at the station, the gap between two dispatches is what the
    // station spends on each packet; when it does not, the gap is the sender's pace.
    double gaps_us = 0;
    size_t gaps = 0;
    for (size_t first = 0; first + 1 < arrived.size(); first += static_cast<size_t>(burst)) {
        const size_t last = std::min(arrived.size(), first + static_cast<size_t>(burst)) - 1;
        gaps_us += Microseconds(arrived[last].when - arrived[first].when);
        gaps += last - first;
    }
    std::printf("  arrival spacing within a burst: mean %.2f us\n",
                gaps > 0 ? gaps_us / static_cast<double>(gaps) : 0.0);
}

bool SendAllRaw(int fd, const uint8_t* bytes, size_t count) {
    size_t sent = 0;
    while (sent < count) {
        const ssize_t result = send(fd, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (result <= 0) {
            return false;
        }
        sent += static_cast<size_t>(result);
    }
    return true;
}

// Runs the socket events of the station until `done`, or until none has come for the
// bench's patience: a long run is not cut short, a stalled one does not hang.
bool PumpUntil(const std::function<bool()>& done) {
    auto deadline = Clock::now() + kPatience;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        SocketEvent event{};
        if (sockets.Wait(kPumpSliceMs, &event)) {
            station.OnSocketEvent(event);
            deadline = Clock::now() + kPatience;
        }
    }
    return true;
}

// Peer to station: `count` packets in bursts of `burst`. False when a packet went astray.
bool MeasureInbound(int peer, int burst, int count, bool report) {
    std::vector<Stamp> sent(static_cast<size_t>(count));
    std::vector<Stamp> arrived;
    std::vector<int> values;
    arrived.reserve(sent.size());
    values.reserve(sent.size());
    Progress progress;
    window.Arm(&arrived, &values, &progress);
    std::atomic<bool> peer_done{false};
    std::atomic<bool> peer_ok{true};

    std::thread sender([&] {
        for (int first = 0; first < count; first += burst) {
            const int last = std::min(count, first + burst);
            progress.Want(last);
            for (int i = first; i < last; ++i) {
                const Packet packet = BuildPacket(PKT_VERSION_REPLY, static_cast<uint8_t>(i));
                sent[static_cast<size_t>(i)] = Now();
                if (!SendAllRaw(peer, packet.bytes, kPacketSize)) {
                    peer_ok = false;
                    break;
                }
            }
            if (!peer_ok || !progress.WaitFor(last)) {
                peer_ok = false;
                break;
            }
        }
        peer_done = true;
    });
    const bool pumped = PumpUntil([&] { return peer_done.load(); });
    if (!pumped) {
        progress.Abort();
    }
    sender.join();
    window.Disarm();

    if (!pumped || !peer_ok || arrived.size() != sent.size()) {
        std::fprintf(stderr, "net_bench: bursts of %d: %zu of %d packets shown\n", burst,
                     arrived.size(), count);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (values[static_cast<size_t>(i)] != (i & 0xFF)) {
            std::fprintf(stderr, "net_bench: packet %d shown as %d\n", i,
                         values[static_cast<size_t>(i)]);
            return false;
        }
    }
    if (report) {
        Report("peer-to-station send-to-dispatch latency", burst, true, sent, arrived);
    }
    return true;
}

// Station to peer: the station's answer to a heartbeat sent on this thread, the peer thread
// reading whole packets.
bool MeasureOutbound(int peer, int burst, int count) {
    std::vector<Stamp> sent(static_cast<size_t>(count));
    std::vector<Stamp> arrived;
    arrived.reserve(sent.size());
    Progress progress;
    std::atomic<bool> peer_ok{true};

    std::thread receiver([&] {
        std::vector<uint8_t> pending;
        uint8_t buffer[4096];
        int next = 0;
        while (next < count && !progress.Aborted()) {
            pollfd wait{peer, POLLIN, 0};
            const int ready =
                poll(&wait, 1, static_cast<int>(kPatience / std::chrono::milliseconds(1)));
            if (ready <= 0) {
                peer_ok = false;
                break;
            }
            const ssize_t got = recv(peer, buffer, sizeof buffer, 0);
            const Stamp now = Now();
            if (got <= 0) {
                peer_ok = false;
                break;
            }
            pending.insert(pending.end(), buffer, buffer + got);
            while (pending.size() >= kPacketSize) {
                if (pending[0] != PKT_MARKER || pending[1] != PKT_HEARTBEAT_REPLY ||
                    pending[2] != static_cast<uint8_t>(next)) {
                    peer_ok = false;
                    break;
                }
                pending.erase(pending.begin(), pending.begin() + kPacketSize);
                arrived.push_back(now);
                ++next;
                progress.Add();
            }
            if (!peer_ok) {
                break;
            }
        }
        if (!peer_ok) {
            progress.Abort();
        }
    });

    std::vector<Packet> heartbeats;
    for (int i = 0; i < 256; ++i) {
        heartbeats.push_back(BuildPacket(PKT_HEARTBEAT, static_cast<uint8_t>(i)));
    }
    bool ok = true;
    for (int first = 0; first < count && ok; first += burst) {
        const int last = std::min(count, first + burst);
        progress.Want(last);
        for (int i = first; i < last; ++i) {
            sent[static_cast<size_t>(i)] = Now();
            station.processIPpacket(heartbeats[static_cast<size_t>(i & 0xFF)]);
        }
        ok = progress.WaitFor(last);
    }
    if (!ok) {
        progress.Abort();
    }
    receiver.join();
    if (!ok || !peer_ok || arrived.size() != sent.size()) {
        std::fprintf(stderr, "net_bench: station to peer, bursts of %d: %zu of %d packets read\n",
                     burst, arrived.size(), count);
        return false;
    }
    Report("station-to-peer send-to-read latency", burst, false, sent, arrived);
    return true;
}

// The other station's end of the link: a plain socket connected to the station's port,
// or -1. Its own sends go without delay so that what is measured is the station's part.
int ConnectPeer(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A station that stops reading must not hold the peer's send for ever.
    timeval patience{static_cast<time_t>(kPatience / std::chrono::seconds(1)), 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Run(int count) {
    SettingsStore& store = station.settings();
    SettingsRecord& settings = store.record();
    store.SetDefaults();
    // RemoteSide: the station sends nothing on its own when the link comes up, so the
    // only bytes on the wire are the bench's.
    settings.net_flags =
        kNetLocalKeyerDisabled | kNetModeServer | kNetIpAddrOverride | kNetRoleRemoteSide;
    std::strcpy(settings.ip_address, "127.0.0.1");
    settings.ip_port = 0;  // any free port, read back from the listener
    if (station.OpenConnection() != 1) {
        std::fprintf(stderr, "net_bench: the station could not listen\n");
        return false;
    }
    const int port = station.LinkPort();
    const int peer = port > 0 ? ConnectPeer(port) : -1;
    if (peer < 0) {
        std::fprintf(stderr, "net_bench: the peer could not connect to port %d\n", port);
        return false;
    }
    bool ok = PumpUntil([] { return station.IsLinked(); });
    if (!ok) {
        std::fprintf(stderr, "net_bench: the station never accepted the peer\n");
    }
    std::printf("station linked as Net Server on 127.0.0.1:%d\n", port);
    // The first packets wake caches and the stack's paths; they are not counted.
    ok = ok && MeasureInbound(peer, 1, kWarmUpPackets, false);
    for (int burst : {1, 10, 100}) {
        ok = ok && MeasureInbound(peer, burst, count, true);
    }
    for (int burst : {1, 10, 100}) {
        ok = ok && MeasureOutbound(peer, burst, count);
    }
    close(peer);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (count < 1) {
        std::fprintf(stderr, "usage: net_bench [PACKETS]\n");
        return 2;
    }
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    std::printf("note: a debug or sanitizer build; run the host-release build for figures\n");
#endif
    const bool measured = Run(count);
    // Every path gives back the listener, the accepted socket and the socket library.
    station.CloseNetworkFromButton();
    return measured ? 0 : 1;
}
