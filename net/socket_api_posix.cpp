// The socket seam on BSD sockets. Events are made by a poll loop that the caller's thread
// drives through WaitSocketEvent, so the thread that handles an event is also the one that
// looked for it, as with the Main window's message loop on Windows. The registry below
// knows every socket made through the seam: an operation on any other descriptor is refused
// instead of reaching, say, the keyer's serial line after its number was reused.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "net/socket_api.h"

namespace {

struct SocketEntry {
    uint64_t serial = 0;  // tells a socket from a later one that got the same descriptor
    uint16_t selected = 0;
    SocketNotifyTarget target = nullptr;
    bool listening = false;
    bool connecting = false;  // a connect whose outcome is not reported yet
    bool connected = false;
    bool finished = false;  // close or a failed connect reported: nothing more to raise
    bool read_enabled = true;
    bool accept_enabled = true;
    bool write_enabled = false;
};

// Held only for short bookkeeping, never across a wait, so the pump and the senders
// never hold each other up for long. Lock order: send_mutex before registry_mutex.
std::mutex registry_mutex;
std::map<int, SocketEntry> registry;
std::deque<SocketEvent> queued_events;
int library_starts = 0;
uint64_t next_serial = 1;

// Serialises SendWhole, and is taken by closing too, so a sender never writes to a
// descriptor number that was closed and handed out again in the middle of its send.
std::mutex send_mutex;

thread_local int last_error = 0;

constexpr auto kSendPatience = std::chrono::milliseconds(2000);

constexpr int kKeepAliveProbes = 10;
// What another thread changes of what the poll watches (a selection, a read or accept
// enabled again, a send that found no room) wakes the poll through this pipe, so an idle
// loop sleeps until its time-out rather than waking to look. The slice is only a backstop.
constexpr int kPollSliceMs = 1000;

// The pipe that wakes the poll: made once and kept for the life of the process, as the
// registry is, so that no poll ever watches a descriptor closed and given out again. -1 when
// it could not be made; the slice then bounds every wait.
struct PollWaker {
    int read_end = -1;
    int write_end = -1;
    PollWaker() {
        int ends[2];
        if (pipe(ends) != 0) {
            return;
        }
        for (const int fd : ends) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        read_end = ends[0];
        write_end = ends[1];
    }
};

const PollWaker& Waker() {
    static const PollWaker waker;
    return waker;
}

// Set by WakeSocketWait: the wait it wakes returns without an event.
std::atomic<bool> wait_woken{false};
// Polls under way, counted under registry_mutex as each one's watch list is made: a change
// made after a list was made always finds the count raised.
std::atomic<int> polls_under_way{0};

void WritePipe() {
    const uint8_t byte = 1;
    // A full pipe already holds a wake-up; nothing more is needed.
    [[maybe_unused]] const ssize_t written = write(Waker().write_end, &byte, 1);
}

// After a change to what the poll watches. Only a poll already under way needs waking: the
// next one reads the registry afresh. So the loop's own reads, the common change, cost no
// wake-up.
void WakePoll() {
    if (polls_under_way.load() > 0) {
        WritePipe();
    }
}

void DrainWaker() {
    uint8_t bytes[64];
    while (read(Waker().read_end, bytes, sizeof bytes) > 0) {
    }
}

int WinsockError(int error) {
    switch (error) {
        case EINTR:
            return 10004;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return kSocketErrorInvalid;
        case EMFILE:
        case ENFILE:
            return 10024;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return kSocketErrorWouldBlock;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case EBADF:
        case ENOTSOCK:
            return kSocketErrorNotSocket;
        case EMSGSIZE:
            return 10040;
        case EOPNOTSUPP:
            return 10045;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return kSocketErrorAddressInUse;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
        case EPIPE:
            return kSocketErrorConnectionReset;
        case ENOBUFS:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case ETIMEDOUT:
            return kSocketErrorTimedOut;
        case ECONNREFUSED:
            return kSocketErrorRefused;
        case EHOSTUNREACH:
            return 10065;
        default:
            // No Winsock counterpart: the platform's own number, which cannot be mistaken
            // for one of the 10000-range codes.
            return error;
    }
}

int Fail(int winsock_error) {
    last_error = winsock_error;
    return kSocketError;
}

int FailErrno() {
    return Fail(WinsockError(errno));
}

int Descriptor(SocketHandle socket) {
    return socket <= static_cast<SocketHandle>(INT_MAX) ? static_cast<int>(socket) : -1;
}

SocketHandle Handle(int fd) {
    return static_cast<SocketHandle>(fd);
}

// The entry of a socket made here, or null with the reason in last_error. Called with
// registry_mutex held.
SocketEntry* FindLocked(SocketHandle socket) {
    if (library_starts == 0) {
        last_error = kSocketErrorNotStarted;
        return nullptr;
    }
    const auto found = registry.find(Descriptor(socket));
    if (found == registry.end()) {
        last_error = kSocketErrorNotSocket;
        return nullptr;
    }
    return &found->second;
}

// The descriptor of a socket made here, or -1 with the reason in last_error.
int FindDescriptor(SocketHandle socket) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    return FindLocked(socket) != nullptr ? Descriptor(socket) : -1;
}

