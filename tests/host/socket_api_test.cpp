// The host side of the socket seam on loopback. The station's end goes through the seam;
// where a test needs a peer that does something the seam never would, the peer is a plain
// BSD socket of the test's own.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>
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
    EXPECT_EQ(SocketLibraryStarts(), 0);
    EXPECT_EQ(StopSockets(), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
    EXPECT_EQ(StartSockets(), 0);
    EXPECT_EQ(StartSockets(), 0);
    EXPECT_EQ(SocketLibraryStarts(), 2);
    EXPECT_EQ(StopSockets(), 0);
    EXPECT_EQ(SocketLibraryStarts(), 1);
    EXPECT_EQ(StopSockets(), 0);
    EXPECT_EQ(SocketLibraryStarts(), 0);
    EXPECT_EQ(StopSockets(), kSocketError);
    EXPECT_EQ(SocketLibraryStarts(), 0);
}

TEST(SocketLibrary, NothingWorksBeforeTheStart) {
    EXPECT_EQ(OpenStreamSocket(), kNoSocket);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
    HostEntry entry;
    EXPECT_FALSE(LookupHostByName("localhost", &entry));
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
    char name[128];
    EXPECT_NE(LocalHostName(name, sizeof name), 0);
}

TEST_F(SocketSeam, LastStopClosesTheSocketsStillOpen) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const int peer = RawConnect(port);
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);

    ASSERT_EQ(StartSockets(), 0);
    ASSERT_EQ(StopSockets(), 0);
    // Still started once: the connection is untouched.
    EXPECT_EQ(SendWhole(accepted, BuildPacket(PKT_CLEAR, 0).bytes, kPacketSize), 1);
    EXPECT_EQ(RawReceive(peer, kPacketSize), Bytes(BuildPacket(PKT_CLEAR, 0)));

    ASSERT_EQ(StopSockets(), 0);
    uint8_t byte;
    pollfd wait{peer, POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, kPatienceMs), 1);
    EXPECT_EQ(recv(peer, &byte, 1, 0), 0) << "the peer sees the connection end";
    EXPECT_EQ(CloseSocket(accepted), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
}

