// How a link ends matters more than how it starts. A RemoteSide keys a transmitter where
// nobody can reach its buttons, so every way the link can end (the peer closes, the peer
// falls silent, a packet goes out cut short, the operator closes, the program exits) runs
// through ReleaseKeyerControl: a transmitter is never left keyed by a link that is gone.
// And a server must never be locked by a client that vanished without a close: a silent
// link ends by itself, and a new client takes over one that has gone quiet.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "keyer/keyer_link.h"
#include "net/link_state.h"
#include "net/link_timing.h"
#include "net/link_watch.h"
#include "net/packet_link.h"
#include "net/packet_sender.h"
#include "net/receive_backlog.h"
#include "settings/settings_record.h"
#include "station/station.h"

namespace {

constexpr char kRefusedText[] = "\r\nConnection refused: already linked";
constexpr char kSilentLinkText[] = "\r\nConnection lost: nothing heard for three heartbeats";
constexpr char kCutShortText[] = "\r\nConnection lost: a packet went out cut short";
constexpr char kTakenOverText[] = "\r\nSilent client dropped for the new one";

// Keep-alive probes start after this much quiet, well inside the silence period, so the
// stack notices a vanished peer about as soon as the heartbeat watch does.
constexpr int kKeepAliveIdleMs = 4000;
constexpr int kKeepAliveIntervalMs = 1000;

bool SendsHeartbeats() {
    return (NetFlags() & kNetRoleRemoteSide) == 0;
}

}  // namespace

void Station::StartLink(SocketHandle data_socket) {
    SetSocketKeepAlive(data_socket, kKeepAliveIdleMs, kKeepAliveIntervalMs);
    rx_packets_.Reset();
    StartLinkWatch();
    ForgetReportedHold();
}

// The link ends for a reason this station found itself. A server goes on listening; a
// client gives its socket up as after a failed connect, and its Open/Close press then
// closes and the next one opens again.
void Station::EndLinkAsLost(const char* reason) {
    Log(reason);
    view_.ShowNetworkStatus(NetworkStatus::kLinkEnded);
    net_connected = 0;
    rx_packets_.Reset();
    if (IsNetServer()) {
        ReleaseAcceptedSocket();
    } else {
        ReleaseLinkSocket();
        ReleaseSocketLibrary();
    }
    ReleaseKeyerControl();
}

int Station::OnAccept() {
    Log("\r\nAccepting Request....");
    const SocketHandle accepted = AcceptSocket(link_socket.load());
    if (accepted == kNoSocket) {
        const int error = SocketLastError();
        if (error == kSocketErrorWouldBlock) {
            return 1;  // the client gave up before it was taken: go on listening
        }
        char text[128];
        std::snprintf(text, sizeof text, "\r\naccept failed: %d", error);
        Log(text);
        if (IsLinked()) {
            return 0;  // only this client failed: the link and the listener go on
        }
        net_pending = 0;
        ReleaseLinkSocket();
        ReleaseSocketLibrary();
        return 0;
    }
    if (IsLinked() && accepted_socket.load() != kNoSocket) {
        // One link at a time, while it lives: a second client would take the link over and
        // leave the first connection open and unserved. A link gone quiet may be a client
        // that vanished without a close, and it must not lock the site.
        if (IsLinkHeardFrom()) {
            CloseSocket(accepted);
            Log(kRefusedText);
            return 1;
        }
        Log(kTakenOverText);
        net_connected = 0;
        ReleaseAcceptedSocket();
        ReleaseKeyerControl();
    }
    accepted_socket = accepted;
    StartLink(accepted);
    view_.ShowNetworkStatus(NetworkStatus::kLinkedToClient);
    net_connected = 1;
    ApplyKeyerSettings();
    net_pending = 0;
    return 1;
}

