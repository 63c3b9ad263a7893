// The socket seam on Winsock. Events are Winsock's own: WSAAsyncSelect posts them to the
// loop's window, whose procedure decodes them with DecodeSocketNotify; the loop itself is
// only that window, the count of its starts and the lock that keeps a send from a close.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h: the keep-alive values.
#include <mstcpip.h>

#include <cstring>
#include <mutex>

#include "net/socket_api.h"

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
static_assert(kAddressNone == INADDR_NONE, "inet_addr's failure value");

namespace {

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

sockaddr_in Ipv4Address(uint32_t address, uint16_t port) {
    sockaddr_in record;
    std::memset(&record, 0, sizeof record);
    record.sin_family = AF_INET;
    record.sin_port = htons(port);
    record.sin_addr.s_addr = address;
    return record;
}

void FillEntry(const hostent* found, HostEntry* entry) {
    entry->official_name = found->h_name != nullptr ? found->h_name : "";
    entry->addresses.clear();
    if (found->h_addrtype != AF_INET || found->h_length != 4) {
        return;
    }
    for (char** at = found->h_addr_list; at != nullptr && *at != nullptr; ++at) {
        uint32_t address;
        std::memcpy(&address, *at, sizeof address);
        entry->addresses.push_back(address);
    }
}

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

uint32_t ParseDottedAddress(const std::string& text) {
    return inet_addr(text.c_str());
}

std::string FormatDottedAddress(uint32_t address) {
    in_addr record;
    record.s_addr = address;
    const char* text = inet_ntoa(record);
    return text != nullptr ? text : "";
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

bool SocketLoop::LookupHostByName(const std::string& name, HostEntry* entry) {
    if (entry == nullptr) {
        Fail(kSocketErrorFault);
        return false;
    }
    const hostent* found = gethostbyname(name.c_str());
    if (found == nullptr) {
        return false;
    }
    FillEntry(found, entry);
    if (entry->addresses.empty()) {
        Fail(kSocketErrorNoData);
        return false;
    }
    return true;
}

bool SocketLoop::LookupHostByAddress(uint32_t address, HostEntry* entry) {
    if (entry == nullptr) {
        Fail(kSocketErrorFault);
        return false;
    }
    const hostent* found =
        gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
    if (found == nullptr) {
        return false;
    }
    FillEntry(found, entry);
    if (entry->addresses.empty()) {
        Fail(kSocketErrorNoData);
        return false;
    }
    return true;
}

SocketHandle SocketLoop::OpenStream() {
    const SOCKET opened = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SendPacketsAtOnce(opened);
    return static_cast<SocketHandle>(opened);
}

int SocketLoop::Bind(SocketHandle socket, uint32_t address, uint16_t port) {
    const BOOL on = TRUE;
    if (setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        return kSocketError;
    }
    const sockaddr_in record = Ipv4Address(address, port);
    return bind(Native(socket), reinterpret_cast<const sockaddr*>(&record), sizeof record);
}

int SocketLoop::Listen(SocketHandle socket, int backlog) {
    return listen(Native(socket), backlog);
}

int SocketLoop::LocalPort(SocketHandle socket) {
    sockaddr_in record;
    int length = sizeof record;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&record), &length) != 0) {
        return -1;
    }
    return ntohs(record.sin_port);
}

bool SocketLoop::PeerAddress(SocketHandle socket, uint32_t* ipv4_host_order) {
    sockaddr_in record{};
    int length = sizeof record;
    if (getpeername(Native(socket), reinterpret_cast<sockaddr*>(&record), &length) != 0 ||
        record.sin_family != AF_INET) {
        return false;
    }
    *ipv4_host_order = ntohl(record.sin_addr.s_addr);
    return true;
}

int SocketLoop::Select(SocketHandle socket, uint16_t events) {
    return WSAAsyncSelect(Native(socket), state_->window, kSocketNotifyMessage, events);
}

int SocketLoop::Connect(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in record = Ipv4Address(address, port);
    return connect(Native(socket), reinterpret_cast<const sockaddr*>(&record), sizeof record);
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
