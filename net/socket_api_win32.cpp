// The socket seam on Winsock. Events are Winsock's own: WSAAsyncSelect posts them to the
// loop's window, whose procedure decodes them with DecodeSocketNotify; the loop itself is
// only that window, the count of its starts and the lock that keeps a send from a close.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h: the keep-alive values.
#include <mstcpip.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "net/socket_api.h"
#include "net/socket_records.h"

static_assert(kSocketRead == FD_READ && kSocketWrite == FD_WRITE && kSocketAccept == FD_ACCEPT &&
                  kSocketConnect == FD_CONNECT && kSocketClose == FD_CLOSE,
              "event bits are Winsock's");
static_assert(kNoSocket == INVALID_SOCKET && kSocketError == SOCKET_ERROR,
              "handles and results are Winsock's");
static_assert(kSocketErrorInterrupted == WSAEINTR && kSocketErrorAccess == WSAEACCES &&
                  kSocketErrorFault == WSAEFAULT && kSocketErrorInvalid == WSAEINVAL &&
                  kSocketErrorTooManyOpen == WSAEMFILE &&
                  kSocketErrorWouldBlock == WSAEWOULDBLOCK &&
                  kSocketErrorInProgress == WSAEINPROGRESS && kSocketErrorAlready == WSAEALREADY &&
                  kSocketErrorNotSocket == WSAENOTSOCK && kSocketErrorMessageSize == WSAEMSGSIZE &&
                  kSocketErrorNotSupported == WSAEOPNOTSUPP &&
                  kSocketErrorFamilyNotSupported == WSAEAFNOSUPPORT &&
                  kSocketErrorAddressInUse == WSAEADDRINUSE &&
                  kSocketErrorAddressNotAvailable == WSAEADDRNOTAVAIL &&
                  kSocketErrorNetworkDown == WSAENETDOWN &&
                  kSocketErrorNetworkUnreachable == WSAENETUNREACH &&
                  kSocketErrorConnectionAborted == WSAECONNABORTED &&
                  kSocketErrorConnectionReset == WSAECONNRESET &&
                  kSocketErrorNoBuffers == WSAENOBUFS && kSocketErrorIsConnected == WSAEISCONN &&
                  kSocketErrorNotConnected == WSAENOTCONN && kSocketErrorTimedOut == WSAETIMEDOUT &&
                  kSocketErrorRefused == WSAECONNREFUSED &&
                  kSocketErrorHostUnreachable == WSAEHOSTUNREACH &&
                  kSocketErrorNotStarted == WSANOTINITIALISED &&
                  kSocketErrorHostNotFound == WSAHOST_NOT_FOUND &&
                  kSocketErrorTryAgain == WSATRY_AGAIN &&
                  kSocketErrorNoRecovery == WSANO_RECOVERY && kSocketErrorNoData == WSANO_DATA,
              "the error table is Winsock's");

namespace {

using socket_records::AddressesOf;
using socket_records::FromSocketAddress;
using socket_records::SocketAddressOf;

// Every packet leaves at once. Under Nagle's rule a packet that follows another before its
// acknowledgement waits for it, and the far side delays that acknowledgement: a RemoteSide's
// echo, sent right after the keyer's status, reached the ControlPoint some 40 ms late.
void SendPacketsAtOnce(SOCKET socket) {
    if (socket != INVALID_SOCKET) {
        const BOOL on = TRUE;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    }
}

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// SIO_UDP_CONNRESET, which not every set of headers has.
constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

int Fail(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

}  // namespace

struct SocketLoop::State {
    HWND window = nullptr;
    // Serialises SendSome with Close, so a sender never writes to a handle that was closed
    // and handed out again in the middle of its send. It also guards the count of starts,
    // since the library's stop is a close of every socket at once.
    std::mutex send_mutex;
    // So that a stop without a start of this loop's cannot unbalance Winsock's own count.
    int starts = 0;
};

std::optional<NetAddress> ParseRecordIpv4(const std::string& text) {
    const uint32_t address = inet_addr(text.c_str());
    if (address == INADDR_NONE) {
        return std::nullopt;
    }
    return NetAddress::Ipv4(ntohl(address));
}

SocketLoop::SocketLoop(void* window) : state_(std::make_unique<State>()) {
    state_->window = static_cast<HWND>(window);
}

SocketLoop::~SocketLoop() {
    while (Starts() > 0) {
        Stop();
    }
}

int SocketLastError() {
    return WSAGetLastError();
}

int SocketLoop::Start() {
    std::lock_guard<std::mutex> lock(state_->send_mutex);
    WSADATA data;
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result == 0) {
        ++state_->starts;
    }
    return result;
}

