// What the keyer link's operations return: 0 or one of these negative codes, never an
// exception, so a caller on any thread can pass a result on or log it as it is. The values
// are fixed; the tests pin each one by its number.
#pragma once

constexpr int kKeyerOk = 0;

// The host-open handshake (KeyerLink::OpenHost).
constexpr int kKeyerNoEcho = -1;     // nothing came back to the echo test
constexpr int kKeyerWrongEcho = -2;  // something other than the test byte came back
constexpr int kKeyerNoVersion = -3;  // host open brought no version byte

// The port (SerialPort::Open).
constexpr int kPortOpenFailed = -4;  // the device did not open, or the port is open already
constexpr int kPortStateUnreadable = -5;
constexpr int kPortStateUnwritable = -6;
constexpr int kPortPurgeFailed = -10;  // the receive buffer could not be emptied

// The command mailbox and the transmit queue.
constexpr int kKeyerQueueFull = -7;    // the ring had no room: nothing was queued
constexpr int kKeyerHostNotOpen = -9;  // host mode is not open: nothing was done

// The keyer reader's wait for a byte (SerialPort::WaitForByte).
constexpr int kPortByteRead = 1;
constexpr int kPortWaitEnded = 0;  // interrupted, cancelled, or no port open
constexpr int kPortFailed = -1;    // the device refused the read: unplugged, or gone
