// The socket seam's calls on BSD sockets. Each is the one platform call it names, checked
// against the loop's registry (net/socket_loop_posix.h) and telling it what changed of what
// its poll watches.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/socket_api.h"
#include "net/socket_loop_posix.h"
#include "net/socket_records.h"

namespace {

using socket_posix::Descriptor;
using socket_posix::Fail;
using socket_posix::Handle;
using socket_posix::LookupError;
using socket_posix::SocketEntry;
using socket_records::AddressesOf;
using socket_records::FromSocketAddress;
using socket_records::SocketAddressOf;

constexpr int kKeepAliveProbes = 10;

int FailErrno() {
    return Fail(socket_posix::WinsockError(errno));
}

// Every packet leaves at once. Under Nagle's rule a packet that follows another before its
// acknowledgement waits for it, and the far side delays that acknowledgement: a RemoteSide's
// echo, sent right after the keyer's status, reached the ControlPoint some 40 ms late.
void SendPacketsAtOnce(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

std::optional<NetAddress> ParseRecordIpv4(const std::string& text) {
    const uint32_t address = inet_addr(text.c_str());
    if (address == INADDR_NONE) {
        return std::nullopt;
    }
    return NetAddress::Ipv4(ntohl(address));
}

SocketLoop::SocketLoop() : state_(std::make_unique<State>()) {}

SocketLoop::~SocketLoop() = default;

int SocketLoop::Start() {
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    ++state_->starts;
    return 0;
}

int SocketLoop::Stop() {
    // Closed under the send lock, so no sender is inside one of them.
    std::lock_guard<std::mutex> send_lock(state_->send_mutex);
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    if (state_->starts == 0) {
        return Fail(kSocketErrorNotStarted);
    }
    if (--state_->starts == 0) {
        state_->CloseAllLocked();
    }
    return 0;
}

int SocketLoop::Starts() const {
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    return state_->starts;
}

int SocketLoop::LocalHostName(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return Fail(kSocketErrorFault);
    }
    if (!state_->Started()) {
        return kSocketError;
    }
    const int result = gethostname(buffer, size);
    if (result != 0) {
        FailErrno();
        return result;
    }
    buffer[size - 1] = '\0';
    return 0;
}

bool SocketLoop::LookupHostByName(const std::string& name, HostEntry* entry) {
    if (entry == nullptr) {
        Fail(kSocketErrorFault);
        return false;
    }
    if (!state_->Started()) {
        return false;
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
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
    filled.addresses = AddressesOf(found);
    freeaddrinfo(found);
    if (filled.addresses.empty()) {
        Fail(kSocketErrorNoData);
        return false;
    }
    *entry = filled;
    return true;
}

bool SocketLoop::LookupHostByAddress(const NetAddress& address, HostEntry* entry) {
    if (entry == nullptr) {
        Fail(kSocketErrorFault);
        return false;
    }
    if (!state_->Started()) {
        return false;
    }
    sockaddr_storage record;
    const auto length = static_cast<socklen_t>(SocketAddressOf(address, 0, &record));
    char name[NI_MAXHOST];
    const int result = getnameinfo(reinterpret_cast<const sockaddr*>(&record), length, name,
                                   sizeof name, nullptr, 0, NI_NAMEREQD);
    if (result != 0) {
        Fail(LookupError(result));
        return false;
    }
    entry->official_name = name;
    entry->addresses.assign(1, address);
    return true;
}

SocketHandle SocketLoop::State::Open(NetAddress::Family family, int type, int protocol,
                                     const SocketEntry& entry) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    if (starts == 0) {
        Fail(kSocketErrorNotStarted);
        return kNoSocket;
    }
    const int domain = family == NetAddress::Family::kIpv6 ? AF_INET6 : AF_INET;
    const int fd = socket(domain, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return kNoSocket;
    }
    RegisterLocked(fd, entry);
    return Handle(fd);
}

SocketHandle SocketLoop::OpenStream(NetAddress::Family family) {
    const SocketHandle opened = state_->Open(family, SOCK_STREAM, IPPROTO_TCP, SocketEntry{});
    if (opened != kNoSocket) {
        SendPacketsAtOnce(Descriptor(opened));
    }
    return opened;
}

SocketHandle SocketLoop::OpenDatagram(NetAddress::Family family) {
    SocketEntry entry;
    entry.datagram = true;
    return state_->Open(family, SOCK_DGRAM, IPPROTO_UDP, entry);
}

int SocketLoop::Bind(SocketHandle socket, const NetAddress& address, uint16_t port) {
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    const int on = 1;
    const int off = 0;
    int type = 0;
    socklen_t type_length = sizeof type;
    sockaddr_storage record;
    const auto length = static_cast<socklen_t>(SocketAddressOf(address, port, &record));
    // On a datagram socket the option would let a second program bind the same port beside
    // it, rather than the second bind failing.
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &type_length) != 0 ||
        (type == SOCK_STREAM && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) ||
        (address.IsIpv6() && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0) ||
        bind(fd, reinterpret_cast<const sockaddr*>(&record), length) != 0) {
        return FailErrno();
    }
    return 0;
}