TEST_F(SocketSeam, CloseRefusesWhatTheSeamDidNotOpen) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    Raw(pipe_ends[0]);
    Raw(pipe_ends[1]);
    EXPECT_EQ(CloseSocket(static_cast<SocketHandle>(pipe_ends[0])), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
    EXPECT_EQ(CloseSocket(kNoSocket), kSocketError);
    EXPECT_EQ(SendWhole(static_cast<SocketHandle>(pipe_ends[1]), BuildPacket(PKT_CLEAR, 0).bytes,
                        kPacketSize),
              0);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
    // The pipe is whole: nothing was closed or written behind its owner's back.
    const char byte = 'x';
    ASSERT_EQ(write(pipe_ends[1], &byte, 1), 1);
    char back = 0;
    ASSERT_EQ(read(pipe_ends[0], &back, 1), 1);
    EXPECT_EQ(back, 'x');

    const SocketHandle socket = OpenStreamSocket();
    ASSERT_NE(socket, kNoSocket);
    EXPECT_EQ(CloseSocket(socket), 0);
    EXPECT_EQ(CloseSocket(socket), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
}

TEST_F(SocketSeam, BadArgumentsAreRefused) {
    const SocketHandle socket = OpenStreamSocket();
    ASSERT_NE(socket, kNoSocket);
    EXPECT_EQ(SelectSocketEvents(socket, nullptr, kSocketNotifyMessage, 0x40), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorInvalid);
    EXPECT_EQ(ReceiveSocket(socket, nullptr, 20), kSocketError);
    EXPECT_EQ(AcceptSocket(socket), kNoSocket) << "not listening";
    EXPECT_EQ(SendWhole(socket, nullptr, 20), 0);
    int port = 0;
    const SocketHandle listener = Listener(&port);
    EXPECT_EQ(ConnectSocket(listener, kLoopback, static_cast<uint16_t>(port)), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorInvalid) << "a listener does not connect";
    EXPECT_EQ(ConnectSocket(kNoSocket, kLoopback, 81), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotSocket);
    EXPECT_EQ(LocalHostName(nullptr, 0), kSocketError);
    EXPECT_FALSE(LookupHostByName("localhost", nullptr));
    SocketEvent event{};
    EXPECT_FALSE(WaitSocketEvent(0, &event)) << "nothing has happened";
    EXPECT_FALSE(WaitSocketEvent(0, nullptr));
}

TEST_F(SocketSeam, DottedAddressesParseAsInNetworkOrder) {
    EXPECT_EQ(ParseDottedAddress("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(ParseDottedAddress("192.168.1.20"), htonl(0xC0A80114));
    EXPECT_EQ(ParseDottedAddress("255.255.255.255"), kAddressNone);
    EXPECT_EQ(ParseDottedAddress(""), kAddressNone);
    EXPECT_EQ(ParseDottedAddress("1host"), kAddressNone);
    EXPECT_EQ(ParseDottedAddress("10.0.0.256"), kAddressNone);
    EXPECT_EQ(FormatDottedAddress(htonl(0xC0A80114)), "192.168.1.20");
    EXPECT_EQ(FormatDottedAddress(ParseDottedAddress("10.1.2.3")), "10.1.2.3");
}

TEST_F(SocketSeam, NamesResolveForwardAndBack) {
    HostEntry entry;
    ASSERT_TRUE(LookupHostByName("localhost", &entry)) << SocketLastError();
    EXPECT_FALSE(entry.official_name.empty());
    EXPECT_NE(std::find(entry.addresses.begin(), entry.addresses.end(), kLoopback),
              entry.addresses.end());

    HostEntry reverse;
    ASSERT_TRUE(LookupHostByAddress(kLoopback, &reverse)) << SocketLastError();
    EXPECT_FALSE(reverse.official_name.empty());
    EXPECT_EQ(reverse.addresses, std::vector<uint32_t>{kLoopback});

    char name[128];
    ASSERT_EQ(LocalHostName(name, sizeof name), 0);
    EXPECT_GT(std::strlen(name), 0u);
}

TEST_F(SocketSeam, UnknownNameFailsWithALookupError) {
    HostEntry entry;
    entry.official_name = "untouched";
    EXPECT_FALSE(LookupHostByName("no-such-station.invalid", &entry));
    const int error = SocketLastError();
    EXPECT_TRUE(error == kSocketErrorHostNotFound || error == kSocketErrorNoData ||
                error == kSocketErrorTryAgain)
        << error;
    EXPECT_EQ(entry.official_name, "untouched");
}

TEST_F(SocketSeam, ListenAndConnectRaiseAcceptAndConnect) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const SocketHandle client = OpenStreamSocket();
    ASSERT_NE(client, kNoSocket);
    ASSERT_EQ(SelectSocketEvents(client, nullptr, kSocketNotifyMessage, kConnectorEvents), 0);
    const int result = ConnectSocket(client, kLoopback, static_cast<uint16_t>(port));
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
            server_side = AcceptSocket(listener);
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
    ASSERT_EQ(SendWhole(client, request.bytes, kPacketSize), 1);
    SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, server_side);
    EXPECT_EQ(event.event, kSocketRead);
    uint8_t buffer[kPacketSize];
    ASSERT_EQ(ReceiveSocket(server_side, buffer, sizeof buffer), 20);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 20), Bytes(request));

    const Packet reply = BuildPacket(PKT_VERSION_REPLY, 31);
    ASSERT_EQ(SendWhole(server_side, reply.bytes, kPacketSize), 1);
    event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketRead);
    ASSERT_EQ(ReceiveSocket(client, buffer, sizeof buffer), 20);
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
        ASSERT_EQ(ReceiveSocket(accepted, buffer, sizeof buffer), 20);
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
    ASSERT_EQ(ReceiveSocket(accepted, buffer, sizeof buffer), 20);
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
    EXPECT_EQ(CloseSocket(first_link), 0);

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
    const SocketHandle client = OpenStreamSocket();
    ASSERT_EQ(SelectSocketEvents(client, nullptr, kSocketNotifyMessage, kConnectorEvents), 0);
    ConnectSocket(client, kLoopback, static_cast<uint16_t>(port));
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
    const SocketHandle holder = OpenStreamSocket();
    ASSERT_EQ(BindSocket(holder, kLoopback, 0), 0);
    const int port = SocketLocalPort(holder);
    ASSERT_GT(port, 0);

    const SocketHandle client = OpenStreamSocket();
    ASSERT_EQ(SelectSocketEvents(client, nullptr, kSocketNotifyMessage, kConnectorEvents), 0);
    const int result = ConnectSocket(client, kLoopback, static_cast<uint16_t>(port));
    if (result == kSocketError && SocketLastError() != kSocketErrorWouldBlock) {
        EXPECT_EQ(SocketLastError(), kSocketErrorRefused);
        return;
    }
    const SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketConnect);
    EXPECT_EQ(event.error, kSocketErrorRefused);
    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket) << "a failed connect raises no close";
    EXPECT_EQ(CloseSocket(client), 0);
}

TEST_F(SocketSeam, SecondListenOnABoundPortFails) {
    int port = 0;
    Listener(&port);
    const SocketHandle second = OpenStreamSocket();
    ASSERT_NE(second, kNoSocket);
    EXPECT_EQ(BindSocket(second, kLoopback, static_cast<uint16_t>(port)), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorAddressInUse);
    EXPECT_EQ(ListenSocket(second, 1), 0) << "an unbound socket listens on a port of its own";
    EXPECT_NE(SocketLocalPort(second), port);
}

