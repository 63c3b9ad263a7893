// A Windows program's end of a keyer emulator's control channel: one line out, one line
// back, over TCP on 127.0.0.1, and the waits on the emulator's wire and state that the Wine
// tests, the demo, the benchmark and the soak share. The caller has started Winsock.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>
#include <vector>

// A byte on the emulator's wire and when, in microseconds of the emulator's own clock.
struct TimedByte {
    double at_us;
    uint8_t byte;
};

class KeyerSimControl {
  public:
    KeyerSimControl() = default;
    ~KeyerSimControl() { Close(); }
    KeyerSimControl(const KeyerSimControl&) = delete;
    KeyerSimControl& operator=(const KeyerSimControl&) = delete;

    bool Connect(int port);
    void Close();
    // The reply line, or "error ..." when the emulator does not answer.
    std::string Command(const std::string& line);
    // Every byte the emulator has received since its reset.
    std::vector<uint8_t> Received();
    // The same with the time each arrived, and every byte it sent with the time it went;
    // empty when it does not answer.
    std::vector<TimedByte> Logged() { return TimedBytes("log"); }
    std::vector<TimedByte> Sent() { return TimedBytes("sent"); }
    // The first reply to Received that was not "ok ...", or "" while each was. An emulator
    // that stopped answering reads as an empty wire, which a caller expecting silence must
    // not take for one: it looks here once it is done.
    const std::string& failure() const { return failure_; }

    // The wire as soon as it ends with `tail`, or as it is after the time-out.
    std::vector<uint8_t> ReceivedEndingWith(const std::vector<uint8_t>& tail, int timeout_ms);
    // The wire as soon as it holds `part` anywhere, or as it is after the time-out.
    std::vector<uint8_t> ReceivedContaining(const std::vector<uint8_t>& part, int timeout_ms);
    // The wire after its first `mark` bytes as soon as that holds `part`, or as it is after
    // the time-out.
    std::vector<uint8_t> ReceivedSince(size_t mark, const std::vector<uint8_t>& part,
                                       int timeout_ms);
    // One `name=value` field of the emulator's state line, or "" when it is missing.
    std::string StateField(const std::string& name);
    // Polls the field until it reads `value`; the last reading either way.
    std::string WaitForStateField(const std::string& name, const std::string& value,
                                  int timeout_ms);

  private:
    std::vector<TimedByte> TimedBytes(const std::string& verb);

    SOCKET socket_ = INVALID_SOCKET;
    std::string failure_;
};
