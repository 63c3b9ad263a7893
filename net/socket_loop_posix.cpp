// The host build's loop: the registry of a SocketLoop's sockets, and the poll that the
// owner's thread drives through Wait, so that the thread that handles an event is also the
// one that looked for it, as with the Main window's message loop on Windows.
#include "net/socket_loop_posix.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace socket_posix {

PollWaker::PollWaker() {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        read_end_ = ends[0];
        write_end_ = ends[1];
    }
}

PollWaker::~PollWaker() {
    if (read_end_ >= 0) {
        close(read_end_);
        close(write_end_);
    }
}

void PollWaker::Wake() const {
    const uint8_t byte = 1;
    // A full pipe already holds a wake-up; nothing more is needed.
    [[maybe_unused]] const ssize_t written = write(write_end_, &byte, 1);
}

void PollWaker::Drain() const {
    uint8_t bytes[64];
    while (read(read_end_, bytes, sizeof bytes) > 0) {
    }
}

}  // namespace socket_posix

namespace {

using socket_posix::Descriptor;
using socket_posix::Handle;
using socket_posix::SocketEntry;
using Clock = std::chrono::steady_clock;

// A change to what the poll watches wakes it through the waker's pipe, so an idle loop
// sleeps until its time-out rather than waking to look. The slice is only a backstop.
constexpr int kPollSliceMs = 1000;

// What poll should look for on one socket: nothing once it is finished or while the events
// it would raise wait to be enabled again.
short WantedEvents(const SocketEntry& entry) {
    if (entry.finished || entry.selected == 0) {
        return 0;
    }
    if (entry.datagram) {
        return entry.read_enabled && (entry.selected & kSocketRead) != 0 ? POLLIN : 0;
    }
    if (entry.listening) {
        return entry.accept_enabled && (entry.selected & kSocketAccept) != 0 ? POLLIN : 0;
    }
    if (entry.connecting) {
        return POLLOUT;
    }
    if (!entry.connected) {
        return 0;
    }
    short wanted = 0;
    if (entry.read_enabled && (entry.selected & (kSocketRead | kSocketClose)) != 0) {
        wanted |= POLLIN;
    }
    if (entry.write_enabled) {
        wanted |= POLLOUT;
    }
    return wanted;
}

// Rounded up: the last part of a millisecond rounded down would be spent polling without a
// wait.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

SocketLoop::State::~State() {
    CloseAllLocked();
}

SocketLoop::State::SocketEntry* SocketLoop::State::FindLocked(SocketHandle socket) {
    if (starts == 0) {
        socket_posix::Fail(kSocketErrorNotStarted);
        return nullptr;
    }
    const auto found = registry.find(Descriptor(socket));
    if (found == registry.end()) {
        socket_posix::Fail(kSocketErrorNotSocket);
        return nullptr;
    }
    return &found->second;
}

int SocketLoop::State::FindDescriptor(SocketHandle socket) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    return FindLocked(socket) != nullptr ? Descriptor(socket) : -1;
}

bool SocketLoop::State::Started() {
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (starts == 0) {
        socket_posix::Fail(kSocketErrorNotStarted);
        return false;
    }
    return true;
}

void SocketLoop::State::RegisterLocked(int fd, const SocketEntry& entry) {
    SocketEntry registered = entry;
    registered.serial = next_serial++;
    registry[fd] = registered;
}

void SocketLoop::State::ForgetLocked(int fd) {
    registry.erase(fd);
    const SocketHandle handle = Handle(fd);
    for (auto it = queued_events.begin(); it != queued_events.end();) {
        it = it->socket == handle ? queued_events.erase(it) : it + 1;
    }
}

void SocketLoop::State::CloseAllLocked() {
    for (const auto& socket : registry) {
        close(socket.first);
    }
    registry.clear();
    queued_events.clear();
}

// Only a poll already under way needs waking: the next one reads the registry afresh. So the
// loop's own reads, the common change, cost no wake-up.
void SocketLoop::State::WakePoll() {
    if (polls_under_way_.load() > 0) {
        waker_.Wake();
    }
}

void SocketLoop::State::EnableWrite(int fd) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    const auto found = registry.find(fd);
    if (found != registry.end() && (found->second.selected & kSocketWrite) != 0) {
        found->second.write_enabled = true;
        WakePoll();
    }
}

void SocketLoop::State::Wake() {
    wait_woken_ = true;
    waker_.Wake();
}

bool SocketLoop::State::Wait(int timeout_ms, SocketEvent* event) {
    if (event == nullptr) {
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    Watch watch;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(registry_mutex);
            if (TakeQueuedLocked(event)) {
                return true;
            }
            ListWatchedLocked(&watch);
            ++polls_under_way_;
        }
        if (wait_woken_.exchange(false)) {
            --polls_under_way_;
            return false;
        }
        const int left = MillisecondsLeft(deadline);
        const bool raised = PollWatched(&watch, std::min(left, kPollSliceMs)) && RaiseSeen(watch);
        // A poll that slept out its time-out is the end of the wait: looking once more
        // without a wait would find nothing it had not.
        if (!raised && Clock::now() >= deadline) {
            return false;
        }
    }
}