void RegisterLocked(int fd, const SocketEntry& entry) {
    SocketEntry registered = entry;
    registered.serial = next_serial++;
    registry[fd] = registered;
}

void ForgetLocked(int fd) {
    registry.erase(fd);
    const SocketHandle handle = Handle(fd);
    for (auto it = queued_events.begin(); it != queued_events.end();) {
        it = it->socket == handle ? queued_events.erase(it) : it + 1;
    }
}

sockaddr_in Ipv4Address(uint32_t address, uint16_t port) {
    sockaddr_in record;
    std::memset(&record, 0, sizeof record);
    record.sin_family = AF_INET;
    record.sin_port = htons(port);
    record.sin_addr.s_addr = address;
    return record;
}

int LookupError(int result) {
    switch (result) {
        case EAI_NONAME:
            return kSocketErrorHostNotFound;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return kSocketErrorNoData;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return kSocketErrorNoData;
#endif
        case EAI_AGAIN:
            return kSocketErrorTryAgain;
        default:
            return kSocketErrorNoRecovery;
    }
}

bool LibraryStarted() {
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (library_starts == 0) {
        last_error = kSocketErrorNotStarted;
        return false;
    }
    return true;
}

void Queue(const SocketEntry& entry, SocketHandle socket, uint16_t event, int error) {
    queued_events.push_back(SocketEvent{socket, event, static_cast<uint16_t>(error), entry.target});
}

// Turns what poll saw on one socket into events. Called with registry_mutex held, which
// keeps the descriptor from being closed under the peek and the option read.
void RaiseLocked(int fd, SocketEntry& entry, short seen) {
    const SocketHandle handle = Handle(fd);
    if (entry.listening) {
        if ((seen & (POLLIN | POLLERR | POLLHUP)) != 0) {
            entry.accept_enabled = false;
            Queue(entry, handle, kSocketAccept, 0);
        }
        return;
    }
    if (entry.connecting) {
        if ((seen & (POLLOUT | POLLERR | POLLHUP)) == 0) {
            return;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        entry.connecting = false;
        if (error == 0) {
            entry.connected = true;
            entry.write_enabled = (entry.selected & kSocketWrite) != 0;
            if ((entry.selected & kSocketConnect) != 0) {
                Queue(entry, handle, kSocketConnect, 0);
            }
        } else {
            // Winsock reports a failed connect by its connect event alone.
            entry.finished = true;
            if ((entry.selected & kSocketConnect) != 0) {
                Queue(entry, handle, kSocketConnect, WinsockError(error));
            }
        }
        return;
    }
    if (!entry.connected) {
        return;
    }
    if (entry.read_enabled && (seen & (POLLIN | POLLERR | POLLHUP)) != 0) {
        // A peek tells unread bytes from the end of the stream without taking either, so
        // the close is raised only after the bytes sent before it have been read.
        uint8_t byte;
        const ssize_t count = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (count > 0) {
            entry.read_enabled = false;
            if ((entry.selected & kSocketRead) != 0) {
                Queue(entry, handle, kSocketRead, 0);
            }
        } else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            const int error = count == 0 ? 0 : WinsockError(errno);
            entry.finished = true;
            if ((entry.selected & kSocketClose) != 0) {
                Queue(entry, handle, kSocketClose, error);
            }
            return;
        }
    }
    if (entry.write_enabled && (seen & POLLOUT) != 0) {
        entry.write_enabled = false;
        Queue(entry, handle, kSocketWrite, 0);
    } else if (!entry.read_enabled && (seen & (POLLERR | POLLHUP)) != 0) {
        // A broken stream with unread bytes: poll reports the break whatever is asked,
        // so stop watching until the handler reads and the break can be reported.
        entry.write_enabled = false;
    }
}

