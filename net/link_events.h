// The link after the connection sequence: the socket events as the Main window receives
// them, the heartbeat, and the network part of closing from the Open/Close button and of
// the program's exit. Everything here runs on the Main window's thread.
#pragma once

#include "net/socket_api.h"

// One socket notification. 1 when handled, 0 after a failed accept (the window procedure
// returns it as its result).
int HandleSocketNotify(const SocketEvent& event);
// The heartbeat timer's tick.
void OnHeartbeatTick();
// The Open/Close button's closing path, network part: the flags, the two status lines, and
// the link socket and socket library whenever they are still held.
void CloseNetworkFromButton();
// Exit: the data socket and the library when linked; the other side sees the close.
void CloseNetworkAtExit();