int SocketLoop::Stop() {
    std::lock_guard<std::mutex> lock(state_->send_mutex);
    if (state_->starts == 0) {
        return Fail(kSocketErrorNotStarted);
    }
    --state_->starts;
    return WSACleanup();
}

int SocketLoop::Starts() const {
    std::lock_guard<std::mutex> lock(state_->send_mutex);
    return state_->starts;
}

int SocketLoop::LocalHostName(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return Fail(kSocketErrorFault);
    }
    const int result = gethostname(buffer, static_cast<int>(size));
    if (result == 0) {
        buffer[size - 1] = '\0';
    }
    return result;
}

// getaddrinfo and getnameinfo give Winsock's own error numbers, which the callers read.
bool SocketLoop::LookupHostByName(const std::string& name, HostEntry* entry) {
    if (entry == nullptr) {
        Fail(kSocketErrorFault);
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
        Fail(result);
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
    sockaddr_storage record;
    const int length = SocketAddressOf(address, 0, &record);
    char name[NI_MAXHOST];
    const int result = getnameinfo(reinterpret_cast<const sockaddr*>(&record), length, name,
                                   sizeof name, nullptr, 0, NI_NAMEREQD);
    if (result != 0) {
        Fail(result);
        return false;
    }
    entry->official_name = name;
    entry->addresses.assign(1, address);
    return true;
}

SocketHandle SocketLoop::OpenStream(NetAddress::Family family) {
    const int domain = family == NetAddress::Family::kIpv6 ? AF_INET6 : AF_INET;
    const SOCKET opened = socket(domain, SOCK_STREAM, IPPROTO_TCP);
    SendPacketsAtOnce(opened);
    return static_cast<SocketHandle>(opened);
}

SocketHandle SocketLoop::OpenDatagram(NetAddress::Family family) {
    const int domain = family == NetAddress::Family::kIpv6 ? AF_INET6 : AF_INET;
    const SOCKET opened = socket(domain, SOCK_DGRAM, IPPROTO_UDP);
    if (opened != INVALID_SOCKET) {
        // Otherwise a reply to a peer that has gone makes the socket's next receive fail
        // with a reset, as if the datagram socket had a connection to lose.
        BOOL report_resets = FALSE;
        DWORD returned = 0;
        WSAIoctl(opened, kUdpConnReset, &report_resets, sizeof report_resets, nullptr, 0, &returned,
                 nullptr, nullptr);
    }
    return static_cast<SocketHandle>(opened);
}

int SocketLoop::Bind(SocketHandle socket, const NetAddress& address, uint16_t port) {
    const BOOL on = TRUE;
    const DWORD off = 0;
    if (setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
        (address.IsIpv6() && setsockopt(Native(socket), IPPROTO_IPV6, IPV6_V6ONLY,
                                        reinterpret_cast<const char*>(&off), sizeof off) != 0)) {
        return kSocketError;
    }
    sockaddr_storage record;
    const int length = SocketAddressOf(address, port, &record);
    return bind(Native(socket), reinterpret_cast<const sockaddr*>(&record), length);
}

int SocketLoop::Listen(SocketHandle socket, int backlog) {
    return listen(Native(socket), backlog);
}

int SocketLoop::LocalPort(SocketHandle socket) {
    sockaddr_storage record{};
    int length = sizeof record;
    NetAddress address;
    uint16_t port = 0;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&record), &length) != 0 ||
        !FromSocketAddress(record, &address, &port)) {
        return -1;
    }
    return port;
}