// Waits until the stream has room, or has failed (the send then says how). Writable means
// the stack has room for a good part of its buffer, far more than one packet, so a packet
// started only then goes whole, where one started on a nearly full stream could be taken
// in part and leave the framing hanging on the rest.
bool WaitForRoom(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd wait{fd, POLLOUT, 0};
        if (poll(&wait, 1, 0) > 0) {
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(registry_mutex);
            const auto found = registry.find(fd);
            if (found != registry.end() && (found->second.selected & kSocketWrite) != 0) {
                found->second.write_enabled = true;
            }
        }
        WakePoll();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        poll(&wait, 1, static_cast<int>(left < kPollSliceMs ? left : kPollSliceMs));
    }
}

}  // namespace

int StartSockets() {
    std::lock_guard<std::mutex> lock(registry_mutex);
    ++library_starts;
    return 0;
}

int StopSockets() {
    std::vector<int> to_close;
    {
        std::lock_guard<std::mutex> send_lock(send_mutex);
        std::lock_guard<std::mutex> lock(registry_mutex);
        if (library_starts == 0) {
            return Fail(kSocketErrorNotStarted);
        }
        if (--library_starts > 0) {
            return 0;
        }
        for (const auto& socket : registry) {
            to_close.push_back(socket.first);
        }
        registry.clear();
        queued_events.clear();
        // Closed under the send lock, so no sender is inside one of them.
        for (int fd : to_close) {
            close(fd);
        }
    }
    return 0;
}

int SocketLibraryStarts() {
    std::lock_guard<std::mutex> lock(registry_mutex);
    return library_starts;
}

int SocketLastError() {
    return last_error;
}

int LocalHostName(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return Fail(10014);
    }
    if (!LibraryStarted()) {
        return kSocketError;
    }
    const int result = gethostname(buffer, size);
    if (result != 0) {
        last_error = WinsockError(errno);
        return result;
    }
    buffer[size - 1] = '\0';
    return 0;
}

bool LookupHostByName(const std::string& name, HostEntry* entry) {
    if (entry == nullptr) {
        Fail(10014);
        return false;
    }
    if (!LibraryStarted()) {
        return false;
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (result != 0) {
        Fail(LookupError(result));
        return false;
    }
    HostEntry filled;
    filled.official_name = found->ai_canonname != nullptr ? found->ai_canonname : name;
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        if (at->ai_family != AF_INET || at->ai_addrlen < sizeof(sockaddr_in)) {
            continue;
        }
        sockaddr_in record;
        std::memcpy(&record, at->ai_addr, sizeof record);
        bool seen = false;
        for (uint32_t address : filled.addresses) {
            seen = seen || address == record.sin_addr.s_addr;
        }
        if (!seen) {
            filled.addresses.push_back(record.sin_addr.s_addr);
        }
    }
    freeaddrinfo(found);
    if (filled.addresses.empty()) {
        Fail(kSocketErrorNoData);
        return false;
    }
    *entry = filled;
    return true;
}

bool LookupHostByAddress(uint32_t address, HostEntry* entry) {
    if (entry == nullptr) {
        Fail(10014);
        return false;
    }
    if (!LibraryStarted()) {
        return false;
    }
    const sockaddr_in record = Ipv4Address(address, 0);
    char name[NI_MAXHOST];
    const int result = getnameinfo(reinterpret_cast<const sockaddr*>(&record), sizeof record, name,
                                   sizeof name, nullptr, 0, NI_NAMEREQD);
    if (result != 0) {
        Fail(LookupError(result));
        return false;
    }
    entry->official_name = name;
    entry->addresses.assign(1, address);
    return true;
}

uint32_t ParseDottedAddress(const std::string& text) {
    return inet_addr(text.c_str());
}

std::string FormatDottedAddress(uint32_t address) {
    in_addr record;
    record.s_addr = address;
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &record, text, sizeof text) != nullptr ? text : "";
}

// Every packet leaves at once. Under Nagle's rule a packet that follows another before its
// acknowledgement waits for it, and the far side delays that acknowledgement: a RemoteSide's
// echo, sent right after the keyer's status, reached the ControlPoint some 40 ms late.
namespace {

void SendPacketsAtOnce(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

SocketHandle OpenStreamSocket() {
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (library_starts == 0) {
        Fail(kSocketErrorNotStarted);
        return kNoSocket;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        FailErrno();
        return kNoSocket;
    }
    SendPacketsAtOnce(fd);
    RegisterLocked(fd, SocketEntry{});
    return Handle(fd);
}

int BindSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    const int fd = FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    const sockaddr_in record = Ipv4Address(address, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&record), sizeof record) != 0) {
        return FailErrno();
    }
    return 0;
}

int ListenSocket(SocketHandle socket, int backlog) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    SocketEntry* entry = FindLocked(socket);
    if (entry == nullptr) {
        return kSocketError;
    }
    if (listen(Descriptor(socket), backlog) != 0) {
        return FailErrno();
    }
    entry->listening = true;
    entry->accept_enabled = true;
    WakePoll();
    return 0;
}

