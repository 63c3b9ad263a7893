#include "net/link_events.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/resource_ids.h"
#include "app/runtime_state.h"
#include "net/link_state.h"
#include "net/packet_link.h"
#include "net/packet_protocol.h"
#include "settings/settings_record.h"

namespace {

// The receive side of the one connection; reset with each new link so that the partial
// tail of an ended connection never joins the start of the next.
PacketReassembler rx_packets;

void Log(const std::string& text) {
    ReplaceSelection(IDC_LOG_PANE, text);
}

int OnAccept() {
    Log("\r\nAccepting Request....");
    const SocketHandle accepted = AcceptSocket(link_socket.load());
    if (accepted == kNoSocket) {
        const int error = SocketLastError();
        if (error == kSocketErrorWouldBlock) {
            return 1;  // the client gave up before it was taken: go on listening
        }
        net_pending = 0;
        char text[128];
        std::snprintf(text, sizeof text, "\r\naccept failed: %d", error);
        Log(text);
        ReleaseLinkSocket();
        ReleaseSocketLibrary();
        return 0;
    }
    if (net_connected.load() == 1 && accepted_socket.load() != kNoSocket) {
        // One link at a time: a second client would take the link over and leave the
        // first connection open and unserved.
        CloseSocket(accepted);
        Log("\r\nConnection refused: already linked");
        return 1;
    }
    accepted_socket = accepted;
    rx_packets.Reset();
    SetControlText(IDC_NET_STATUS, "Connected to Client.");
    net_connected = 1;
    ApplyKeyerSettings();
    net_pending = 0;
    return 1;
}

void OnConnect(uint16_t error) {
    if (error != 0) {
        SetControlText(IDC_NET_STATUS, "Failed to connect");
        ReleaseLinkSocket();
        ReleaseSocketLibrary();
        return;
    }
    Log("\r\n--------------End Connect Log------------\r\n");
    SetControlText(IDC_NET_STATUS, "Connected to server.");
    rx_packets.Reset();
    net_connected = 1;
    SendPacket(PKT_PAUSE, pause_on.load(), 0, nullptr);
    SendPacket(PKT_VERSION_REQUEST, 0, 0, nullptr);
    ApplyKeyerSettings();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (pot_speed_active.load() == 1) {
        SendPacket(PKT_SPEED, pot_wpm.load(), 0, nullptr);
    }
}

void OnRead() {
    const SocketHandle socket = DataSocket();
    if (socket == kNoSocket) {
        return;
    }
    ReadPacketsFrom(socket, &rx_packets, [](const Packet& packet) { processIPpacket(packet); });
}

void OnClose(SocketHandle socket) {
    // Only the link's own connection ends the link: a notification left over from a
    // refused second client, or from a socket already closed here, changes nothing.
    if (socket != DataSocket() || socket == kNoSocket) {
        return;
    }
    SetControlText(IDC_NET_STATUS, "Connection Closed");
    net_connected = 0;
    rx_packets.Reset();
    if (IsNetServer()) {
        ReleaseAcceptedSocket();
    }
}

}  // namespace

int HandleSocketNotify(const SocketEvent& event) {
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

void OnHeartbeatTick() {
    if (net_connected.load() != 1 || (settings.net_flags & kNetRoleRemoteSide) != 0) {
        return;
    }
    SendPacket(PKT_HEARTBEAT, heartbeat_count.load(), 0, nullptr);
    heartbeat_count = static_cast<uint8_t>(heartbeat_count.load() + 1);
}

void CloseNetworkFromButton() {
    if ((settings.net_flags & kNetModeMask) != kNetModeOff &&
        (net_connected.load() == 1 || net_pending.load() == 1 || IsNetworkHeld())) {
        net_pending = 0;
        net_connected = 0;
        SetControlText(IDC_NET_STATUS, "Network Connection Closed");
        SetControlText(IDC_REMOTE_STATUS, "Remote Tarvel Closed");
    }
    // Also after a server's client has gone (both flags 0, the listener still held): a
    // listening socket left behind would hold the port, and no later Open could bind it.
    rx_packets.Reset();
    ReleaseLinkSocket();
    ReleaseSocketLibrary();
}

void CloseNetworkAtExit() {
    if (net_connected.load() != 1) {
        return;
    }
    if (IsNetServer()) {
        ReleaseAcceptedSocket();
    } else {
        ReleaseLinkSocket();
    }
    ReleaseSocketLibrary();
}
