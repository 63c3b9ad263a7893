// The logger port's socket: one UDP socket on the station's socket loop, with its own start
// of the socket library, so that the link's close never takes it along. It reads one datagram
// per read event and sends the replies; what a datagram asks is the station's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/net_address.h"
#include "net/socket_api.h"

struct LoggerDatagram {
    std::vector<uint8_t> bytes;
    // Longer than a request may be: its bytes are not kept.
    bool too_long = false;
    NetAddress from;
    uint16_t from_port = 0;
};

class LoggerSocket {
  public:
    explicit LoggerSocket(SocketLoop& sockets) : sockets_(sockets) {}
    ~LoggerSocket() { Close(); }
    LoggerSocket(const LoggerSocket&) = delete;
    LoggerSocket& operator=(const LoggerSocket&) = delete;

    // Bound to `address` and `port` and reading: 0, or the error number, with nothing held.
    int Open(const NetAddress& address, uint16_t port);
    void Close();
    bool IsOpen() const { return socket_ != kNoSocket; }
    bool Owns(SocketHandle socket) const { return IsOpen() && socket == socket_; }
    // The datagram waiting; false when there was none or the receive failed.
    bool Receive(LoggerDatagram* datagram);
    void Send(const std::string& text, const NetAddress& address, uint16_t port);

  private:
    SocketLoop& sockets_;
    SocketHandle socket_ = kNoSocket;
};