int SocketLocalPort(SocketHandle socket) {
    const int fd = FindDescriptor(socket);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in record;
    socklen_t length = sizeof record;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&record), &length) != 0) {
        return FailErrno();
    }
    return ntohs(record.sin_port);
}

bool SocketPeerAddress(SocketHandle socket, uint32_t* ipv4_host_order) {
    const int fd = FindDescriptor(socket);
    sockaddr_in record{};
    socklen_t length = sizeof record;
    if (fd < 0 || getpeername(fd, reinterpret_cast<sockaddr*>(&record), &length) != 0 ||
        record.sin_family != AF_INET) {
        return false;
    }
    *ipv4_host_order = ntohl(record.sin_addr.s_addr);
    return true;
}

int SelectSocketEvents(SocketHandle socket, SocketNotifyTarget target, uint32_t, uint16_t events) {
    constexpr uint16_t kKnown =
        kSocketRead | kSocketWrite | kSocketAccept | kSocketConnect | kSocketClose;
    std::lock_guard<std::mutex> lock(registry_mutex);
    SocketEntry* entry = FindLocked(socket);
    if (entry == nullptr) {
        return kSocketError;
    }
    if ((events & ~kKnown) != 0) {
        return Fail(kSocketErrorInvalid);
    }
    const int fd = Descriptor(socket);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return FailErrno();
    }
    // A new selection starts afresh: whatever is already pending is reported again.
    entry->selected = events;
    entry->target = target;
    entry->read_enabled = true;
    entry->accept_enabled = true;
    entry->write_enabled = entry->connected && (events & kSocketWrite) != 0;
    WakePoll();
    return 0;
}

int ConnectSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    int fd;
    bool selected;
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        SocketEntry* entry = FindLocked(socket);
        if (entry == nullptr) {
            return kSocketError;
        }
        if (entry->listening) {
            return Fail(kSocketErrorInvalid);
        }
        if (entry->connecting || entry->connected) {
            return Fail(entry->connecting ? 10037 : 10056);
        }
        fd = Descriptor(socket);
        selected = entry->selected != 0;
    }
    const sockaddr_in record = Ipv4Address(address, port);
    // A blocking connect (a socket never selected) waits here, as it does on Windows.
    const int result = connect(fd, reinterpret_cast<const sockaddr*>(&record), sizeof record);
    const int error = errno;
    std::lock_guard<std::mutex> lock(registry_mutex);
    SocketEntry* entry = FindLocked(socket);
    if (entry == nullptr) {
        return kSocketError;
    }
    if (result == 0) {
        // Even an at-once success is reported by the connect event, so the handler has
        // one place where a link comes up.
        entry->connecting = selected;
        entry->connected = !selected;
        WakePoll();
        return 0;
    }
    if (error == EINPROGRESS) {
        entry->connecting = true;
        WakePoll();
        return Fail(kSocketErrorWouldBlock);
    }
    return Fail(WinsockError(error));
}

SocketHandle AcceptSocket(SocketHandle listener) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    SocketEntry* entry = FindLocked(listener);
    if (entry == nullptr) {
        return kNoSocket;
    }
    if (!entry->listening) {
        Fail(kSocketErrorInvalid);
        return kNoSocket;
    }
    entry->accept_enabled = true;
    WakePoll();
    const int flags = SOCK_CLOEXEC | (entry->selected != 0 ? SOCK_NONBLOCK : 0);
    const int fd = accept4(Descriptor(listener), nullptr, nullptr, flags);
    if (fd < 0) {
        FailErrno();
        return kNoSocket;
    }
    SendPacketsAtOnce(fd);
    SocketEntry accepted;
    accepted.selected = entry->selected;
    accepted.target = entry->target;
    accepted.connected = true;
    accepted.write_enabled = (entry->selected & kSocketWrite) != 0;
    RegisterLocked(fd, accepted);
    return Handle(fd);
}

int ReceiveSocket(SocketHandle socket, uint8_t* buffer, int size) {
    if (size < 0 || (buffer == nullptr && size > 0)) {
        return Fail(10014);
    }
    const int fd = FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    const ssize_t count = recv(fd, buffer, static_cast<std::size_t>(size), 0);
    const int error = errno;
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        const auto found = registry.find(fd);
        if (found != registry.end()) {
            found->second.read_enabled = true;
        }
    }
    WakePoll();
    if (count < 0) {
        return Fail(WinsockError(error));
    }
    return static_cast<int>(count);
}

