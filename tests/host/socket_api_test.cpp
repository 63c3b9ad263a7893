// The host side of the socket seam on loopback. The station's end goes through the seam;
// where a test needs a peer that does something the seam never would, the peer is a plain
// BSD socket of the test's own.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <vector>

#include "tests/host/socket_test_peer.h"

namespace {

using namespace loopback;

using SocketSeam = LoopbackTest;

// The seam's handle is the descriptor itself.
int NoDelayOf(SocketHandle socket) {
    int on = 0;
    socklen_t size = sizeof on;
    getsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &on, &size);
    return on != 0 ? 1 : 0;
}
TEST(SocketNotify, WordsSplitIntoSocketEventAndError) {
    const SocketEvent event = DecodeSocketNotify(0x1234, (10061 << 16) | kSocketConnect);
    EXPECT_EQ(event.socket, 0x1234u);
    EXPECT_EQ(event.event, kSocketConnect);
    EXPECT_EQ(event.error, 10061);
    const SocketEvent read = DecodeSocketNotify(7, kSocketRead);
    EXPECT_EQ(read.event, kSocketRead);
    EXPECT_EQ(read.error, 0);
    EXPECT_EQ(kListenerEvents, 0x29);
    EXPECT_EQ(kConnectorEvents, 0x31);
}

TEST(SocketLibrary, EveryStartIsMatchedByExactlyOneStop) {
    SocketLoop sockets;
    EXPECT_EQ(sockets.Starts(), 0);
    EXPECT_EQ(sockets.Stop(), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
    EXPECT_EQ(sockets.Start(), 0);
    EXPECT_EQ(sockets.Start(), 0);
    EXPECT_EQ(sockets.Starts(), 2);
    EXPECT_EQ(sockets.Stop(), 0);
    EXPECT_EQ(sockets.Starts(), 1);
    EXPECT_EQ(sockets.Stop(), 0);
    EXPECT_EQ(sockets.Starts(), 0);
    EXPECT_EQ(sockets.Stop(), kSocketError);
    EXPECT_EQ(sockets.Starts(), 0);
}

TEST(SocketLibrary, NothingWorksBeforeTheStart) {
    SocketLoop sockets;
    EXPECT_EQ(sockets.OpenStream(NetAddress::Family::kIpv4), kNoSocket);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
    HostEntry entry;
    EXPECT_FALSE(sockets.LookupHostByName("localhost", &entry));
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
    char name[128];
    EXPECT_NE(sockets.LocalHostName(name, sizeof name), 0);
}

TEST_F(SocketSeam, LastStopClosesTheSocketsStillOpen) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const int peer = RawConnect(port);
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);

    ASSERT_EQ(sockets_.Start(), 0);
    ASSERT_EQ(sockets_.Stop(), 0);
    // Still started once: the connection is untouched.
    EXPECT_EQ(sockets_.SendSome(accepted, BuildPacket(PKT_CLEAR, 0).bytes, kPacketSize), 20);
    EXPECT_EQ(RawReceive(peer, kPacketSize), Bytes(BuildPacket(PKT_CLEAR, 0)));

    ASSERT_EQ(sockets_.Stop(), 0);
    uint8_t byte;
    pollfd wait{peer, POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, kPatienceMs), 1);
    EXPECT_EQ(recv(peer, &byte, 1, 0), 0) << "the peer sees the connection end";
    EXPECT_EQ(sockets_.Close(accepted), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
}

