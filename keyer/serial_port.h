// The one serial port through which the program talks to the Tarvel keyer: 1200 baud,
// 8N1, DTR on, RTS off. Windows uses the COM device; the host build uses a termios tty or
// pty. Results: keyer_result.h's for the open and the reader's wait, 1/0 for transfers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "keyer/keyer_result.h"

// Where the host build finds a keyer's port: a station's set-up says where its own is, so two
// stations in one process each have theirs. Windows opens COM port n by its own name
// (KeyerPortDeviceName) and takes none of this.
struct KeyerPortPlace {
    // Linux numbers its serial ports from 0: this pattern opens COMn as /dev/ttyS(n-1).
    static constexpr const char* kLinuxSerialPorts = "/dev/ttyS%d";

    // A device that every port number opens: a site names its keyer's device, which its
    // record's COM port number cannot. Empty: `numbered` finds the port.
    std::string device;
    // Where port n lives, as a printf pattern with one %d: n - 1 in the Linux pattern above,
    // n itself in any other (a test's own ports).
    std::string numbered = kLinuxSerialPorts;
};

// Why the last open of a port failed, as the system says it: the device, the system's reason,
// and what kind of trouble that is, so that a front end can say what to look at. Windows
// says it in the Connect log's own words and leaves this empty (kNone).
struct PortFailure {
    enum class Kind { kNone, kMissing, kNoPermission, kInUse, kOther };
    Kind kind = Kind::kNone;
    std::string device;
    std::string reason;
};

// One open port is an object its owner holds (the keyer link); two links in one process
// each have their own. The platform's state of it lives in the platform's file.
class SerialPort {
  public:
    SerialPort();
    // Closes the port if it is still open.
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Port `port_number` where `place` says. kKeyerOk; kPortOpenFailed (also: already open),
    // kPortStateUnreadable, kPortStateUnwritable or kPortPurgeFailed. A port whose settings
    // failed stays open until Close.
    KeyerResult Open(int port_number, const KeyerPortPlace& place = {});
    // Why the last Open failed; kNone after one that did not.
    const PortFailure& LastOpenFailure() const { return open_failure_; }
    int Write(const uint8_t* bytes, uint32_t count);  // 1 when all were written
    int Read(uint8_t* buffer, uint32_t count);        // 1 when exactly `count` arrived
    void Close();

    // The read time-out's total constant in milliseconds (250 after the open, 10 in host
    // mode).
    void SetReadTimeout(uint32_t milliseconds);
    // Drops DTR from the record kept since the open, without re-reading it, as host close
    // does.
    void DropDtr();
    // Gives up a transfer that is blocked on the port (a write to a keyer that stopped
    // reading), so a thread waiting in it returns 0.
    void CancelTransfers();

    // The keyer reader's read (kPortByteRead, kPortWaitEnded or kPortFailed): one byte,
    // however long the keyer stays silent, so an idle keyer costs no wake-ups. A failed wait
    // returns only after the read time-out, so a caller that loops does not spin on a dead
    // port. A wait never takes a byte from the port without returning it: a byte that meets
    // the interrupt is either returned, to be handled whole, or left unread.
    PortWaitResult WaitForByte(uint8_t* byte);
    // Ends the wait above at once, and every later one, until the port is opened again.
    // Unlike a cancel it leaves writes alone, so the writer can still send the host close.
    void InterruptWait();

  private:
    struct Platform;
    std::unique_ptr<Platform> platform_;
    PortFailure open_failure_;
};

// The device name that port number `n` opens on Windows: "com%d:" up to 9, "\\.\COM%d" from
// 10.
std::string KeyerPortDeviceName(int port_number);

// The device name under which port n is looked for when the ports that exist are listed:
// "COM%d" up to 9 (where the open says "com%d:"), "\\.\COM%d" from 10.
std::string ProbePortDeviceName(int port_number);
// Whether numbered port n exists where `place` numbers them (a device it names is no port
// to list): its device opens (and is closed again at once), or refuses in a way that says a
// device is there: in use (the keyer's own open port among them), access denied, a device
// failure or a time-out.
bool KeyerPortPresent(int port_number, const KeyerPortPlace& place = {});
