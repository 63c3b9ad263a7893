// What the keyer link's operations and its port return: a result, never an exception, so a
// caller on any thread can pass it on or log it as it is. Two lists, since they answer two
// different questions; the values are fixed, and the tests pin each one by its number.
#pragma once

// How an operation on the keyer link or its port went: 0, or what stopped it. Operations that
// answer with a value (a status, a flag, an echoed byte) give the value, never negative, or
// kKeyerHostNotOpen.
enum KeyerResult : int {
    kKeyerOk = 0,

    // The host-open handshake (KeyerLink::OpenHost).
    kKeyerNoEcho = -1,     // nothing came back to the echo test
    kKeyerWrongEcho = -2,  // something other than the test byte came back
    kKeyerNoVersion = -3,  // host open brought no version byte

    // The port (SerialPort::Open).
    kPortOpenFailed = -4,  // the device did not open, or the port is open already
    kPortStateUnreadable = -5,
    kPortStateUnwritable = -6,
    kPortPurgeFailed = -10,  // the receive buffer could not be emptied

    // The command mailbox and the transmit queue.
    kKeyerQueueFull = -7,    // the ring had no room: nothing was queued
    kKeyerHostNotOpen = -9,  // host mode is not open: nothing was done
};

// How the keyer reader's wait for a byte (SerialPort::WaitForByte) ended.
enum PortWaitResult : int {
    kPortByteRead = 1,
    kPortWaitEnded = 0,  // interrupted, cancelled, or no port open
    kPortFailed = -1,    // the device refused the read: unplugged, or gone
};
