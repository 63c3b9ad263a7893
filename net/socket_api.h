// The socket seam. The connection sequence, the notification handler and the link's sends
// are written once against these calls; Windows implements them with Winsock, whose events
// arrive as a window message on the Main window, and the host build with BSD sockets and a
// poll loop that raises the same events with the same rules.
//
// Results follow Winsock: operations return 0 (or a handle) on success and kSocketError
// (or kNoSocket) on failure, and SocketLastError() then gives the Winsock error number
// (net/socket_errors.h), also on the host build, so the texts that show an error code read
// the same on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/net_address.h"
#include "net/socket_errors.h"

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

// An event as the notification message carries it: the socket, one event bit, and the
// error of that event (0 when it succeeded), as wParam and the two halves of lParam.
struct SocketEvent {
    SocketHandle socket;
    uint16_t event;
    uint16_t error;
};

inline SocketEvent DecodeSocketNotify(std::uintptr_t wparam, std::intptr_t lparam) {
    const auto bits = static_cast<std::uintptr_t>(lparam);
    return SocketEvent{static_cast<SocketHandle>(wparam), static_cast<uint16_t>(bits & 0xFFFF),
                       static_cast<uint16_t>((bits >> 16) & 0xFFFF)};
}

// Of the calling thread's last failed call, as Winsock keeps it.
int SocketLastError();

// An IPv4 address in the reading the settings record has always had (the system's own: short
// forms such as `10.1`, octal and hexadecimal parts); nothing for text that is not one, and
// for "255.255.255.255", which that reading cannot tell from a bad text. The allow list reads
// strictly (net/net_address.h); the record keeps what stored files rely on.
std::optional<NetAddress> ParseRecordIpv4(const std::string& text);

// A look-up's answer: the addresses of both families, each once, in the resolver's order of
// preference.
struct HostEntry {
    std::string official_name;
    std::vector<NetAddress> addresses;
};

// A loop that sockets are made on and whose events it raises: what one Main window is to
// its sockets. Its owner (the Main window, the site's loop, a test or a tool) keeps it for
// as long as the stations it gives it to, and runs their events on one thread.
//
// On Windows the window's own messages are the loop: each socket selected on it posts its
// events to the window as kSocketNotifyMessage, and the window procedure decodes them with
// DecodeSocketNotify. The host build plays that message loop: Wait, on the owner's thread,
// returns the next event of a socket made on this loop. Events are raised on the thread that
// asks for them, never on a thread of their own, so the handler that closes a socket never
// races a poller still looking at it, as on Windows, where the one window thread both
// receives the notifications and closes the sockets. On the host build a socket is known
// only to the loop it was made on: any other handle is refused (kSocketErrorNotSocket)
// instead of reaching, say, the keyer's serial line after its number was reused.
//
// Like Winsock, an event is raised once and then not again until the call that re-enables
// it: kSocketRead after Receive (so while unread bytes remain and the handler keeps
// reading, a further read event follows each read), kSocketAccept after Accept,
// kSocketWrite after a send that found no room. kSocketClose comes once the peer has closed
// and the bytes before its close have been read; kSocketConnect comes once per connect.
//
// Every call may be made from any thread; SendSome and Close are serialised, so no send
// writes to a handle that a close has released and perhaps given out again.
class SocketLoop {
  public:
#ifdef _WIN32
    // Its events are posted to `window`, an HWND.
    explicit SocketLoop(void* window);
#else
    SocketLoop();
#endif
    // Closes what is still open on it, and stops the starts not yet stopped.
    ~SocketLoop();
    SocketLoop(const SocketLoop&) = delete;
    SocketLoop& operator=(const SocketLoop&) = delete;

    // The socket library. Every Start that returns 0 must be matched by exactly one Stop;
    // a Stop without a start to match returns kSocketError and does nothing, so a cleanup
    // path that runs twice cannot shut down a library someone else started. The last stop
    // closes every socket still open on the loop, as Winsock's cleanup does.
    int Start();  // 0, or the start-up error number
    int Stop();
    int Starts() const;  // starts not yet matched by a stop

