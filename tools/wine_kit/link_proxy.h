// A TCP proxy on loopback between two real stations, playing the line between them: it
// forwards each connection it takes to the station behind it, both ways, each way after a
// delay when one is asked for. A jittery line holds each 20-byte packet a further random
// time, drawn from a seeded generator so that a run can be repeated; as on TCP, no packet
// overtakes the one before it, so it leaves at the later of its own time and its
// predecessor's. StopForwarding turns every connection it carries into a dead
// line: what either side sends goes nowhere, and neither side sees a close, as when a home
// connection drops or the operator's machine loses power. Connections taken afterwards are
// forwarded as usual, as a line that has come back. The caller has started Winsock.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class LinkProxy {
  public:
    struct Line {
        int delay_ms = 0;
        int jitter_ms = 0;  // each packet held a further 0..jitter_ms, uniformly
        uint32_t seed = 1;
    };

    LinkProxy(uint16_t target_port, Line line);
    ~LinkProxy();
    LinkProxy(const LinkProxy&) = delete;
    LinkProxy& operator=(const LinkProxy&) = delete;

    // Listens on a free loopback port; false when it cannot.
    bool Start();
    uint16_t port() const { return port_; }
    void StopForwarding();

  private:
    struct Connection;
    void AcceptLoop();

    const uint16_t target_port_;
    const Line line_;
    uint16_t port_ = 0;
    SOCKET listener_ = INVALID_SOCKET;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> connections_;
};