int SendWhole(SocketHandle socket, const uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr && count > 0) {
        Fail(10014);
        return 0;
    }
    std::lock_guard<std::mutex> send_lock(send_mutex);
    const int fd = FindDescriptor(socket);
    if (fd < 0) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + kSendPatience;
    std::size_t sent = 0;
    while (sent < count) {
        if (!WaitForRoom(fd, deadline)) {
            break;
        }
        const ssize_t result = send(fd, bytes + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result > 0) {
            sent += static_cast<std::size_t>(result);
        } else if (result < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            FailErrno();
            return sent == 0 ? 0 : kSendCutShort;
        }
    }
    if (sent == count) {
        return 1;
    }
    // Nothing of the bytes in the stream, or a stream whose framing is lost: the caller must
    // tell them apart, since only the second leaves the peer reading garbage.
    Fail(sent == 0 ? kSocketErrorWouldBlock : kSocketErrorTimedOut);
    return sent == 0 ? 0 : kSendCutShort;
}

int SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> send_lock(send_mutex);
    const int fd = FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    for (;;) {
        const ssize_t result = send(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result >= 0) {
            return static_cast<int>(result);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        if (errno != EINTR) {
            return FailErrno();
        }
    }
}

int SetSocketKeepAlive(SocketHandle socket, int idle_ms, int interval_ms) {
    const int fd = FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    const int on = 1;
    const int idle_s = idle_ms < 1000 ? 1 : idle_ms / 1000;
    const int interval_s = interval_ms < 1000 ? 1 : interval_ms / 1000;
    // As many probes as Windows sends, so both builds give up on a peer alike.
    const int probes = kKeepAliveProbes;
    if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0) {
        return FailErrno();
    }
    return 0;
}

int SetSocketSendBuffer(SocketHandle socket, int bytes) {
    const int fd = FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    return setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0 ? FailErrno() : 0;
}

int CloseSocket(SocketHandle socket) {
    std::lock_guard<std::mutex> send_lock(send_mutex);
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (FindLocked(socket) == nullptr) {
        return kSocketError;
    }
    const int fd = Descriptor(socket);
    ForgetLocked(fd);
    close(fd);
    return 0;
}

bool WaitSocketEvent(int timeout_ms, SocketEvent* event) {
    if (event == nullptr) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    std::vector<pollfd> watched;
    std::vector<uint64_t> serials;
    for (;;) {
        watched.clear();
        serials.clear();
        {
            std::lock_guard<std::mutex> lock(registry_mutex);
            if (!queued_events.empty()) {
                *event = queued_events.front();
                queued_events.pop_front();
                return true;
            }
            for (const auto& [fd, entry] : registry) {
                if (entry.finished || entry.selected == 0) {
                    continue;
                }
                short wanted = 0;
                if (entry.listening) {
                    wanted = entry.accept_enabled && (entry.selected & kSocketAccept) ? POLLIN : 0;
                } else if (entry.connecting) {
                    wanted = POLLOUT;
                } else if (entry.connected) {
                    if (entry.read_enabled && (entry.selected & (kSocketRead | kSocketClose))) {
                        wanted |= POLLIN;
                    }
                    if (entry.write_enabled) {
                        wanted |= POLLOUT;
                    }
                }
                if (wanted != 0) {
                    watched.push_back(pollfd{fd, wanted, 0});
                    serials.push_back(entry.serial);
                }
            }
            ++polls_under_way;
        }
        if (wait_woken.exchange(false)) {
            --polls_under_way;
            return false;
        }
        // Last, and never a socket of the registry's, so the loop below passes it by.
        watched.push_back(pollfd{Waker().read_end, POLLIN, 0});
        serials.push_back(0);
        // Rounded up: the last part of a millisecond rounded down would be spent polling
        // without a wait.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int slice =
            static_cast<int>(left <= 0 ? 0 : (left < kPollSliceMs ? left : kPollSliceMs));
        const int ready = poll(watched.data(), watched.size(), slice);
        --polls_under_way;
        if (watched.back().revents != 0) {
            DrainWaker();
        }
        if (ready > 0) {
            std::lock_guard<std::mutex> lock(registry_mutex);
            for (std::size_t i = 0; i < watched.size(); ++i) {
                const auto found = registry.find(watched[i].fd);
                if (watched[i].revents == 0 || found == registry.end() ||
                    found->second.serial != serials[i]) {
                    continue;
                }
                RaiseLocked(watched[i].fd, found->second, watched[i].revents);
            }
            if (!queued_events.empty()) {
                continue;
            }
        }
        if (left <= 0) {
            return false;
        }
    }
}

void WakeSocketWait() {
    wait_woken = true;
    WritePipe();
}
