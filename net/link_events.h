// The link after the connection sequence: the socket events as the Main window receives
// them, the heartbeat, the watch over a link that may have died without a word, and the
// network part of closing from the Open/Close button and of the program's exit. Everything
// here runs on the Main window's thread.
#pragma once

#include <chrono>

#include "net/socket_api.h"

// One socket notification. 1 when handled, 0 after a failed accept (the window procedure
// returns it as its result).
int HandleSocketNotify(const SocketEvent& event);
// The heartbeat timer's tick.
void OnHeartbeatTick();
// The link timer's tick: text waiting for the keyer moves on, and a link that has fallen
// silent or lost its framing ends.
void OnLinkWatchTick();
// The period the link timer should run at now: kLinkFeedPeriod while text from the link
// waits for the keyer or hold is reported, so it moves on as soon as the queue drains, and
// kLinkWatchPeriod otherwise. Asked again after every tick and socket event, the only times
// the answer can change.
std::chrono::milliseconds LinkTimerPeriod();
// The Open/Close button's closing path, network part: the flags, the two status lines, and
// the link socket and socket library whenever they are still held.
void CloseNetworkFromButton();
// Exit: the keyer let go of (and emptied too when a link ends with the program), then the
// data socket and the library when linked; the other side sees the close.
void CloseNetworkAtExit();

// What a station does whenever the other station, or its own operator, loses control of its
// keyer: nothing left keyed, pressed, paused or waiting to be sent, and the Tune and Pause
// captions saying so. Keyer requests made here do nothing when no keyer is attached.
void ReleaseKeyerControl();
