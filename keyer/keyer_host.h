// The keyer link: host mode, the byte handshake that attaches the keyer, and the close that
// returns it.
//
// Threads. While host mode is open two threads of the link's own run: the writer, the only
// thread that writes to the port (it wakes on the mailbox's event, or every 3 ms while text
// waits in the transmit queue), and the reader, which waits on the port with no time-out and
// hands every byte the keyer sends to the listener that the host open named. Any thread may
// leave a request in the mailbox or queue text (keyer_commands.h); none of those calls waits.
// The open and the close run on the thread that owns the station (the window's thread).
//
// The listener is called on the reader's thread and must never wait for the thread that
// closes the keyer: the close waits for the reader, so such a wait would hold both until the
// close gave up. The station's view hands what it shows over to the window's thread for that
// reason.
//
// Exit. CloseKeyerHost sends the host close and stops both threads; StopKeyerThreadsAtExit
// stops them without it, leaving the keyer as the exit found it. After either, no thread of
// the link runs and the listener is not called again.
#pragma once

#include <atomic>
#include <cstdint>

#include "keyer/keyer_listener.h"
#include "keyer/keyer_result.h"
#include "keyer/keyer_wire.h"

extern std::atomic<int32_t> host_open;

using keyer_wire::IsExtendedKeyerVersion;

// kKeyerOk host mode open (version stored); kKeyerNoEcho, kKeyerWrongEcho or kKeyerNoVersion,
// the port left open. Needs a port opened by OpenKeyerPort. The reader tells `listener` what
// the keyer sends until the keyer is closed, so it must outlive host mode.
int OpenKeyerHost(uint8_t* version, KeyerListener* listener);
// Has the writer send the host close, stops both keyer threads, drops DTR and closes the
// port. kKeyerOk; kKeyerHostNotOpen when host mode was not open.
int CloseKeyerHost();
// At exit: stops both keyer threads without the host close, so the keyer stays as the exit
// leaves it and no keyer event reaches the listener after it has ended. Every entry point
// then returns kKeyerHostNotOpen.
void StopKeyerThreadsAtExit();
