// How a Tarvel keyer takes apart the bytes it receives: in host mode a byte below 0x20 is a
// command followed by a fixed number of argument bytes, 18 to 1F are the buffered commands it
// keeps in its text buffer with the text, and everything else is text. The emulator plays the
// keyer by it, and the soak reads an emulator's wire back by it, so both agree on where one
// command ends and the next begins.
#pragma once

#include <cstdint>

namespace keyer_wire {

// Argument bytes that follow each command byte in host mode; commands not listed take none.
// 0C and 16 are unused by the host but take one byte on the keyer.
inline int ArgumentCount(uint8_t command) {
    switch (command) {
        case 0x04:
        case 0x1B:
            return 2;
        case 0x05:
            return 3;
        case 0x0F:
            return 15;
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x06:
        case 0x09:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x0E:
        case 0x10:
        case 0x11:
        case 0x12:
        case 0x14:
        case 0x16:
        case 0x17:
        case 0x18:
        case 0x19:
        case 0x1A:
        case 0x1C:
        case 0x1D:
            return 1;
        default:
            return 0;
    }
}

inline bool IsBufferedCommand(uint8_t command) {
    return command >= 0x18 && command <= 0x1F;
}

// 00 opens an admin command of two bytes, of three for the echo test (00 04 b); 00 02 opens
// host mode and 00 03 closes it.
constexpr uint8_t kAdminPrefix = 0x00;
constexpr uint8_t kAdminEchoTest = 0x04;
constexpr uint8_t kAdminHostOpen = 0x02;
constexpr uint8_t kAdminHostClose = 0x03;

}  // namespace keyer_wire