void Station::OnConnect(uint16_t error) {
    if (error != 0) {
        view_.ShowNetworkStatus(NetworkStatus::kConnectFailed);
        ReleaseLinkSocket();
        ReleaseSocketLibrary();
        return;
    }
    Log("\r\n--------------End Connect Log------------\r\n");
    view_.ShowNetworkStatus(NetworkStatus::kLinkedToServer);
    StartLink(link_socket.load());
    net_connected = 1;
    SendPacket(PKT_PAUSE, state_.pause_on.load(), 0, nullptr);
    SendPacket(PKT_VERSION_REQUEST, 0, 0, nullptr);
    ApplyKeyerSettings();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (state_.pot_speed_active.load() == 1) {
        SendPacket(PKT_SPEED, state_.pot_wpm.load(), 0, nullptr);
    }
}

void Station::OnRead() {
    const SocketHandle socket = DataSocket();
    if (socket == kNoSocket) {
        return;
    }
    ReadPacketsFrom(socket, &rx_packets_, [this](const Packet& packet) {
        NoteLinkPacket(packet);
        processIPpacket(packet);
    });
}

void Station::OnClose(SocketHandle socket) {
    // Only the link's own connection ends the link: a notification left over from a
    // refused second client, or from a socket already closed here, changes nothing.
    if (socket != DataSocket() || socket == kNoSocket) {
        return;
    }
    view_.ShowNetworkStatus(NetworkStatus::kLinkEnded);
    net_connected = 0;
    rx_packets_.Reset();
    if (IsNetServer()) {
        ReleaseAcceptedSocket();
    }
    ReleaseKeyerControl();
}

int Station::OnSocketEvent(const SocketEvent& event) {
    switch (event.event) {
        case kSocketAccept:
            return OnAccept();
        case kSocketConnect:
            OnConnect(event.error);
            return 1;
        case kSocketRead:
            OnRead();
            return 1;
        case kSocketClose:
            OnClose(event.socket);
            return 1;
        default:
            return 1;
    }
}

void Station::OnHeartbeatTick() {
    if (!IsLinked() || !SendsHeartbeats()) {
        return;
    }
    SendPacket(PKT_HEARTBEAT, state_.heartbeat_count.load(), 0, nullptr);
    state_.heartbeat_count = static_cast<uint8_t>(state_.heartbeat_count.load() + 1);
}

void Station::OnLinkWatchTick() {
    FeedKeyerFromBacklog(keyer_);
    if (!IsLinked()) {
        return;
    }
    if (IsFramingLost(DataSocket())) {
        EndLinkAsLost(kCutShortText);
    } else if (IsLinkSilent(SendsHeartbeats())) {
        EndLinkAsLost(kSilentLinkText);
    }
}

std::chrono::milliseconds Station::LinkTimerPeriod() const {
    return ReceiveBacklogWantsFeeding() ? kLinkFeedPeriod : kLinkWatchPeriod;
}

void Station::CloseNetworkFromButton() {
    if ((NetFlags() & kNetModeMask) != kNetModeOff &&
        (net_connected.load() == 1 || net_pending.load() == 1 || IsNetworkHeld())) {
        net_pending = 0;
        net_connected = 0;
        view_.ShowNetworkStatus(NetworkStatus::kClosedByOperator);
        view_.ShowRemoteKeyerClosed();
    }
    // Also after a server's client has gone (both flags 0, the listener still held): a
    // listening socket left behind would hold the port, and no later Open could bind it.
    rx_packets_.Reset();
    ReleaseLinkSocket();
    ReleaseSocketLibrary();
}

void Station::CloseNetworkAtExit() {
    if (!IsLinked()) {
        // Whatever the operator left keyed here must not stay keyed once nobody can reach
        // the Tune button; the keyer's buffer is the operator's own and is left.
        keyer_.Release();
        return;
    }
    ReleaseKeyerControl();
    if (IsNetServer()) {
        ReleaseAcceptedSocket();
    } else {
        ReleaseLinkSocket();
    }
    ReleaseSocketLibrary();
}
