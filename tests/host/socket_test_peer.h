// The test's side of a loopback link for the socket seam's host tests: a fixture that owns a
// socket loop and starts and stops its socket library around each case, one that links a peer
// to a listener of the station's, and a plain BSD peer for the things the seam itself would
// never do (stop reading, reset the connection, write half a packet).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "net/packet.h"
#include "net/socket_api.h"
#include "tools/common/wait_until.h"

namespace loopback {

constexpr int kPatienceMs = 10000;
// Long enough for an event that should not come to have come if it were going to: the
// loop raises what it sees within one poll slice.
constexpr int kQuietMs = 300;

inline const uint32_t kLoopback = htonl(INADDR_LOOPBACK);
inline const NetAddress kLoopbackAddress = NetAddress::Ipv4(INADDR_LOOPBACK);

// A plain socket connected to `port` on loopback, for the caller to close.
// `from`, when given, is the loopback address the client comes from (127.0.0.2, say).
inline int PlainConnect(int port, const char* from = nullptr) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (from != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from, &local.sin_addr);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0)
            << std::strerror(errno);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = kLoopback;
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
    return fd;
}

class LoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(sockets_.Start(), 0); }
    void TearDown() override {
        for (int fd : raw_) {
            close(fd);
        }
        while (sockets_.Starts() > 0) {
            sockets_.Stop();
        }
    }

    // The next event within the patience, or an event with no socket.
    SocketEvent NextEvent(int timeout_ms = kPatienceMs) {
        SocketEvent event{kNoSocket, 0, 0};
        if (!sockets_.Wait(timeout_ms, &event)) {
            return SocketEvent{kNoSocket, 0, 0};
        }
        return event;
    }

    // A plain socket the test owns, closed at the end of the test.
    int Raw(int fd) {
        raw_.push_back(fd);
        return fd;
    }

    int RawConnect(int port) { return Raw(PlainConnect(port)); }

    // A listening plain socket on a free loopback port; `receive_buffer` > 0 shrinks what
    // the accepted connection may hold unread.
    int RawListen(int* port, int receive_buffer = 0) {
        const int fd = Raw(socket(AF_INET, SOCK_STREAM, 0));
        if (receive_buffer > 0) {
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = kLoopback;
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd, 4), 0);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        *port = ntohs(address.sin_port);
        return fd;
    }

    // The station's listener through the seam, as a Net Server sets it up.
    SocketHandle Listener(int* port) {
        const SocketHandle listener = sockets_.OpenStream(NetAddress::Family::kIpv4);
        EXPECT_NE(listener, kNoSocket);
        EXPECT_EQ(sockets_.Bind(listener, kLoopbackAddress, 0), 0);
        EXPECT_EQ(sockets_.Listen(listener, 1), 0);
        EXPECT_EQ(sockets_.Select(listener, kListenerEvents), 0);
        *port = sockets_.LocalPort(listener);
        EXPECT_GT(*port, 0);
        return listener;
    }

    // The listener's FD_ACCEPT and the accepted socket.
    SocketHandle AcceptOne(SocketHandle listener) {
        SocketEvent event{};
        EXPECT_TRUE(sockets_.Wait(kPatienceMs, &event));
        EXPECT_EQ(event.socket, listener);
        EXPECT_EQ(event.event, kSocketAccept);
        EXPECT_EQ(event.error, 0);
        const SocketHandle accepted = sockets_.Accept(listener);
        EXPECT_NE(accepted, kNoSocket) << SocketLastError();
        return accepted;
    }

    // The loop the station under test, if any, is made on too.
    SocketLoop sockets_;

  private:
    std::vector<int> raw_;
};

// A Net Server's link, the test being the client: the station's listener through the seam,
// the test's plain socket connected to it, and the connection the station accepted.
class PeerLinkTest : public LoopbackTest {
  protected:
    void ConnectPeer() {
        int port = 0;
        listener_ = Listener(&port);
        peer_ = RawConnect(port);
        connection_ = AcceptOne(listener_);
        ASSERT_NE(connection_, kNoSocket);
    }

    SocketHandle listener_ = kNoSocket;
    SocketHandle connection_ = kNoSocket;
    int peer_ = -1;
};

// The 20 bytes of a packet as a station writes it, spelt out rather than built, so that a
// fault in building packets shows: what carries nothing is zero.
inline std::vector<uint8_t> Wire(uint8_t type, uint8_t value,
                                 const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> bytes(kPacketSize, 0);
    bytes[0] = 0xA5;
    bytes[1] = type;
    bytes[2] = value;
    for (std::size_t i = 0; i < payload.size(); ++i) {
        bytes[4 + i] = payload[i];
    }
    return bytes;
}

inline std::vector<uint8_t> Bytes(const Packet& packet) {
    return std::vector<uint8_t>(packet.bytes, packet.bytes + kPacketSize);
}

inline void RawSendAll(int fd, const std::vector<uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        ASSERT_GT(count, 0) << std::strerror(errno);
        sent += static_cast<std::size_t>(count);
    }
}

// Waits until `count` bytes sit unread on `socket`, so that what a test then sees of the
// read events does not depend on how loopback happened to split the writes.
inline bool WaitUnread(SocketHandle socket, int count) {
    int unread = 0;
    return WaitUntil(
        [&] { return ioctl(static_cast<int>(socket), FIONREAD, &unread) == 0 && unread >= count; },
        std::chrono::milliseconds(kPatienceMs), std::chrono::milliseconds(2));
}

// Reads from a plain socket until `count` bytes came, the peer closed, or the patience ran
// out.
inline std::vector<uint8_t> RawReceive(int fd, std::size_t count, std::size_t chunk = 4096,
                                       int patience_ms = kPatienceMs) {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(chunk);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience_ms);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 50) <= 0) {
            continue;
        }
        const ssize_t got = recv(fd, buffer.data(), std::min(chunk, count - bytes.size()), 0);
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
    }
    return bytes;
}

}  // namespace loopback
