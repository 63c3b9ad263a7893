// How a link ends matters more than how it starts. A RemoteSide keys a transmitter where
// nobody can reach its buttons, so every way the link can end (the peer closes, the peer
// falls silent, a packet goes out cut short, the operator closes, the program exits) runs
// through ReleaseKeyerControl: a transmitter is never left keyed by a link that is gone.
// And a server must never be locked by a client that vanished without a close: a silent
// link ends by itself, and a new client takes over one that has gone quiet.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "keyer/keyer_link.h"
#include "net/allow_list.h"
#include "net/link_timing.h"
#include "net/packet_link.h"
#include "settings/settings_record.h"
#include "station/station.h"

namespace {

constexpr char kRefusedText[] = "\r\nConnection refused: already linked";
constexpr char kSilentLinkText[] = "\r\nConnection lost: nothing heard for three heartbeats";
constexpr char kCutShortText[] = "\r\nConnection lost: a packet went out cut short";
constexpr char kStoppedReadingText[] = "\r\nConnection lost: the other station stopped reading";
constexpr char kTakenOverText[] = "\r\nSilent client dropped for the new one";

// Keep-alive probes start after this much quiet, well inside the silence period, so the
// stack notices a vanished peer about as soon as the heartbeat watch does.
constexpr int kKeepAliveIdleMs = 4000;
constexpr int kKeepAliveIntervalMs = 1000;

bool SendsHeartbeats(const SettingsStore& settings) {
    return (settings.NetFlags() & kNetRoleRemoteSide) == 0;
}

}  // namespace

bool Station::IsServer() const {
    return (settings_.NetFlags() & kNetModeServer) != 0;
}

bool Station::RoleAcceptsLocalKeying() const {
    return !net_.IsLinked() || settings_.NetRole() == kNetRoleControlPoint;
}

// The one place where the link's text reaches the keyer.
bool KeyerTransmitQueue::Queue(const uint8_t* bytes, int count) {
    return keyer_.QueueBytes(bytes, count) != kKeyerQueueFull;
}

bool KeyerTransmitQueue::IsNearlyFull() {
    return keyer_.IsQueueNearlyFull() == 1;
}

void Station::StartConnection(SocketHandle data_socket) {
    sockets_.SetKeepAlive(data_socket, kKeepAliveIdleMs, kKeepAliveIntervalMs);
    sockets_.SetSendBuffer(data_socket, kLinkSendBuffer);
    rx_packets_.Reset();
    tag_checker_.reset();
    net_.BeginLink();
    peer_address_ = NetAddress();
    sockets_.PeerAddress(data_socket, &peer_address_);
}

void Station::BeginLinkSession() {
    // Once linked, Tune and Clear act on the other station: a key left down here would stay
    // down with nothing on the screen to release it.
    if (state_.tune_on.load() == 1) {
        keyer_.SetKeyDown(0);
        state_.tune_on = 0;
        view_.ShowTune(false);
    }
    net_.RestartWatch();
    shown_remote_version_.reset();
    told_mismatch_on_link_ = false;
    link_keyer_block_.reset();
    link_keyer_speed_.reset();
    status_relay_.BeginLink();
    tune_from_link_since_.reset();
    paddles_from_link_since_.reset();
    round_trips_.Restart();
    link_began_ = std::chrono::steady_clock::now().time_since_epoch().count();
    paddle_sequence_ = 0;
    paddle_playout_.Restart();
    far_paddle_delay_ms_.reset();
}

// The link ends for a reason this station found itself. A server goes on listening; a
// client gives its socket up as after a failed connect, and tries its server again.
void Station::EndLinkAsLost(const char* reason) {
    Log(reason);
    LogRelease("the link was lost");
    view_.ShowNetworkStatus(NetworkStatus::kLinkEnded);
    net_.SetLinked(false);
    RefreshLinkHealth();
    rx_packets_.Reset();
    if (IsServer()) {
        net_.ReleaseAcceptedSocket();
    } else {
        net_.ReleaseLinkSocket();
        net_.ReleaseSocketLibrary();
    }
    ReleaseKeyerControl();
    ScheduleReconnect();
}

// Before a byte of the client is read: a transmitter must not be keyed by whoever finds the
// port, and a silent link is not taken over by a stranger either.
bool Station::AdmitClient(SocketHandle accepted, NetAddress* address) {
    if (sockets_.PeerAddress(accepted, address) && allow_from_.Allows(*address)) {
        return true;
    }
    sockets_.Reset(accepted);
    const std::optional<std::string> told = refusals_.Refused(
        *address, ConnectionRefusedLine(*address), std::chrono::steady_clock::now());
    if (told) {
        Log("\r\n" + *told);
    }
    return false;
}

