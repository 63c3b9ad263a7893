#include "net/link_state.h"

#include "settings/settings_record.h"

std::atomic<SocketHandle> link_socket{kNoSocket};
std::atomic<SocketHandle> accepted_socket{kNoSocket};
std::atomic<int32_t> sockets_started{0};
std::atomic<int32_t> net_connected{0};
std::atomic<int32_t> net_pending{0};

bool IsNetServer() {
    return (NetFlags() & kNetModeServer) != 0;
}

bool IsLinked() {
    return net_connected.load() == 1;
}

bool RoleAcceptsLocalKeying() {
    return !IsLinked() || NetRole() == kNetRoleControlPoint;
}

SocketHandle DataSocket() {
    return IsNetServer() ? accepted_socket.load() : link_socket.load();
}

bool IsNetworkHeld() {
    return link_socket.load() != kNoSocket || sockets_started.load() != 0;
}

void ReleaseLinkSocket() {
    const SocketHandle socket = link_socket.exchange(kNoSocket);
    if (socket != kNoSocket) {
        CloseSocket(socket);
    }
}

void ReleaseAcceptedSocket() {
    const SocketHandle socket = accepted_socket.exchange(kNoSocket);
    if (socket != kNoSocket) {
        CloseSocket(socket);
    }
}

void ReleaseSocketLibrary() {
    // The library's end would close it anyway; closed here, the handle is not left
    // naming a socket that no longer exists.
    ReleaseAcceptedSocket();
    if (sockets_started.exchange(0) != 0) {
        StopSockets();
    }
}