TEST_F(SocketSeam, CloseRefusesWhatTheSeamDidNotOpen) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    Raw(pipe_ends[0]);
    Raw(pipe_ends[1]);
    EXPECT_EQ(sockets_.Close(static_cast<SocketHandle>(pipe_ends[0])), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
    EXPECT_EQ(sockets_.Close(kNoSocket), kSocketError);
    EXPECT_EQ(sockets_.SendSome(static_cast<SocketHandle>(pipe_ends[1]),
                                BuildPacket(PKT_CLEAR, 0).bytes, kPacketSize),
              kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
    // The pipe is whole: nothing was closed or written behind its owner's back.
    const char byte = 'x';
    ASSERT_EQ(write(pipe_ends[1], &byte, 1), 1);
    char back = 0;
    ASSERT_EQ(read(pipe_ends[0], &back, 1), 1);
    EXPECT_EQ(back, 'x');

    const SocketHandle socket = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_NE(socket, kNoSocket);
    EXPECT_EQ(sockets_.Close(socket), 0);
    EXPECT_EQ(sockets_.Close(socket), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
}

TEST_F(SocketSeam, BadArgumentsAreRefused) {
    const SocketHandle socket = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_NE(socket, kNoSocket);
    EXPECT_EQ(sockets_.Select(socket, 0x40), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorInvalid);
    EXPECT_EQ(sockets_.Receive(socket, nullptr, 20), kSocketError);
    EXPECT_EQ(sockets_.Accept(socket), kNoSocket) << "not listening";
    EXPECT_EQ(sockets_.SendSome(socket, nullptr, 20), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorFault);
    int port = 0;
    const SocketHandle listener = Listener(&port);
    EXPECT_EQ(sockets_.Connect(listener, kLoopbackAddress, static_cast<uint16_t>(port)),
              kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorInvalid) << "a listener does not connect";
    EXPECT_EQ(sockets_.Connect(kNoSocket, kLoopbackAddress, 81), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
    EXPECT_EQ(sockets_.LocalHostName(nullptr, 0), kSocketError);
    EXPECT_FALSE(sockets_.LookupHostByName("localhost", nullptr));
    SocketEvent event{};
    EXPECT_FALSE(sockets_.Wait(0, &event)) << "nothing has happened";
    EXPECT_FALSE(sockets_.Wait(0, nullptr));
}

TEST_F(SocketSeam, NamesResolveForwardAndBack) {
    HostEntry entry;
    ASSERT_TRUE(sockets_.LookupHostByName("localhost", &entry)) << SocketLastError();
    EXPECT_FALSE(entry.official_name.empty());
    EXPECT_NE(std::find(entry.addresses.begin(), entry.addresses.end(), kLoopbackAddress),
              entry.addresses.end());

    HostEntry reverse;
    ASSERT_TRUE(sockets_.LookupHostByAddress(kLoopbackAddress, &reverse)) << SocketLastError();
    EXPECT_FALSE(reverse.official_name.empty());
    EXPECT_EQ(reverse.addresses, std::vector<NetAddress>{kLoopbackAddress});

    char name[128];
    ASSERT_EQ(sockets_.LocalHostName(name, sizeof name), 0);
    EXPECT_GT(std::strlen(name), 0u);
}

TEST_F(SocketSeam, UnknownNameFailsWithALookupError) {
    HostEntry entry;
    entry.official_name = "untouched";
    EXPECT_FALSE(sockets_.LookupHostByName("no-such-station.invalid", &entry));
    const int error = SocketLastError();
    EXPECT_TRUE(error == kSocketErrorHostNotFound || error == kSocketErrorNoData ||
                error == kSocketErrorTryAgain)
        << error;
    EXPECT_EQ(entry.official_name, "untouched");
}

TEST_F(SocketSeam, ListenAndConnectRaiseAcceptAndConnect) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const SocketHandle client = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_NE(client, kNoSocket);
    ASSERT_EQ(sockets_.Select(client, kConnectorEvents), 0);
    const int result = sockets_.Connect(client, kLoopbackAddress, static_cast<uint16_t>(port));
    if (result != 0) {
        EXPECT_EQ(SocketLastError(), kSocketErrorWouldBlock);
    }

    bool accepted = false;
    bool connected = false;
    SocketHandle server_side = kNoSocket;
    while (!(accepted && connected)) {
        const SocketEvent event = NextEvent();
        ASSERT_NE(event.socket, kNoSocket) << "accept " << accepted << " connect " << connected;
        if (event.socket == listener) {
            EXPECT_EQ(event.event, kSocketAccept);
            EXPECT_FALSE(accepted) << "one accept event per client";
            accepted = true;
            server_side = sockets_.Accept(listener);
            ASSERT_NE(server_side, kNoSocket);
        } else {
            EXPECT_EQ(event.socket, client);
            EXPECT_EQ(event.event, kSocketConnect);
            EXPECT_EQ(event.error, 0);
            EXPECT_FALSE(connected) << "one connect event per connect";
            connected = true;
        }
    }

    // Each packet leaves at once, from either end: no waiting for the last one's
    // acknowledgement, which the other side delays.
    EXPECT_EQ(NoDelayOf(client), 1);
    EXPECT_EQ(NoDelayOf(server_side), 1);

    // Both ways, and the accepted socket raises the read events it inherited.
    const Packet request = BuildPacket(PKT_VERSION_REQUEST, 0);
    ASSERT_EQ(sockets_.SendSome(client, request.bytes, kPacketSize), 20);
    SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, server_side);
    EXPECT_EQ(event.event, kSocketRead);
    uint8_t buffer[kPacketSize];
    ASSERT_EQ(sockets_.Receive(server_side, buffer, sizeof buffer), 20);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 20), Bytes(request));

    const Packet reply = BuildPacket(PKT_VERSION_REPLY, 31);
    ASSERT_EQ(sockets_.SendSome(server_side, reply.bytes, kPacketSize), 20);
    event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketRead);
    ASSERT_EQ(sockets_.Receive(client, buffer, sizeof buffer), 20);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 20), Bytes(reply));

    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket);
}