int Station::OnAccept() {
    const SocketHandle accepted = sockets_.Accept(net_.LinkSocket());
    if (accepted == kNoSocket) {
        const int error = SocketLastError();
        if (error == kSocketErrorWouldBlock) {
            return 1;  // the client gave up before it was taken: go on listening
        }
        char text[128];
        std::snprintf(text, sizeof text, "\r\nAccepting Request....\r\naccept failed: %d", error);
        Log(text);
        if (net_.IsLinked()) {
            return 0;  // only this client failed: the link and the listener go on
        }
        net_.SetPending(false);
        DropAllUnprovedClients();
        net_.ReleaseLinkSocket();
        net_.ReleaseSocketLibrary();
        return 0;
    }
    NetAddress address;
    if (!AdmitClient(accepted, &address)) {
        return 1;  // a live link goes on
    }
    if (link_key_) {
        TakeUnprovedClient(accepted, address);
        return 1;
    }
    Log("\r\nAccepting Request....");
    LinkClient(accepted, address, nullptr, {});
    return 1;
}

void Station::LinkClient(SocketHandle accepted, const NetAddress& address,
                         const KeyExchange* proved, const std::vector<Packet>& proof) {
    if (net_.IsLinked() && net_.AcceptedSocket() != kNoSocket) {
        // One link at a time, while it lives: a second client would take the link over and
        // leave the first connection open and unserved. A link gone quiet may be a client
        // that vanished without a close, and it must not lock the site.
        if (net_.IsHeardFrom()) {
            sockets_.Reset(accepted);
            Log(kRefusedText);
            return;
        }
        Log(kTakenOverText);
        LogRelease("a new client took over the silent link");
        net_.SetLinked(false);
        net_.ReleaseAcceptedSocket();
        ReleaseKeyerControl();
    }
    Log("\r\nClient " + address.Text() + " accepted.");
    net_.HoldAcceptedSocket(accepted);
    StartConnection(accepted);
    for (const Packet& packet : proof) {
        net_.Send(packet);
    }
    if (proved != nullptr) {
        BeginSeal(*proved);
    }
    BeginLinkSession();
    view_.ShowNetworkStatus(NetworkStatus::kLinkedToClient);
    net_.SetLinked(true);
    ApplyKeyerSettings();
    net_.SetPending(false);
}

void Station::OnConnect(uint16_t error) {
    if (error != 0) {
        if (ConnectToNextServerAddress(error)) {
            return;
        }
        view_.ShowNetworkStatus(NetworkStatus::kConnectFailed);
        net_.ReleaseLinkSocket();
        net_.ReleaseSocketLibrary();
        ScheduleReconnect();
        return;
    }
    server_addresses_left_.clear();
    StartConnection(net_.LinkSocket());
    if (link_key_) {
        BeginClientExchange();
        return;
    }
    BeginClientLink();
}

void Station::BeginClientLink() {
    reconnect_.Restart();
    Log("\r\n--------------End Connect Log------------\r\n");
    view_.ShowNetworkStatus(NetworkStatus::kLinkedToServer);
    BeginLinkSession();
    net_.SetLinked(true);
    net_.SendPacket(PKT_PAUSE, state_.pause_on.load(), 0, nullptr);
    net_.SendPacket(PKT_VERSION_REQUEST, 0, 0, nullptr);
    ApplyKeyerSettings();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (state_.pot_speed_active.load() == 1) {
        net_.SendPacket(PKT_SPEED, state_.pot_wpm.load(), 0, nullptr);
    }
}

void Station::OnRead(SocketHandle event_socket) {
    if (const std::optional<std::size_t> unproved = FindUnprovedClient(event_socket)) {
        ReadUnprovedClient(*unproved);
        return;
    }
    const SocketHandle socket = net_.DataSocket();
    if (socket == kNoSocket) {
        return;
    }
    std::vector<Packet> packets;
    ReadPacketsFrom(sockets_, socket, &rx_packets_,
                    [&packets](const Packet& packet) { packets.push_back(packet); });
    for (const Packet& packet : packets) {
        if (net_.DataSocket() != socket || !TakeLinkPacket(packet)) {
            return;
        }
    }
}

