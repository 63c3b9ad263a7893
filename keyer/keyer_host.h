// Host mode: the byte handshake that attaches the keyer, and the close that returns it.
#pragma once

#include <atomic>
#include <cstdint>

#include "keyer/keyer_result.h"
#include "keyer/keyer_wire.h"

extern std::atomic<int32_t> host_open;

using keyer_wire::IsExtendedKeyerVersion;

// kKeyerOk host mode open (version stored); kKeyerNoEcho, kKeyerWrongEcho or kKeyerNoVersion,
// the port left open. Needs a port opened by OpenKeyerPort.
int OpenKeyerHost(uint8_t* version);
// Has the writer send the host close, stops both keyer threads, drops DTR and closes the
// port. kKeyerOk; kKeyerHostNotOpen when host mode was not open. Never leaves the window
// thread blocked on a thread that waits for the window.
int CloseKeyerHost();
// At exit, once the window seam is closed: stops both keyer threads without the host close,
// so the keyer stays as the exit leaves it and no keyer event reaches a module after it
// has ended. Every entry point then returns kKeyerHostNotOpen.
void StopKeyerThreadsAtExit();
