// What the connection sequence, the socket event handlers and the packet senders share: the
// link's flags and sockets. The handles are read without a lock by the threads that send
// packets (the keyer reader, the message sender), so each is one atomic word; a send racing
// a close simply fails.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/socket_api.h"

// A Net Server's listening socket, or a Net Client's socket that connects and then carries
// the link.
extern std::atomic<SocketHandle> link_socket;
// A Net Server's accepted connection, which carries its link.
extern std::atomic<SocketHandle> accepted_socket;
// The socket library start that the link holds (0 or 1), so every start is stopped once.
extern std::atomic<int32_t> sockets_started;

// The link to the other station is up; a connect or a listen is under way.
extern std::atomic<int32_t> net_connected;
extern std::atomic<int32_t> net_pending;

// Net Server: `net_mode` bit 1 of the Settings record.
bool IsNetServer();
// The link to the other station is up (`net_connected`).
bool IsLinked();
// Keying that starts at this station (typing, the message buttons, Tune) is taken while
// unlinked, or linked as ControlPoint; linked in Converse or as RemoteSide the other
// station does the keying.
bool RoleAcceptsLocalKeying();
// The socket a station sends and reads on: the accepted one on a Net Server, the link
// socket on a Net Client.
SocketHandle DataSocket();

// True while the link socket or the socket library is still held.
bool IsNetworkHeld();
// Releases the link socket and the socket library when they are still held; either may
// already be gone (a client whose connect failed released both).
void ReleaseLinkSocket();
void ReleaseAcceptedSocket();
void ReleaseSocketLibrary();