TEST_F(SocketSeam, ReadEventFollowsEachReadWhileBytesRemain) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const int peer = RawConnect(port);
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);

    std::vector<uint8_t> stream;
    for (uint8_t c : {'C', 'Q', 'D'}) {
        const std::vector<uint8_t> bytes = Bytes(BuildPacket(PKT_TEXT_CHAR, c));
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    RawSendAll(peer, stream);
    ASSERT_TRUE(WaitUnread(accepted, 60));

    SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, accepted);
    EXPECT_EQ(event.event, kSocketRead);
    // Not raised again until the handler reads.
    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket);

    uint8_t buffer[kPacketSize];
    for (uint8_t c : {'C', 'Q', 'D'}) {
        ASSERT_EQ(sockets_.Receive(accepted, buffer, sizeof buffer), 20);
        EXPECT_EQ(buffer[2], c);
        if (c != 'D') {
            event = NextEvent();
            EXPECT_EQ(event.socket, accepted) << c;
            EXPECT_EQ(event.event, kSocketRead) << c;
        }
    }
    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket) << "nothing left unread";

    RawSendAll(peer, Bytes(BuildPacket(PKT_SPEED, 25)));
    event = NextEvent();
    EXPECT_EQ(event.socket, accepted);
    EXPECT_EQ(event.event, kSocketRead);
    ASSERT_EQ(sockets_.Receive(accepted, buffer, sizeof buffer), 20);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 20), Bytes(BuildPacket(PKT_SPEED, 25)));
}

TEST_F(SocketSeam, ResetConnectionRaisesCloseWithItsError) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const int peer = RawConnect(port);
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);
    const linger abort_on_close{1, 0};
    ASSERT_EQ(setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close), 0);
    close(peer);

    const SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, accepted);
    EXPECT_EQ(event.event, kSocketClose);
    EXPECT_EQ(event.error, kSocketErrorConnectionReset);
}

TEST_F(SocketSeam, ResetLeavesThePeerAResetRatherThanAnOrderlyClose) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const int peer = RawConnect(port);
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);
    EXPECT_EQ(sockets_.Reset(accepted), 0);
    pollfd wait{peer, POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, kPatienceMs), 1);
    uint8_t byte;
    EXPECT_EQ(recv(peer, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
}

TEST_F(SocketSeam, ListenerAcceptsTheNextClientAfterOneLeaves) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const int first = RawConnect(port);
    const SocketHandle first_link = AcceptOne(listener);
    ASSERT_NE(first_link, kNoSocket);
    close(first);
    SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, first_link);
    EXPECT_EQ(event.event, kSocketClose);
    EXPECT_EQ(sockets_.Close(first_link), 0);

    const int second = RawConnect(port);
    const SocketHandle second_link = AcceptOne(listener);
    ASSERT_NE(second_link, kNoSocket);
    RawSendAll(second, Bytes(BuildPacket(PKT_HEARTBEAT, 4)));
    event = NextEvent();
    EXPECT_EQ(event.socket, second_link);
    EXPECT_EQ(event.event, kSocketRead);
}