    // The machine's own host name; 0, or the call's nonzero result.
    int LocalHostName(char* buffer, std::size_t size);
    // True with the entry filled; false with SocketLastError() kSocketErrorHostNotFound,
    // kSocketErrorNoData, kSocketErrorTryAgain or kSocketErrorNoRecovery.
    bool LookupHostByName(const std::string& name, HostEntry* entry);
    // Reverse look-up of an address: the entry's address list is that address.
    bool LookupHostByAddress(const NetAddress& address, HostEntry* entry);

    // A TCP stream socket of `family`, or kNoSocket.
    SocketHandle OpenStream(NetAddress::Family family);
    // A UDP socket of `family`, or kNoSocket. Once bound and selected for kSocketRead, it
    // raises that event while a datagram waits, and ReceiveFrom enables it again. Its port,
    // unlike a listener's, is never shared with another socket.
    SocketHandle OpenDatagram(NetAddress::Family family);
    // A listener's address. The port is taken back at once from connections of an earlier
    // run that still wait out their close, so a site restarted while linked listens again
    // within a second; on Windows the port is also taken for this socket alone, so no other
    // program can bind it beside the listener. An IPv6 socket takes IPv4 too where its
    // address allows it: bound to `::`, it listens on both families at once, and an IPv4
    // peer comes in as a mapped address, which PeerAddress gives as plain IPv4.
    int Bind(SocketHandle socket, const NetAddress& address, uint16_t port);
    int Listen(SocketHandle socket, int backlog);
    // The port a socket is bound to, or -1; lets a listener bound to port 0 tell its peer.
    int LocalPort(SocketHandle socket);
    // The address of a connected socket's other end; false when it has none.
    bool PeerAddress(SocketHandle socket, NetAddress* address);
    // Asks for `events` on `socket` and makes it non-blocking.
    int Select(SocketHandle socket, uint16_t events);
    // On a selected socket: kSocketError with kSocketErrorWouldBlock while the connect is
    // under way, and kSocketConnect reports its outcome (also after an immediate success).
    int Connect(SocketHandle socket, const NetAddress& address, uint16_t port);
    SocketHandle Accept(SocketHandle listener);
    // Bytes read (at most `size`), 0 when the peer has closed, or kSocketError.
    int Receive(SocketHandle socket, uint8_t* buffer, int size);
    // One datagram, with the address and port it came from: the bytes read, or kSocketError.
    // One longer than `size` is taken and dropped whole, with kSocketErrorMessageSize.
    int ReceiveFrom(SocketHandle socket, uint8_t* buffer, int size, NetAddress* from,
                    uint16_t* from_port);
    // One datagram to `address` and `port`, never waiting: the bytes sent, or kSocketError.
    int SendTo(SocketHandle socket, const uint8_t* bytes, std::size_t count,
               const NetAddress& address, uint16_t port);
    // Puts into the stream what it takes now of `count` bytes, never waiting: the number
    // taken (0 when it has no room), or kSocketError when the stream is broken.
    int SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t count);
    // TCP keep-alive on a connected socket: probes after `idle_ms` without traffic, then
    // every `interval_ms`, so a peer whose machine or line has gone is noticed by the stack
    // too.
    int SetKeepAlive(SocketHandle socket, int idle_ms, int interval_ms);
    // The most the stack holds of what was sent and not yet taken by the peer; the stack's
    // own size grows to megabytes by itself.
    int SetSendBuffer(SocketHandle socket, int bytes);
    int Close(SocketHandle socket);
    // Closes with a reset rather than the orderly close: for a connection that is turned
    // away, so that it leaves nothing behind that waits out a close.
    int Reset(SocketHandle socket);

#ifndef _WIN32
    // The next event of a socket selected on this loop, waiting up to `timeout_ms`; false
    // when none came. The wait sleeps until its time-out unless another thread changes what
    // it watches, so an idle loop wakes only for its owner's timers.
    bool Wait(int timeout_ms, SocketEvent* event);
    // Makes the Wait in progress on another thread return false at once, or the next one
    // when none is waiting; what a signal handler's thread or a stop uses to end a loop that
    // would otherwise sleep until its time-out.
    void Wake();
#endif

  private:
    // What the loop keeps, which is the platform's affair.
    struct State;
    std::unique_ptr<State> state_;
};
