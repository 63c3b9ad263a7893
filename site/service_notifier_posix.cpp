#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "site/service_notifier.h"

namespace {

constexpr char kAbstractNameMark = '@';

}  // namespace

ServiceNotifier::ServiceNotifier(const std::string& socket_name,
                                 std::chrono::microseconds watchdog_period)
    : socket_name_(socket_name), watchdog_period_(watchdog_period) {
    if (!socket_name_.empty()) {
        socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
}

ServiceNotifier::~ServiceNotifier() {
    if (socket_ >= 0) {
        close(socket_);
    }
}

void ServiceNotifier::Ready() {
    Send("READY=1");
}

void ServiceNotifier::Alive() {
    const auto now = std::chrono::steady_clock::now();
    if (watchdog_period_.count() <= 0 || now < next_watchdog_word_) {
        return;
    }
    next_watchdog_word_ = now + watchdog_period_ / 2;
    Send("WATCHDOG=1");
}

void ServiceNotifier::Send(const std::string& state) {
    sockaddr_un address{};
    if (socket_ < 0 || socket_name_.size() >= sizeof address.sun_path) {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socket_name_.data(), socket_name_.size());
    socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_name_.size());
    if (socket_name_[0] == kAbstractNameMark) {
        address.sun_path[0] = '\0';
    } else {
        ++length;  // the path's terminating zero
    }
    sendto(socket_, state.data(), state.size(), MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(&address), length);
}

std::string NotifySocketFromEnvironment() {
    const char* name = std::getenv("NOTIFY_SOCKET");
    return name == nullptr ? std::string() : std::string(name);
}

std::chrono::microseconds WatchdogPeriodFromEnvironment() {
    const char* period = std::getenv("WATCHDOG_USEC");
    const char* pid = std::getenv("WATCHDOG_PID");
    if (period == nullptr ||
        (pid != nullptr && std::strtol(pid, nullptr, 10) != static_cast<long>(getpid()))) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(std::strtoll(period, nullptr, 10));
}
