// The socket seam. The connection sequence, the notification handler and the packet sender
// are written once against these calls; Windows implements them with Winsock, whose events
// arrive as a window message on the Main window, and the host build with BSD sockets and a
// poll loop that raises the same events with the same rules.
//
// Results follow Winsock: operations return 0 (or a handle) on success and kSocketError
// (or kNoSocket) on failure, and SocketLastError() then gives the Winsock error number,
// also on the host build, so the texts that show an error code read the same on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Where a selected socket's events are delivered: the Main window on Windows; on the host
// build each event names it, so that one loop can serve several stations. Opaque here, so
// the core needs no window system.
using SocketNotifyTarget = void*;

// Wide enough for a Winsock SOCKET; on the host build it holds a file descriptor.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kNoSocket = ~static_cast<SocketHandle>(0);
constexpr int kSocketError = -1;

// Event bits, equal to Winsock's FD_* values (the Windows build checks this at compile
// time) so that a notification's event word needs no translation.
constexpr uint16_t kSocketRead = 0x01;
constexpr uint16_t kSocketWrite = 0x02;
constexpr uint16_t kSocketAccept = 0x08;
constexpr uint16_t kSocketConnect = 0x10;
constexpr uint16_t kSocketClose = 0x20;

// What each role selects. A socket accepted from the listener inherits the listener's set.
constexpr uint16_t kListenerEvents = kSocketRead | kSocketAccept | kSocketClose;    // 0x29
constexpr uint16_t kConnectorEvents = kSocketRead | kSocketConnect | kSocketClose;  // 0x31

// The window message that carries the events on Windows (WM_USER + 1).
constexpr uint32_t kSocketNotifyMessage = 0x0401;

// Winsock error numbers the portable code tells apart.
constexpr int kSocketErrorWouldBlock = 10035;
constexpr int kSocketErrorNotSocket = 10038;
constexpr int kSocketErrorInvalid = 10022;
constexpr int kSocketErrorAddressInUse = 10048;
constexpr int kSocketErrorConnectionReset = 10054;
constexpr int kSocketErrorTimedOut = 10060;
constexpr int kSocketErrorRefused = 10061;
constexpr int kSocketErrorNotStarted = 10093;
constexpr int kSocketErrorHostNotFound = 11001;
constexpr int kSocketErrorTryAgain = 11002;
constexpr int kSocketErrorNoRecovery = 11003;
constexpr int kSocketErrorNoData = 11004;

// An event as the notification message carries it: the socket, one event bit, and the
// error of that event (0 when it succeeded), as wParam and the two halves of lParam.
struct SocketEvent {
    SocketHandle socket;
    uint16_t event;
    uint16_t error;
    // Host build: the target its socket was selected for (an accepted socket inherits the
    // listener's). On Windows the message reached that window already.
    SocketNotifyTarget target = nullptr;
};

inline SocketEvent DecodeSocketNotify(std::uintptr_t wparam, std::intptr_t lparam) {
    const auto bits = static_cast<std::uintptr_t>(lparam);
    return SocketEvent{static_cast<SocketHandle>(wparam), static_cast<uint16_t>(bits & 0xFFFF),
                       static_cast<uint16_t>((bits >> 16) & 0xFFFF)};
}

// The socket library. Every StartSockets that returns 0 must be matched by exactly one
// StopSockets; a StopSockets without a start to match returns kSocketError and does
// nothing, so a cleanup path that runs twice cannot shut down a library someone else
// started. The last stop closes every socket still open, as Winsock's cleanup does.
int StartSockets();  // 0, or the start-up error number
int StopSockets();
int SocketLibraryStarts();  // starts not yet matched by a stop
int SocketLastError();      // of the calling thread's last failed call

// Name look-ups. Addresses are IPv4 in network byte order, as they go on the wire.
constexpr uint32_t kAddressNone = 0xFFFFFFFF;
struct HostEntry {
    std::string official_name;
    std::vector<uint32_t> addresses;
};
// The machine's own host name; 0, or the call's nonzero result.
int LocalHostName(char* buffer, std::size_t size);
// True with the entry filled; false with SocketLastError() kSocketErrorHostNotFound,
// kSocketErrorNoData, kSocketErrorTryAgain or kSocketErrorNoRecovery.
bool LookupHostByName(const std::string& name, HostEntry* entry);
// Reverse look-up of a dotted address: the entry's address list is what the caller uses.
bool LookupHostByAddress(uint32_t address, HostEntry* entry);
// Dotted text to an address; kAddressNone when the text is not one (so "255.255.255.255"
// cannot be told from a bad text, and callers reject both).
uint32_t ParseDottedAddress(const std::string& text);
std::string FormatDottedAddress(uint32_t address);

