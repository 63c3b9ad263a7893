#include "tools/wine_kit/link_proxy.h"

#include <chrono>
#include <condition_variable>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

// One direction of a connection: what was read, each piece due at its time, and the end of
// the stream as a piece with no bytes.
struct Direction {
    SOCKET from = INVALID_SOCKET;
    SOCKET to = INVALID_SOCKET;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<Clock::time_point, std::vector<char>>> due;
    bool done = false;
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

    void Read(Direction* direction, int delay_ms) {
        char buffer[4096];
        for (;;) {
            const int count = recv(direction->from, buffer, sizeof buffer, 0);
            if (silent.load()) {
                if (count <= 0) {
                    return;  // a dead line passes no close either
                }
                continue;
            }
            std::lock_guard<std::mutex> lock(direction->mutex);
            direction->due.emplace_back(
                Clock::now() + std::chrono::milliseconds(delay_ms),
                count > 0 ? std::vector<char>(buffer, buffer + count) : std::vector<char>());
            direction->changed.notify_all();
            if (count <= 0) {
                return;
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

    void Start(int delay_ms) {
        up.from = client;
        up.to = server;
        down.from = server;
        down.to = client;
        threads.emplace_back([this, delay_ms] { Read(&up, delay_ms); });
        threads.emplace_back([this, delay_ms] { Read(&down, delay_ms); });
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

LinkProxy::LinkProxy(uint16_t target_port, int delay_ms)
    : target_port_(target_port), delay_ms_(delay_ms) {}

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
        connection->Start(delay_ms_);
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.push_back(std::move(connection));
    }
}
