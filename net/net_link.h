// The link to the other station: its flags, its two sockets and the socket library start it
// holds, the watch that tells a dead link, and the packets it sends.
//
// Threads. The window's thread runs the link's events (the connection sequence, accept,
// connect, read, close), its two timers and the watch. The keyer reader and the message
// sender send packets (SendPacket, SendTextPackets) from their own threads. So what a sender
// reads is atomic: the flags, the two handles (a send racing a close simply fails), and the
// record of a send cut short, which any sender writes and the window's thread reads. The
// watch's clock is the window's thread's alone.
//
// No sender waits for the network. What the stream does not take at once waits, in order, in
// the link's outbound buffer (one lock, held only for a send that never blocks), and goes on
// at the next send or the link timer's next tick; the timer runs quick while bytes wait. A
// packet that finds the buffer full is lost, as on a line that drops it; a buffer that has
// moved nothing on for the silence period means a peer that no longer reads, and the link is
// ended as dead.
//
// Whether the link is still there. TCP tells a station nothing when the other machine loses
// power or its line drops: no close ever arrives, and a server would turn every new client
// away for ever. So each station watches what arrives instead. The heartbeat makes a live
// link never quiet for long: a station that sends heartbeats hears their answers, and one
// that hears heartbeats hears them every period, so three periods without any packet at all
// mean the link is dead. A station that sends none (a RemoteSide) waits for its peer's first
// heartbeat no longer than for any later one; and a new client may take over a link that has
// been quiet that long before the watch has looked.
// A stream that broke with a packet only in part in it is the other way a link dies: the
// peer reads every later packet shifted by the missing bytes, and nothing can put it right.
//
// Sealed links. Once two stations with a key have proved it, every packet goes out with its
// tag straight behind it. The tag counts the packets in the order the stream carries them, so
// it is made under the send lock, in the same write as its packet: no other sender's packet
// can come between the two, in the buffer or on the wire.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "net/link_key.h"
#include "net/link_timing.h"
#include "net/packet.h"
#include "net/socket_api.h"

constexpr std::chrono::milliseconds kLinkSilencePeriod{3 * kHeartbeatPeriod};

// How bytes go into the link's stream, as SocketLoop::SendSome puts them: the count taken
// now, or kSocketError for a broken stream.
using StreamSend = std::function<int(SocketHandle socket, const uint8_t* bytes, std::size_t)>;

// How a link is run. The defaults are the program's; a test may shorten the watch so that a
// dead link shows within a moment, or put its own send under the link instead of the
// loop's.
struct LinkSetup {
    std::chrono::milliseconds silence_period = kLinkSilencePeriod;
    StreamSend send;
};

// What may wait for a slow peer: some three thousand packets, far more than a live link ever
// holds back, and a bound on what a peer that stopped reading can cost.
constexpr std::size_t kOutboundLimit = 64 * 1024;
// What the stack itself may hold for the peer. A live link's few packets a second never come
// near it; left to itself the stack takes megabytes from a station whose peer stopped
// reading, and the outbound buffer, which ends such a link, would fill only after minutes.
constexpr int kLinkSendBuffer = 16 * 1024;

// At most this many PKT_TEXT_CHAR go out in one write.
constexpr int kMaxTextPackets = 3;

// What the link socket is for: a Net Server's listens, and each connection it accepts
// carries a link; a Net Client's connects, and then carries the link itself.
enum class LinkSocketUse { kListens, kConnects };

class NetLink {
  public:
    // The link's sockets are made on `sockets`.
    explicit NetLink(SocketLoop& sockets, LinkSetup setup = {});
    NetLink(const NetLink&) = delete;
    NetLink& operator=(const NetLink&) = delete;

    // The link to the other station is up; a connect or a listen is under way.
    bool IsLinked() const { return connected_.load(); }
    void SetLinked(bool linked) { connected_.store(linked); }
    bool IsPending() const { return pending_.load(); }
    void SetPending(bool pending) { pending_.store(pending); }

