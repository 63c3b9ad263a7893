// The socket seam on Winsock. Events are Winsock's own: WSAAsyncSelect posts them to the
// Main window, whose procedure decodes them with DecodeSocketNotify.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h: the keep-alive values.
#include <mstcpip.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "net/socket_api.h"

static_assert(kSocketRead == FD_READ && kSocketWrite == FD_WRITE && kSocketAccept == FD_ACCEPT &&
                  kSocketConnect == FD_CONNECT && kSocketClose == FD_CLOSE,
              "event bits are Winsock's");
static_assert(kNoSocket == INVALID_SOCKET && kSocketError == SOCKET_ERROR,
              "handles and results are Winsock's");
static_assert(kSocketErrorWouldBlock == WSAEWOULDBLOCK && kSocketErrorNotSocket == WSAENOTSOCK &&
                  kSocketErrorInvalid == WSAEINVAL && kSocketErrorAddressInUse == WSAEADDRINUSE &&
                  kSocketErrorConnectionReset == WSAECONNRESET &&
                  kSocketErrorTimedOut == WSAETIMEDOUT && kSocketErrorRefused == WSAECONNREFUSED &&
                  kSocketErrorNotStarted == WSANOTINITIALISED &&
                  kSocketErrorHostNotFound == WSAHOST_NOT_FOUND &&
                  kSocketErrorTryAgain == WSATRY_AGAIN &&
                  kSocketErrorNoRecovery == WSANO_RECOVERY && kSocketErrorNoData == WSANO_DATA,
              "error numbers are Winsock's");
static_assert(kAddressNone == INADDR_NONE, "inet_addr's failure value");

namespace {

// Serialises SendWhole, and is taken by closing too, so a sender never writes to a handle
// that was closed and handed out again in the middle of its send. It also guards the count
// of starts, since the library's stop is a close of every socket at once.
std::mutex send_mutex;

// Counts the starts so that a stop without a start cannot unbalance Winsock's own count.
int library_starts = 0;

constexpr auto kSendPatience = std::chrono::milliseconds(2000);
constexpr long kWaitSliceMs = 50;

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

}  // namespace

int StartSockets() {
    std::lock_guard<std::mutex> lock(send_mutex);
    WSADATA data;
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result == 0) {
        ++library_starts;
    }
    return result;
}

int StopSockets() {
    std::lock_guard<std::mutex> lock(send_mutex);
    if (library_starts == 0) {
        WSASetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    --library_starts;
    return WSACleanup();
}

int SocketLibraryStarts() {
    std::lock_guard<std::mutex> lock(send_mutex);
    return library_starts;
}

int SocketLastError() {
    return WSAGetLastError();
}

int LocalHostName(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    const int result = gethostname(buffer, static_cast<int>(size));
    if (result == 0) {
        buffer[size - 1] = '\0';
    }
    return result;
}

bool LookupHostByName(const std::string& name, HostEntry* entry) {
    if (entry == nullptr) {
        WSASetLastError(WSAEFAULT);
        return false;
    }
    const hostent* found = gethostbyname(name.c_str());
    if (found == nullptr) {
        return false;
    }
    FillEntry(found, entry);
    if (entry->addresses.empty()) {
        WSASetLastError(WSANO_DATA);
        return false;
    }
    return true;
}

bool LookupHostByAddress(uint32_t address, HostEntry* entry) {
    if (entry == nullptr) {
        WSASetLastError(WSAEFAULT);
        return false;
    }
    const hostent* found =
        gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
    if (found == nullptr) {
        return false;
    }
    FillEntry(found, entry);
    if (entry->addresses.empty()) {
        WSASetLastError(WSANO_DATA);
        return false;
    }
    return true;
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

SocketHandle OpenStreamSocket() {
    const SOCKET opened = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SendPacketsAtOnce(opened);
    return static_cast<SocketHandle>(opened);
}

int BindSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in record = Ipv4Address(address, port);
    return bind(Native(socket), reinterpret_cast<const sockaddr*>(&record), sizeof record);
}

int ListenSocket(SocketHandle socket, int backlog) {
    return listen(Native(socket), backlog);
}

int SocketLocalPort(SocketHandle socket) {
    sockaddr_in record;
    int length = sizeof record;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&record), &length) != 0) {
        return -1;
    }
    return ntohs(record.sin_port);
}

bool SocketPeerAddress(SocketHandle socket, uint32_t* ipv4_host_order) {
    sockaddr_in record{};
    int length = sizeof record;
    if (getpeername(Native(socket), reinterpret_cast<sockaddr*>(&record), &length) != 0 ||
        record.sin_family != AF_INET) {
        return false;
    }
    *ipv4_host_order = ntohl(record.sin_addr.s_addr);
    return true;
}

int SelectSocketEvents(SocketHandle socket, SocketNotifyTarget window, uint32_t message,
                       uint16_t events) {
    return WSAAsyncSelect(Native(socket), static_cast<HWND>(window), message, events);
}

int ConnectSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in record = Ipv4Address(address, port);
    return connect(Native(socket), reinterpret_cast<const sockaddr*>(&record), sizeof record);
}

SocketHandle AcceptSocket(SocketHandle listener) {
    const SOCKET accepted = accept(Native(listener), nullptr, nullptr);
    SendPacketsAtOnce(accepted);
    return static_cast<SocketHandle>(accepted);
}

int ReceiveSocket(SocketHandle socket, uint8_t* buffer, int size) {
    if (size < 0 || (buffer == nullptr && size > 0)) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    return recv(Native(socket), reinterpret_cast<char*>(buffer), size, 0);
}

int SendWhole(SocketHandle socket, const uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr && count > 0) {
        WSASetLastError(WSAEFAULT);
        return 0;
    }
    std::lock_guard<std::mutex> send_lock(send_mutex);
    const auto deadline = std::chrono::steady_clock::now() + kSendPatience;
    std::size_t sent = 0;
    while (sent < count) {
        const int result = send(Native(socket), reinterpret_cast<const char*>(bytes + sent),
                                static_cast<int>(count - sent), 0);
        if (result > 0) {
            sent += static_cast<std::size_t>(result);
            continue;
        }
        // Past the first byte the stream's framing hangs on the rest: the caller must know.
        if (result == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            return sent == 0 ? 0 : kSendCutShort;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            WSASetLastError(sent == 0 ? WSAEWOULDBLOCK : WSAETIMEDOUT);
            return sent == 0 ? 0 : kSendCutShort;
        }
        // The would-block also re-enables the write event for whoever selected it; the
        // wait here does not depend on that, so senders on any thread complete alike.
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(Native(socket), &writable);
        timeval wait{0, static_cast<long>((left < kWaitSliceMs ? left : kWaitSliceMs) * 1000)};
        select(0, nullptr, &writable, nullptr, &wait);
    }
    return 1;
}

int SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> send_lock(send_mutex);
    const int result =
        send(Native(socket), reinterpret_cast<const char*>(bytes), static_cast<int>(count), 0);
    if (result != SOCKET_ERROR) {
        return result;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : kSocketError;
}

int SetSocketKeepAlive(SocketHandle socket, int idle_ms, int interval_ms) {
    tcp_keepalive values;
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(idle_ms);
    values.keepaliveinterval = static_cast<ULONG>(interval_ms);
    DWORD returned = 0;
    return WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0,
                    &returned, nullptr, nullptr);
}

int SetSocketSendBuffer(SocketHandle socket, int bytes) {
    return setsockopt(Native(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes);
}

int CloseSocket(SocketHandle socket) {
    std::lock_guard<std::mutex> send_lock(send_mutex);
    return closesocket(Native(socket));
}