// Three threads, as the window, the keyer reader and the message sender send at once, into
// small buffers and a reader that takes odd-sized bites, so sends meet a full stream.
TEST_F(SocketSeam, SendersOnThreeThreadsNeverInterleavePackets) {
    constexpr int kThreads = 3;
    constexpr int kPerThread = 600;
    int port = 0;
    const int server = RawListen(&port, 2048);
    const SocketHandle client = OpenStreamSocket();
    ASSERT_NE(client, kNoSocket);
    const int send_buffer = 2048;
    setsockopt(static_cast<int>(client), SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
    ASSERT_EQ(
        SelectSocketEvents(client, nullptr, kSocketNotifyMessage, kConnectorEvents | kSocketWrite),
        0);
    ConnectSocket(client, kLoopback, static_cast<uint16_t>(port));
    const int link = Raw(accept(server, nullptr, nullptr));
    ASSERT_GE(link, 0);
    SocketEvent event = NextEvent();
    ASSERT_EQ(event.event, kSocketConnect);
    ASSERT_EQ(event.error, 0);

    std::vector<uint8_t> received;
    // Small reads on a loaded machine are slow: the reader is patient, and should it still
    // give up, the shutdown makes the senders fail at once instead of each waiting out its
    // own patience on a connection nobody reads.
    std::thread reader([&] {
        received = RawReceive(link, kThreads * kPerThread * kPacketSize, 7, 60000);
        if (received.size() < kThreads * kPerThread * kPacketSize) {
            shutdown(link, SHUT_RDWR);
        }
    });
    std::atomic<int> failures{0};
    std::atomic<int> running{kThreads};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                uint8_t payload[kPacketPayloadSize];
                for (std::size_t j = 0; j < sizeof payload; ++j) {
                    payload[j] = static_cast<uint8_t>(t * 50 + j);
                }
                payload[0] = static_cast<uint8_t>(i >> 8);
                payload[1] = static_cast<uint8_t>(i);
                const Packet packet =
                    BuildPacket(PKT_TEXT_CHAR, static_cast<uint8_t>(t), 0, payload);
                if (SendWhole(client, packet.bytes, kPacketSize) != 1) {
                    ++failures;
                }
            }
            --running;
        });
    }
    // Meanwhile this thread plays the window and takes the events the sends cause.
    int write_events = 0;
    while (running.load() > 0) {
        SocketEvent seen{};
        if (WaitSocketEvent(20, &seen)) {
            EXPECT_EQ(seen.socket, client);
            EXPECT_EQ(seen.event, kSocketWrite);
            ++write_events;
        }
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(write_events, 1) << "at least the one after the connect";

    ASSERT_EQ(received.size(), std::size_t{kThreads * kPerThread * kPacketSize});
    PacketReassembler reassembler;
    reassembler.Append(received.data(), received.size());
    int next[kThreads] = {};
    Packet packet;
    while (reassembler.Next(&packet)) {
        ASSERT_TRUE(HasPacketMarker(packet));
        ASSERT_EQ(PacketType(packet), PKT_TEXT_CHAR);
        const int t = PacketValue(packet);
        ASSERT_LT(t, kThreads);
        const uint8_t* payload = PacketPayload(packet);
        ASSERT_EQ((payload[0] << 8) | payload[1], next[t]) << "thread " << t;
        for (std::size_t j = 2; j < kPacketPayloadSize; ++j) {
            ASSERT_EQ(payload[j], static_cast<uint8_t>(t * 50 + j)) << "thread " << t;
        }
        ASSERT_EQ(packet.bytes[19], 0);
        ++next[t];
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(next[t], kPerThread) << "thread " << t;
    }
}

// A peer that stops reading must not hang the sender: it gives up, says so, and what it
// reported as sent is exactly what reaches the peer once it reads again.
TEST_F(SocketSeam, SendToAPeerThatStopsReadingGivesUp) {
    int port = 0;
    const int server = RawListen(&port, 2048);
    const SocketHandle client = OpenStreamSocket();
    const int send_buffer = 2048;
    setsockopt(static_cast<int>(client), SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
    ASSERT_EQ(ConnectSocket(client, kLoopback, static_cast<uint16_t>(port)), 0);
    const int link = Raw(accept(server, nullptr, nullptr));
    ASSERT_GE(link, 0);

    std::vector<uint8_t> reported;
    int sent = 0;
    for (; sent < 200000; ++sent) {
        const Packet packet = BuildPacket(PKT_TEXT_CHAR, static_cast<uint8_t>(sent), 0, nullptr);
        if (SendWhole(client, packet.bytes, kPacketSize) != 1) {
            break;
        }
        reported.insert(reported.end(), packet.bytes, packet.bytes + kPacketSize);
    }
    ASSERT_LT(sent, 200000) << "the stream never filled";
    const int error = SocketLastError();
    EXPECT_TRUE(error == kSocketErrorWouldBlock || error == kSocketErrorTimedOut) << error;

    const std::vector<uint8_t> arrived = RawReceive(link, reported.size());
    ASSERT_EQ(arrived.size(), reported.size());
    EXPECT_TRUE(arrived == reported);
    // And nothing of the packet that did not go.
    pollfd wait{link, POLLIN, 0};
    EXPECT_EQ(poll(&wait, 1, kQuietMs), 0);
}

}  // namespace