    // A Net Server's listening socket, or a Net Client's socket that connects and then
    // carries the link.
    SocketHandle LinkSocket() const { return link_socket_.load(); }
    void HoldLinkSocket(SocketHandle socket, LinkSocketUse use);
    // A Net Server's accepted connection, which carries its link.
    SocketHandle AcceptedSocket() const { return accepted_socket_.load(); }
    void HoldAcceptedSocket(SocketHandle socket) { accepted_socket_.store(socket); }
    // The socket the station sends and reads on: the accepted one when the link socket
    // listens, else the link socket.
    SocketHandle DataSocket() const;
    // A start of the socket library that succeeded, for the link to stop once.
    void HoldSocketLibrary() { sockets_started_.store(true); }
    // True while the link socket or the socket library is still held.
    bool IsHeld() const;
    // Each releases what it names when it is still held; either may already be gone (a
    // client whose connect failed released both).
    void ReleaseLinkSocket();
    void ReleaseAcceptedSocket();
    void ReleaseSocketLibrary();

    // A link has come up: it counts as heard from now, with no heartbeat heard yet, its
    // framing intact, nothing waiting for it, and nothing sealed.
    void BeginLink();
    // The watch starts afresh, as if the link came up now, with what waits left to go: a
    // keyed link starts when its exchange has ended.
    void RestartWatch();
    // Every packet sent from now on this link goes with its tag.
    void StartSealing(const PacketSealer& sealer);
    bool IsSealed() const;
    // Every packet that arrives on the link, whatever it is.
    void NoteLinkPacket(const Packet& packet);
    // Something arrived within the silence period.
    bool IsHeardFrom() const;
    // Nothing arrived for the period on a link that should never be that quiet: this
    // station sends heartbeats, or has heard them; or, at a station that sends none, no
    // heartbeat came within the period from the link's start.
    bool IsSilent(bool sends_heartbeats) const;
    // The data socket has lost its framing: nothing more may be sent on it.
    bool IsFramingLost() const;

    // Puts the packet's 20 bytes into the stream, or behind what waits for it; a packet that
    // finds no room is lost whole. Never waits.
    void Send(const Packet& packet);
    // Builds the packet and sends it. `payload` is exactly 15 bytes, or null.
    void SendPacket(uint8_t type, uint8_t value, uint8_t second_value = 0,
                    const uint8_t* payload = nullptr);
    // A PKT_TEXT_CHAR for each of `count` bytes (1 to kMaxTextPackets), all in one write: a
    // packet sent meanwhile from another thread (a Clear) goes before them all or after them
    // all, never between a buffered command and its argument.
    void SendTextPackets(const uint8_t* bytes, int count);

    // On the link timer: what waits for the peer goes on, as far as the stream takes it.
    void FlushOutbound();
    // Bytes wait for the peer: the link timer has work.
    bool HasOutbound() const;
    // Bytes have waited for the peer, with none of them taken, for the silence period.
    bool IsOutboundStalled() const;

  private:
    using Clock = std::chrono::steady_clock;

    bool IsCutShort(SocketHandle socket) const;
    void SendStream(const uint8_t* bytes, std::size_t count);
    bool Seal(const uint8_t* bytes, std::size_t count, std::vector<uint8_t>* sealed);
    void FlushOutboundLocked(SocketHandle socket);
    void DropOutbound();

    SocketLoop& sockets_;
    const LinkSetup setup_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> pending_{false};
    std::atomic<SocketHandle> link_socket_{kNoSocket};
    std::atomic<bool> link_socket_listens_{false};
    std::atomic<SocketHandle> accepted_socket_{kNoSocket};
    std::atomic<bool> sockets_started_{false};

    Clock::time_point link_started_{};
    Clock::time_point last_heard_{};
    bool heartbeat_heard_ = false;
    // The data socket whose framing is lost.
    std::atomic<SocketHandle> cut_short_socket_{kNoSocket};

    // Bytes the stream has not taken yet, oldest first; `stream_offset_` counts every byte
    // the stream took on this link, so that a break inside a packet is told from one between
    // packets; `last_moved_` is when the buffer last moved on or began to fill. All under
    // outbound_mutex_.
    mutable std::mutex outbound_mutex_;
    std::vector<uint8_t> outbound_;
    std::size_t stream_offset_ = 0;
    Clock::time_point last_moved_{};
    std::optional<PacketSealer> sealer_;
};