bool SocketLoop::PeerAddress(SocketHandle socket, NetAddress* address) {
    sockaddr_storage record{};
    int length = sizeof record;
    uint16_t port = 0;
    return getpeername(Native(socket), reinterpret_cast<sockaddr*>(&record), &length) == 0 &&
           FromSocketAddress(record, address, &port);
}

int SocketLoop::Select(SocketHandle socket, uint16_t events) {
    return WSAAsyncSelect(Native(socket), state_->window, kSocketNotifyMessage, events);
}

int SocketLoop::Connect(SocketHandle socket, const NetAddress& address, uint16_t port) {
    sockaddr_storage record;
    const int length = SocketAddressOf(address, port, &record);
    return connect(Native(socket), reinterpret_cast<const sockaddr*>(&record), length);
}

SocketHandle SocketLoop::Accept(SocketHandle listener) {
    const SOCKET accepted = accept(Native(listener), nullptr, nullptr);
    SendPacketsAtOnce(accepted);
    return static_cast<SocketHandle>(accepted);
}

int SocketLoop::Receive(SocketHandle socket, uint8_t* buffer, int size) {
    if (size < 0 || (buffer == nullptr && size > 0)) {
        return Fail(kSocketErrorFault);
    }
    return recv(Native(socket), reinterpret_cast<char*>(buffer), size, 0);
}

int SocketLoop::ReceiveFrom(SocketHandle socket, uint8_t* buffer, int size, NetAddress* from,
                            uint16_t* from_port) {
    if (size < 0 || (buffer == nullptr && size > 0) || from == nullptr || from_port == nullptr) {
        return Fail(kSocketErrorFault);
    }
    sockaddr_storage record{};
    int length = sizeof record;
    const int count = recvfrom(Native(socket), reinterpret_cast<char*>(buffer), size, 0,
                               reinterpret_cast<sockaddr*>(&record), &length);
    if (count == SOCKET_ERROR) {
        return kSocketError;
    }
    return FromSocketAddress(record, from, from_port) ? count
                                                      : Fail(kSocketErrorFamilyNotSupported);
}

int SocketLoop::SendTo(SocketHandle socket, const uint8_t* bytes, std::size_t count,
                       const NetAddress& address, uint16_t port) {
    if (bytes == nullptr && count > 0) {
        return Fail(kSocketErrorFault);
    }
    sockaddr_storage record;
    const int length = SocketAddressOf(address, port, &record);
    std::lock_guard<std::mutex> send_lock(state_->send_mutex);
    return sendto(Native(socket), reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0,
                  reinterpret_cast<const sockaddr*>(&record), length);
}

int SocketLoop::SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr && count > 0) {
        return Fail(kSocketErrorFault);
    }
    std::lock_guard<std::mutex> send_lock(state_->send_mutex);
    const int result =
        send(Native(socket), reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0);
    if (result != SOCKET_ERROR) {
        return result;
    }
    return WSAGetLastError() == kSocketErrorWouldBlock ? 0 : kSocketError;
}

int SocketLoop::SetKeepAlive(SocketHandle socket, int idle_ms, int interval_ms) {
    tcp_keepalive values;
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(idle_ms);
    values.keepaliveinterval = static_cast<ULONG>(interval_ms);
    DWORD returned = 0;
    return WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0,
                    &returned, nullptr, nullptr);
}

int SocketLoop::SetSendBuffer(SocketHandle socket, int bytes) {
    return setsockopt(Native(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes);
}

int SocketLoop::Close(SocketHandle socket) {
    std::lock_guard<std::mutex> send_lock(state_->send_mutex);
    return closesocket(Native(socket));
}

int SocketLoop::Reset(SocketHandle socket) {
    // Should the option be refused, the orderly close still ends the connection.
    const linger at_once{1, 0};
    setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&at_once),
               sizeof at_once);
    return Close(socket);
}
