#include "tools/wine_kit/link_proxy.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kPacketSize = 20;

// One direction of a connection: what was read, each piece due at its time, and the end of
// the stream as a piece with no bytes.
struct Direction {
    SOCKET from = INVALID_SOCKET;
    SOCKET to = INVALID_SOCKET;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<Clock::time_point, std::vector<char>>> due;
    bool done = false;
    // The reader's own: the bytes of a packet not yet whole, and when the last piece is due.
    std::vector<char> partial;
    Clock::time_point last_due;
    std::mt19937 random;
};

void SendAll(SOCKET socket, const std::vector<char>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int count =
            send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (count <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(count);
    }
}

}  // namespace

struct LinkProxy::Connection {
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    std::atomic<bool> silent{false};
    Direction up;    // client to server
    Direction down;  // server to client
    std::vector<std::thread> threads;

    // Queues `bytes` to leave after the line's delay (and jitter), never before what was
    // queued ahead of them. A jittery line passes only whole packets, each with its own draw.
    static void Queue(Direction* direction, const Line& line, const char* bytes, int count) {
        const Clock::time_point now = Clock::now();
        std::vector<std::vector<char>> pieces;
        std::vector<char>& partial = direction->partial;
        if (line.jitter_ms == 0 || count <= 0) {
            if (!partial.empty()) {
                pieces.push_back(std::move(partial));  // a stream that ends within a packet
                partial.clear();
            }
            pieces.emplace_back(bytes, bytes + std::max(count, 0));
        } else {
            partial.insert(partial.end(), bytes, bytes + count);
            std::size_t at = 0;
            for (; partial.size() - at >= kPacketSize; at += kPacketSize) {
                pieces.emplace_back(
                    partial.begin() + static_cast<std::ptrdiff_t>(at),
                    partial.begin() + static_cast<std::ptrdiff_t>(at + kPacketSize));
            }
            partial.erase(partial.begin(), partial.begin() + static_cast<std::ptrdiff_t>(at));
        }
        std::uniform_int_distribution<int> jitter_us(0, line.jitter_ms * 1000);
        std::lock_guard<std::mutex> lock(direction->mutex);
        for (std::vector<char>& piece : pieces) {
            const auto held = std::chrono::milliseconds(line.delay_ms) +
                              std::chrono::microseconds(jitter_us(direction->random));
            direction->last_due = std::max(direction->last_due, now + held);
            direction->due.emplace_back(direction->last_due, std::move(piece));
        }
        direction->changed.notify_all();
    }

    void Read(Direction* direction, const Line& line) {
        char buffer[4096];
        for (;;) {
            const int count = recv(direction->from, buffer, sizeof buffer, 0);
            if (silent.load()) {
                if (count <= 0) {
                    return;  // a dead line passes no close either
                }
                continue;
            }
            Queue(direction, line, buffer, count);
            if (count <= 0) {
                return;  // queued as a piece with no bytes: the end of the stream
            }
        }
    }

    void Write(Direction* direction) {
        std::unique_lock<std::mutex> lock(direction->mutex);
        for (;;) {
            direction->changed.wait(
                lock, [direction] { return direction->done || !direction->due.empty(); });
            if (direction->done) {
                return;
            }
            const Clock::time_point when = direction->due.front().first;
            if (direction->changed.wait_until(lock, when,
                                              [direction] { return direction->done; })) {
                return;
            }
            std::vector<char> bytes = std::move(direction->due.front().second);
            direction->due.pop_front();
            lock.unlock();
            if (bytes.empty()) {
                if (!silent.load()) {
                    shutdown(direction->to, SD_SEND);
                }
                return;
            }
            if (!silent.load()) {
                SendAll(direction->to, bytes);
            }
            lock.lock();
        }
    }

    void Start(const Line& line) {
        up.from = client;
        up.to = server;
        down.from = server;
        down.to = client;
        up.random.seed(line.seed);
        down.random.seed(line.seed + 1);
        // The line's own times are what a test measures: no send waits on Nagle for an ack.
        const BOOL on = TRUE;
        for (SOCKET socket : {client, server}) {
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                       sizeof on);
        }
        threads.emplace_back([this, line] { Read(&up, line); });
        threads.emplace_back([this, line] { Read(&down, line); });
        threads.emplace_back([this] { Write(&up); });
        threads.emplace_back([this] { Write(&down); });
    }

    ~Connection() {
        for (Direction* direction : {&up, &down}) {
            std::lock_guard<std::mutex> lock(direction->mutex);
            direction->done = true;
            direction->changed.notify_all();
        }
        shutdown(client, SD_BOTH);
        shutdown(server, SD_BOTH);
        closesocket(client);
        closesocket(server);
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
};

LinkProxy::LinkProxy(uint16_t target_port, Line line) : target_port_(target_port), line_(line) {}

LinkProxy::~LinkProxy() {
    stopping_ = true;
    if (listener_ != INVALID_SOCKET) {
        closesocket(listener_);
    }
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.clear();
}

bool LinkProxy::Start() {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener_ == INVALID_SOCKET ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void LinkProxy::StopForwarding() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::unique_ptr<Connection>& connection : connections_) {
        connection->silent = true;
    }
}

void LinkProxy::AcceptLoop() {
    while (!stopping_.load()) {
        const SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            continue;  // the listener is closed when the proxy goes
        }
        const SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(target_port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            closesocket(server);
            closesocket(client);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->client = client;
        connection->server = server;
        connection->Start(line_);
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.push_back(std::move(connection));
    }
}