bool SocketLoop::State::TakeQueuedLocked(SocketEvent* event) {
    if (queued_events.empty()) {
        return false;
    }
    *event = queued_events.front();
    queued_events.pop_front();
    return true;
}

void SocketLoop::State::ListWatchedLocked(Watch* watch) {
    watch->fds.clear();
    watch->serials.clear();
    for (const auto& [fd, entry] : registry) {
        const short wanted = WantedEvents(entry);
        if (wanted != 0) {
            watch->fds.push_back(pollfd{fd, wanted, 0});
            watch->serials.push_back(entry.serial);
        }
    }
    // Last, and never a socket of the registry's, so that RaiseSeen passes it by.
    watch->fds.push_back(pollfd{waker_.ReadEnd(), POLLIN, 0});
    watch->serials.push_back(0);
}

// True when poll saw something, be it only the waker.
bool SocketLoop::State::PollWatched(Watch* watch, int timeout_ms) {
    const int ready = poll(watch->fds.data(), watch->fds.size(), timeout_ms);
    --polls_under_way_;
    if (watch->fds.back().revents != 0) {
        waker_.Drain();
    }
    return ready > 0;
}

// True when what the poll saw raised an event.
bool SocketLoop::State::RaiseSeen(const Watch& watch) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    for (std::size_t i = 0; i + 1 < watch.fds.size(); ++i) {
        const pollfd& seen = watch.fds[i];
        const auto found = registry.find(seen.fd);
        // Closed, or closed and made again, since the list was made.
        if (seen.revents == 0 || found == registry.end() ||
            found->second.serial != watch.serials[i]) {
            continue;
        }
        RaiseLocked(seen.fd, found->second, seen.revents);
    }
    return !queued_events.empty();
}

void SocketLoop::State::Queue(int fd, uint16_t event, int error) {
    queued_events.push_back(SocketEvent{Handle(fd), event, static_cast<uint16_t>(error)});
}

// Called with registry_mutex held, which keeps the descriptor from being closed under the
// peek and the option read.
void SocketLoop::State::RaiseLocked(int fd, SocketEntry& entry, short seen) {
    if (entry.datagram) {
        RaiseDatagramLocked(fd, entry, seen);
    } else if (entry.listening) {
        RaiseAcceptLocked(fd, entry, seen);
    } else if (entry.connecting) {
        RaiseConnectLocked(fd, entry, seen);
    } else if (entry.connected) {
        RaiseStreamLocked(fd, entry, seen);
    }
}

void SocketLoop::State::RaiseAcceptLocked(int fd, SocketEntry& entry, short seen) {
    if ((seen & (POLLIN | POLLERR | POLLHUP)) != 0) {
        entry.accept_enabled = false;
        Queue(fd, kSocketAccept, 0);
    }
}

// A datagram waits, or an error that the next receive reports.
void SocketLoop::State::RaiseDatagramLocked(int fd, SocketEntry& entry, short seen) {
    if ((seen & (POLLIN | POLLERR)) != 0) {
        entry.read_enabled = false;
        Queue(fd, kSocketRead, 0);
    }
}

void SocketLoop::State::RaiseConnectLocked(int fd, SocketEntry& entry, short seen) {
    if ((seen & (POLLOUT | POLLERR | POLLHUP)) == 0) {
        return;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
    }
    entry.connecting = false;
    // Winsock reports a failed connect by its connect event alone.
    entry.connected = error == 0;
    entry.finished = error != 0;
    entry.write_enabled = entry.connected && (entry.selected & kSocketWrite) != 0;
    if ((entry.selected & kSocketConnect) != 0) {
        Queue(fd, kSocketConnect, error == 0 ? 0 : socket_posix::WinsockError(error));
    }
}

void SocketLoop::State::RaiseStreamLocked(int fd, SocketEntry& entry, short seen) {
    if (entry.read_enabled && (seen & (POLLIN | POLLERR | POLLHUP)) != 0) {
        // A peek tells unread bytes from the end of the stream without taking either, so
        // the close is raised only after the bytes sent before it have been read.
        uint8_t byte;
        const ssize_t count = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (count > 0) {
            entry.read_enabled = false;
            if ((entry.selected & kSocketRead) != 0) {
                Queue(fd, kSocketRead, 0);
            }
        } else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            entry.finished = true;
            if ((entry.selected & kSocketClose) != 0) {
                Queue(fd, kSocketClose, count == 0 ? 0 : socket_posix::WinsockError(errno));
            }
            return;
        }
    }
    if (entry.write_enabled && (seen & POLLOUT) != 0) {
        entry.write_enabled = false;
        Queue(fd, kSocketWrite, 0);
    } else if (!entry.read_enabled && (seen & (POLLERR | POLLHUP)) != 0) {
        // A broken stream with unread bytes: poll reports the break whatever is asked,
        // so stop watching until the handler reads and the break can be reported.
        entry.write_enabled = false;
    }
}
