// Host mode: the byte handshake that attaches the keyer, and the close that returns it.
#pragma once

#include <atomic>
#include <cstdint>

#include "keyer/keyer_listener.h"

extern std::atomic<int32_t> host_open;

// Keyers from this version on have the extended command set and message buttons of their
// own, which they report in the status byte.
constexpr uint8_t kFirstExtendedKeyerVersion = 20;
inline bool IsExtendedKeyerVersion(uint8_t version) {
    return version >= kFirstExtendedKeyerVersion;
}

// 0 host mode open (version stored); -1 no echo; -2 wrong echo; -3 no version byte.
// Needs a port opened by OpenKeyerPort. The reader tells `listener` what the keyer sends
// until the keyer is closed, so it must outlive host mode.
int OpenKeyerHost(uint8_t* version, KeyerListener* listener);
// Has the writer send 00 03, stops both keyer threads, drops DTR and closes the port.
// 0; -9 when host mode was not open.
int CloseKeyerHost();
// At exit: stops both keyer threads without the host close, so the keyer stays as the exit
// leaves it and no keyer event reaches the listener after it has ended. Every entry point
// then returns -9.
void StopKeyerThreadsAtExit();
