// An emulated Tarvel keyer on a pseudo-terminal, for tests, the demo, and trying the program
// without hardware. One KeyerSim owns one pty master and one thread that plays the keyer;
// the host side opens the pty's slave (or the symlink named in the options) as its port.
//
// Everything a test can do to the keyer goes through Command(), one text line in and one
// line out, so the in-process API and the TCP control channel of the standalone program are
// the same protocol. The lines:
//   reset                 power-on state: host mode closed, log and keyed text empty
//   version N             the byte that answers host open (00 02); default 23
//   silent on|off         answer nothing at all (no echo, no version, no status)
//   echo-answer XX|normal answer the echo test 00 04 b with byte XX instead of b
//   no-version on|off     answer the echo test but never the host open
//   paddle BITS           paddle report 0xDC | BITS (bit 1 left, bit 0 right)
//   paddle-key TEXT       the paddles key TEXT: break-in status while the keyer was sending,
//                         the characters echoed while paddle echo (mode 0x40) is on
//   fist WPM TEXT         an operator's hand keys TEXT on the paddles in real time, whatever
//                         the speed-up: each dit the left paddle held a dit, each dah the right
//                         one held a dah, a dit between elements, three between characters and
//                         seven between words, each change a paddle report; "ok N MS": N
//                         reports, the last MS milliseconds after the first
//   pot WPM               turn the speed pot; reports 0x80 | (WPM - min WPM) on a change
//   button N              keyer button N (1..4) on a version 20+ keyer: status 0xC8 | bit
//   inject XX XX ...      send raw bytes to the host
//   stall on|off          stop taking the host's bytes, so that its writes wait as on a keyer
//                         that has hung, or take them again (so does reset)
//   unplug                close the pty master: the host's port goes dead, the link goes
//   plug                  after unplug: a new pty, the link turned to it, the keyer as at
//                         power-on (host mode closed, power-on settings)
//   log                   "ok N us:XX us:XX ..." every byte received, microseconds since reset
//   sent                  "ok N us:XX us:XX ..." every byte sent to the host, the same way
//   clock                 "ok US" the emulator's time, microseconds since reset, to line up
//                         another program's clock with the log's
//   received              "ok XX XX ..." every byte received
//   keyed                 "ok TEXT" what has been keyed since reset (printable only)
//   state                 "ok host=0|1 wpm=N mode=XX status=XX buffered=N"
// Replies are "ok ..." or "error <reason>".
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace keyer_sim {

struct Options {
    int version = 23;
    // Morse timing is divided by this, so tests need not wait for real keying.
    double speedup = 1.0;
    // When not empty, a symlink to the pty slave is created here (and removed on Stop).
    std::string link_path;
    // The keyer's own text buffer: hold (0x01) is raised above `high_water` bytes and
    // dropped again at `low_water` or fewer.
    int buffer_capacity = 128;
    int high_water = 96;
    int low_water = 32;
};

struct LoggedByte {
    std::chrono::steady_clock::time_point when;
    uint8_t byte;
};

class KeyerSim {
  public:
    explicit KeyerSim(Options options = {});
    ~KeyerSim();  // Stop()
    KeyerSim(const KeyerSim&) = delete;
    KeyerSim& operator=(const KeyerSim&) = delete;

    // Opens the pty, makes it raw, creates the link and starts the keyer thread.
    bool Start();
    void Stop();

    // The slave device path (/dev/pts/N), or the link path when one was asked for.
    std::string PortPath() const;

    // One control line, answered as the protocol above says. Thread-safe.
    std::string Command(const std::string& line);

    // Typed conveniences over the same state.
    std::vector<LoggedByte> Log() const;
    std::vector<uint8_t> Received() const;
    // Waits until at least `count` bytes have been received since reset, or the time-out.
    bool WaitForReceived(size_t count, std::chrono::milliseconds timeout) const;
    std::string Keyed() const;
    bool WaitForKeyed(const std::string& text, std::chrono::milliseconds timeout) const;
    bool HostModeOpen() const;
    void Inject(const std::vector<uint8_t>& bytes);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace keyer_sim