void Station::OnClose(SocketHandle socket) {
    // A client that goes before it has proved the key is not a failure: it is simply gone.
    if (const std::optional<std::size_t> unproved = FindUnprovedClient(socket)) {
        DropUnprovedClient(*unproved, "");
        return;
    }
    // Only the link's own connection ends the link: a notification left over from a
    // refused second client, or from a socket already closed here, changes nothing.
    if (socket != net_.DataSocket() || socket == kNoSocket) {
        return;
    }
    if (client_exchange_) {
        EndClientExchange("Connection refused: " + peer_address_.Text() +
                          " closed the link before proving the link key; do both stations "
                          "have the same key?");
        return;
    }
    LogRelease("the other station ended the link");
    view_.ShowNetworkStatus(NetworkStatus::kLinkEnded);
    net_.SetLinked(false);
    RefreshLinkHealth();
    rx_packets_.Reset();
    if (IsServer()) {
        net_.ReleaseAcceptedSocket();
    }
    ReleaseKeyerControl();
    ScheduleReconnect();
}

int Station::OnSocketEvent(const SocketEvent& event) {
    if (logger_.socket.Owns(event.socket)) {
        OnLoggerDatagram();
        return 1;
    }
    switch (event.event) {
        case kSocketAccept:
            return OnAccept();
        case kSocketConnect:
            OnConnect(event.error);
            return 1;
        case kSocketRead:
            OnRead(event.socket);
            return 1;
        case kSocketClose:
            OnClose(event.socket);
            return 1;
        default:
            return 1;
    }
}

void Station::OnHeartbeatTick() {
    if (!net_.IsLinked() || !SendsHeartbeats(settings_)) {
        return;
    }
    SendHeartbeat();
    state_.heartbeat_count = static_cast<uint8_t>(state_.heartbeat_count.load() + 1);
}

void Station::OnLinkWatchTick() {
    for (const std::string& line : refusals_.Summaries(std::chrono::steady_clock::now())) {
        Log("\r\n" + line);
    }
    OpenWhenStartupWaitEnds();
    FollowAllowedNames();
    MoveLinkTextOn();
    FeedTypedAhead();
    FollowLoggerPort();
    ReconnectIfDue();
    ExpireLinkKeyExchanges();
    TellLatePaddles();
    RefreshLinkHealth();
    if (!net_.IsLinked()) {
        return;
    }
    EnforceKeyingLimits();
    if (!net_.IsLinked()) {
        return;  // over its budget once too often: ended already
    }
    net_.FlushOutbound();
    if (net_.IsFramingLost()) {
        EndLinkAsLost(kCutShortText);
    } else if (net_.IsOutboundStalled()) {
        EndLinkAsLost(kStoppedReadingText);
    } else if (net_.IsSilent(SendsHeartbeats(settings_))) {
        EndLinkAsLost(kSilentLinkText);
    }
}

void Station::MoveLinkTextOn() {
    receive_backlog_.Feed();
}

std::vector<uint8_t> Station::TextWaitingForKeyer() const {
    return receive_backlog_.Bytes();
}

std::chrono::milliseconds Station::LinkTimerPeriod() const {
    const bool busy = receive_backlog_.Count() > 0 || net_.HasOutbound() ||
                      status_relay_.IsHolding() || !typed_ahead_.empty() ||
                      (logger_.reply.IsWaiting() && logger_.in_flight > 0);
    return busy ? kLinkFeedPeriod : kLinkWatchPeriod;
}

int Station::LinkPort() const {
    const SocketHandle socket = net_.LinkSocket();
    return socket == kNoSocket ? 0 : std::max(sockets_.LocalPort(socket), 0);
}

void Station::CloseNetworkFromButton() {
    if ((settings_.NetFlags() & kNetModeMask) != kNetModeOff &&
        (net_.IsLinked() || net_.IsPending() || net_.IsHeld() || reconnect_at_)) {
        net_.SetPending(false);
        net_.SetLinked(false);
        view_.ShowNetworkStatus(NetworkStatus::kClosedByOperator);
        view_.ShowRemoteKeyerClosed();
    }
    // Close ends a wait for the next try too, and the next Open starts the waits afresh.
    reconnect_at_.reset();
    client_exchange_.reset();
    DropAllUnprovedClients();
    reconnect_.Restart();
    RefreshLinkHealth();
    // Also after a server's client has gone (both flags 0, the listener still held): a
    // listening socket left behind would hold the port, and no later Open could bind it.
    rx_packets_.Reset();
    net_.ReleaseLinkSocket();
    net_.ReleaseSocketLibrary();
}

void Station::CloseNetworkAtExit() {
    LogRelease("the program is ending");
    client_exchange_.reset();
    DropAllUnprovedClients();
    if (!net_.IsLinked()) {
        // Whatever the operator left keyed here must not stay keyed once nobody can reach
        // the Tune button; the keyer's buffer is the operator's own and is left.
        keyer_.Release();
        return;
    }
    ReleaseKeyerControl();
    if (IsServer()) {
        net_.ReleaseAcceptedSocket();
    } else {
        net_.ReleaseLinkSocket();
    }
    net_.ReleaseSocketLibrary();
}
