// What the keyer sends, as the keyer link hands it on. The keyer reader calls these on its
// own thread, between two reads, so a listener must never wait for another thread that may
// be waiting for the keyer, and must return soon: the next byte waits meanwhile.
#pragma once

#include <cstdint>

class KeyerListener {
  public:
    virtual ~KeyerListener() = default;

    // The status byte's low six bits; on a keyer with buttons of its own, possibly a button
    // report (IsKeyerButtonReport).
    virtual void OnKeyerStatus(uint8_t status) = 0;
    // The speed pot's reading, already in WPM.
    virtual void OnSpeedPot(uint8_t wpm) = 0;
    // A character the keyer sent.
    virtual void OnKeyerEcho(uint8_t character) = 0;
    // The paddles' two bits: 0x02 left, 0x01 right.
    virtual void OnPaddles(uint8_t paddles) = 0;
    // The port has refused every read for a while, and the reader has stopped.
    virtual void OnKeyerLost() = 0;
};
