// A Wine test's end of a keyer emulator's control channel: one line out, one line back,
// over TCP on 127.0.0.1. The caller has started Winsock.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>
#include <vector>

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

  private:
    SOCKET socket_ = INVALID_SOCKET;
};