TEST_F(SocketSeam, ClientSeesTheServerGo) {
    int port = 0;
    const int server = RawListen(&port);
    const SocketHandle client = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_EQ(sockets_.Select(client, kConnectorEvents), 0);
    sockets_.Connect(client, kLoopbackAddress, static_cast<uint16_t>(port));
    const int link = Raw(accept(server, nullptr, nullptr));
    ASSERT_GE(link, 0);
    SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketConnect);
    EXPECT_EQ(event.error, 0);

    shutdown(link, SHUT_RDWR);
    event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketClose);
    EXPECT_EQ(event.error, 0);
}

TEST_F(SocketSeam, ConnectToAClosedPortReportsRefused) {
    // Bound but not listening: the port is held, so no one else can be listening on it.
    const SocketHandle holder = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_EQ(sockets_.Bind(holder, kLoopbackAddress, 0), 0);
    const int port = sockets_.LocalPort(holder);
    ASSERT_GT(port, 0);

    const SocketHandle client = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_EQ(sockets_.Select(client, kConnectorEvents), 0);
    const int result = sockets_.Connect(client, kLoopbackAddress, static_cast<uint16_t>(port));
    if (result == kSocketError && SocketLastError() != kSocketErrorWouldBlock) {
        EXPECT_EQ(SocketLastError(), kSocketErrorRefused);
        return;
    }
    const SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketConnect);
    EXPECT_EQ(event.error, kSocketErrorRefused);
    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket) << "a failed connect raises no close";
    EXPECT_EQ(sockets_.Close(client), 0);
}

TEST_F(SocketSeam, SecondListenOnABoundPortFails) {
    int port = 0;
    Listener(&port);
    const SocketHandle second = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_NE(second, kNoSocket);
    EXPECT_EQ(sockets_.Bind(second, kLoopbackAddress, static_cast<uint16_t>(port)), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorAddressInUse);
    EXPECT_EQ(sockets_.Listen(second, 1), 0) << "an unbound socket listens on a port of its own";
    EXPECT_NE(sockets_.LocalPort(second), port);
}

// Two loops in one process, as two stations each on its own: neither knows the other's
// sockets, each raises only its own sockets' events, and the last stop of one closes only
// its own.
TEST_F(SocketSeam, EachLoopKnowsOnlyItsOwnSockets) {
    SocketLoop other;
    ASSERT_EQ(other.Start(), 0);
    int port = 0;
    const SocketHandle listener = Listener(&port);
    EXPECT_EQ(other.Accept(listener), kNoSocket);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
    EXPECT_EQ(other.Close(listener), kSocketError);

    const int peer = RawConnect(port);
    SocketEvent event{};
    EXPECT_FALSE(other.Wait(kQuietMs, &event)) << "not the other loop's listener";
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);
    EXPECT_EQ(other.Stop(), 0);
    EXPECT_EQ(sockets_.SendSome(accepted, BuildPacket(PKT_CLEAR, 0).bytes, kPacketSize), 20);
    EXPECT_EQ(RawReceive(peer, kPacketSize), Bytes(BuildPacket(PKT_CLEAR, 0)));
}

// As on Winsock, a send that found no room asks for the write event, which comes once the
// stream has room again.
TEST_F(SocketSeam, WriteEventFollowsASendThatFoundNoRoom) {
    int port = 0;
    const int server = RawListen(&port, 2048);
    const SocketHandle client = sockets_.OpenStream(NetAddress::Family::kIpv4);
    ASSERT_EQ(sockets_.SetSendBuffer(client, 2048), 0);
    ASSERT_EQ(sockets_.Select(client, kConnectorEvents | kSocketWrite), 0);
    sockets_.Connect(client, kLoopbackAddress, static_cast<uint16_t>(port));
    const int link = Raw(accept(server, nullptr, nullptr));
    ASSERT_EQ(NextEvent().event, kSocketConnect);
    ASSERT_EQ(NextEvent().event, kSocketWrite) << "room from the start";

    const std::vector<uint8_t> chunk(1024, 0x55);
    std::size_t sent = 0;
    for (int tries = 0; tries < 10000; ++tries) {
        const int taken = sockets_.SendSome(client, chunk.data(), chunk.size());
        ASSERT_GE(taken, 0);
        if (taken == 0) {
            break;
        }
        sent += static_cast<std::size_t>(taken);
    }
    ASSERT_EQ(RawReceive(link, sent).size(), sent);
    const SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketWrite);
}

}  // namespace