int SocketLoop::Listen(SocketHandle socket, int backlog) {
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    SocketEntry* entry = state_->FindLocked(socket);
    if (entry == nullptr) {
        return kSocketError;
    }
    if (listen(Descriptor(socket), backlog) != 0) {
        return FailErrno();
    }
    entry->listening = true;
    entry->accept_enabled = true;
    state_->WakePoll();
    return 0;
}

int SocketLoop::LocalPort(SocketHandle socket) {
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return -1;
    }
    sockaddr_storage record{};
    socklen_t length = sizeof record;
    NetAddress address;
    uint16_t port = 0;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&record), &length) != 0) {
        return FailErrno();
    }
    return FromSocketAddress(record, &address, &port) ? port : -1;
}

bool SocketLoop::PeerAddress(SocketHandle socket, NetAddress* address) {
    const int fd = state_->FindDescriptor(socket);
    sockaddr_storage record{};
    socklen_t length = sizeof record;
    uint16_t port = 0;
    return fd >= 0 && getpeername(fd, reinterpret_cast<sockaddr*>(&record), &length) == 0 &&
           FromSocketAddress(record, address, &port);
}

int SocketLoop::Select(SocketHandle socket, uint16_t events) {
    constexpr uint16_t kKnown =
        kSocketRead | kSocketWrite | kSocketAccept | kSocketConnect | kSocketClose;
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    SocketEntry* entry = state_->FindLocked(socket);
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
    entry->read_enabled = true;
    entry->accept_enabled = true;
    entry->write_enabled = entry->connected && (events & kSocketWrite) != 0;
    state_->WakePoll();
    return 0;
}

int SocketLoop::Connect(SocketHandle socket, const NetAddress& address, uint16_t port) {
    int fd;
    bool selected;
    {
        std::lock_guard<std::mutex> lock(state_->registry_mutex);
        const SocketEntry* entry = state_->FindLocked(socket);
        if (entry == nullptr) {
            return kSocketError;
        }
        if (entry->listening) {
            return Fail(kSocketErrorInvalid);
        }
        if (entry->connecting || entry->connected) {
            return Fail(entry->connecting ? kSocketErrorAlready : kSocketErrorIsConnected);
        }
        fd = Descriptor(socket);
        selected = entry->selected != 0;
    }
    sockaddr_storage record;
    const auto length = static_cast<socklen_t>(SocketAddressOf(address, port, &record));
    // A blocking connect (a socket never selected) waits here, as it does on Windows.
    const int result = connect(fd, reinterpret_cast<const sockaddr*>(&record), length);
    const int error = errno;
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    SocketEntry* entry = state_->FindLocked(socket);
    if (entry == nullptr) {
        return kSocketError;
    }
    if (result == 0) {
        // Even an at-once success is reported by the connect event, so the handler has
        // one place where a link comes up.
        entry->connecting = selected;
        entry->connected = !selected;
        state_->WakePoll();
        return 0;
    }
    if (error == EINPROGRESS) {
        entry->connecting = true;
        state_->WakePoll();
        return Fail(kSocketErrorWouldBlock);
    }
    return Fail(socket_posix::WinsockError(error));
}

SocketHandle SocketLoop::Accept(SocketHandle listener) {
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    SocketEntry* entry = state_->FindLocked(listener);
    if (entry == nullptr) {
        return kNoSocket;
    }
    if (!entry->listening) {
        Fail(kSocketErrorInvalid);
        return kNoSocket;
    }
    entry->accept_enabled = true;
    state_->WakePoll();
    const int flags = SOCK_CLOEXEC | (entry->selected != 0 ? SOCK_NONBLOCK : 0);
    const int fd = accept4(Descriptor(listener), nullptr, nullptr, flags);
    if (fd < 0) {
        FailErrno();
        return kNoSocket;
    }
    SendPacketsAtOnce(fd);
    SocketEntry accepted;
    accepted.selected = entry->selected;
    accepted.connected = true;
    accepted.write_enabled = (entry->selected & kSocketWrite) != 0;
    state_->RegisterLocked(fd, accepted);
    return Handle(fd);
}