// A TCP stream socket over IPv4, or kNoSocket.
SocketHandle OpenStreamSocket();
// `address` in network byte order, `port` as a number (put in network order here).
int BindSocket(SocketHandle socket, uint32_t address, uint16_t port);
int ListenSocket(SocketHandle socket, int backlog);
// The port a socket is bound to, or -1; lets a listener bound to port 0 tell its peer.
int SocketLocalPort(SocketHandle socket);
// The IPv4 address of a connected socket's other end, in host order; false when it has none.
bool SocketPeerAddress(SocketHandle socket, uint32_t* ipv4_host_order);
// Asks for `events` on `socket` and makes it non-blocking. On Windows they are posted to
// `window` as `message`; the host build queues them, naming `window`, for WaitSocketEvent.
int SelectSocketEvents(SocketHandle socket, SocketNotifyTarget window, uint32_t message,
                       uint16_t events);
// On a selected socket: kSocketError with kSocketErrorWouldBlock while the connect is
// under way, and kSocketConnect reports its outcome (also after an immediate success).
int ConnectSocket(SocketHandle socket, uint32_t address, uint16_t port);
SocketHandle AcceptSocket(SocketHandle listener);
// Bytes read (at most `size`), 0 when the peer has closed, or kSocketError.
int ReceiveSocket(SocketHandle socket, uint8_t* buffer, int size);
// Puts all `count` bytes into the stream or, as far as it can tell, none: senders on any
// thread are serialised by one lock, and a send that the stack takes only in part is
// completed before the lock is let go, so two callers' packets never interleave. Waits for
// room for at most about two seconds in all. 1 when every byte went, 0 when none did, and
// kSendCutShort when the stream took a part and then no more: its framing is lost.
constexpr int kSendCutShort = -1;
int SendWhole(SocketHandle socket, const uint8_t* bytes, std::size_t count);
// Puts into the stream what it takes now of `count` bytes, never waiting: the number taken
// (0 when it has no room), or kSocketError when the stream is broken. Serialised with
// SendWhole and CloseSocket as they are with each other.
int SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t count);
// TCP keep-alive on a connected socket: probes after `idle_ms` without traffic, then every
// `interval_ms`, so a peer whose machine or line has gone is noticed by the stack too.
int SetSocketKeepAlive(SocketHandle socket, int idle_ms, int interval_ms);
// The most the stack holds of what was sent and not yet taken by the peer; the stack's own
// size grows to megabytes by itself.
int SetSocketSendBuffer(SocketHandle socket, int bytes);
// Waits for a send in progress to finish first (at most the send's patience), so that no
// sender writes to the handle after it is released and perhaps given out again.
int CloseSocket(SocketHandle socket);

#ifndef _WIN32
// Host build: the caller's thread plays the Main window's message loop. Returns the next
// event of a selected socket, waiting up to `timeout_ms`; false when none came. Events are
// raised on the thread that asks for them, never on a thread of their own, so the handler
// that closes a socket never races a poller still looking at it, as on Windows, where the
// one window thread both receives the notifications and closes the sockets.
//
// Like Winsock, an event is raised once and then not again until the call that re-enables
// it: kSocketRead after ReceiveSocket (so while unread bytes remain and the handler keeps
// reading, a further read event follows each read), kSocketAccept after AcceptSocket,
// kSocketWrite after a send that found no room. kSocketClose comes once the peer has closed
// and the bytes before its close have been read; kSocketConnect comes once per connect.
bool WaitSocketEvent(int timeout_ms, SocketEvent* event);
// Host build: makes the WaitSocketEvent in progress on another thread return false at once,
// or the next one when none is waiting; what a signal handler's thread or a stop uses to end
// a loop that would otherwise sleep until its time-out.
void WakeSocketWait();
#endif