int SocketLoop::Receive(SocketHandle socket, uint8_t* buffer, int size) {
    if (size < 0 || (buffer == nullptr && size > 0)) {
        return Fail(kSocketErrorFault);
    }
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    const ssize_t count = recv(fd, buffer, static_cast<std::size_t>(size), 0);
    const int error = errno;
    {
        std::lock_guard<std::mutex> lock(state_->registry_mutex);
        const auto found = state_->registry.find(fd);
        if (found != state_->registry.end()) {
            found->second.read_enabled = true;
        }
    }
    state_->WakePoll();
    if (count < 0) {
        return Fail(socket_posix::WinsockError(error));
    }
    return static_cast<int>(count);
}

int SocketLoop::ReceiveFrom(SocketHandle socket, uint8_t* buffer, int size, NetAddress* from,
                            uint16_t* from_port) {
    if (size < 0 || (buffer == nullptr && size > 0) || from == nullptr || from_port == nullptr) {
        return Fail(kSocketErrorFault);
    }
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    sockaddr_storage record{};
    socklen_t length = sizeof record;
    // With MSG_TRUNC the count is the datagram's own length, so a longer one is told apart.
    const ssize_t count =
        recvfrom(fd, buffer, static_cast<std::size_t>(size), MSG_TRUNC | MSG_DONTWAIT,
                 reinterpret_cast<sockaddr*>(&record), &length);
    const int error = errno;
    {
        std::lock_guard<std::mutex> lock(state_->registry_mutex);
        const auto found = state_->registry.find(fd);
        if (found != state_->registry.end()) {
            found->second.read_enabled = true;
        }
    }
    state_->WakePoll();
    if (count < 0) {
        return Fail(socket_posix::WinsockError(error));
    }
    if (!FromSocketAddress(record, from, from_port)) {
        return Fail(kSocketErrorFamilyNotSupported);
    }
    return count > size ? Fail(kSocketErrorMessageSize) : static_cast<int>(count);
}

int SocketLoop::SendTo(SocketHandle socket, const uint8_t* bytes, std::size_t count,
                       const NetAddress& address, uint16_t port) {
    if (bytes == nullptr && count > 0) {
        return Fail(kSocketErrorFault);
    }
    std::lock_guard<std::mutex> send_lock(state_->send_mutex);
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    sockaddr_storage record;
    const auto length = static_cast<socklen_t>(SocketAddressOf(address, port, &record));
    const ssize_t sent = sendto(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT,
                                reinterpret_cast<const sockaddr*>(&record), length);
    return sent < 0 ? FailErrno() : static_cast<int>(sent);
}

int SocketLoop::SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr && count > 0) {
        return Fail(kSocketErrorFault);
    }
    std::lock_guard<std::mutex> send_lock(state_->send_mutex);
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    for (;;) {
        const ssize_t result = send(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result >= 0) {
            return static_cast<int>(result);
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            state_->EnableWrite(fd);
            return 0;
        }
        if (errno != EINTR) {
            return FailErrno();
        }
    }
}

int SocketLoop::SetKeepAlive(SocketHandle socket, int idle_ms, int interval_ms) {
    const int fd = state_->FindDescriptor(socket);
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

int SocketLoop::SetSendBuffer(SocketHandle socket, int bytes) {
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    return setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) != 0 ? FailErrno() : 0;
}

int SocketLoop::Close(SocketHandle socket) {
    std::lock_guard<std::mutex> send_lock(state_->send_mutex);
    std::lock_guard<std::mutex> lock(state_->registry_mutex);
    if (state_->FindLocked(socket) == nullptr) {
        return kSocketError;
    }
    const int fd = Descriptor(socket);
    state_->ForgetLocked(fd);
    close(fd);
    return 0;
}

int SocketLoop::Reset(SocketHandle socket) {
    const int fd = state_->FindDescriptor(socket);
    if (fd < 0) {
        return kSocketError;
    }
    // Should the option be refused, the orderly close still ends the connection.
    const linger at_once{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &at_once, sizeof at_once);
    return Close(socket);
}

bool SocketLoop::Wait(int timeout_ms, SocketEvent* event) {
    return state_->Wait(timeout_ms, event);
}

void SocketLoop::Wake() {
    state_->Wake();
}
