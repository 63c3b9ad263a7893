// The Windows side of the socket seam on loopback, with its events arriving as the window
// message they are on the Main window: a message-only window of the test's own receives
// them, and the test's thread pumps its messages as the Main window's thread would. The
// peer, where one is needed, is a plain blocking Winsock socket of the test's own.
// Winsock's header must come before the window system's.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "net/packet.h"
#include "net/socket_api.h"
#include "tools/common/wait_until.h"

namespace {

const NetAddress kLoopback = NetAddress::Ipv4(0x7F000001);

constexpr DWORD kPatienceMs = 10000;
constexpr DWORD kQuietMs = 300;
constexpr char kWindowClass[] = "PellmarSocketTestWindow";

std::deque<SocketEvent> received_events;

LRESULT CALLBACK NotifyProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kSocketNotifyMessage) {
        received_events.push_back(DecodeSocketNotify(wparam, lparam));
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

std::vector<uint8_t> Bytes(const Packet& packet) {
    return std::vector<uint8_t>(packet.bytes, packet.bytes + kPacketSize);
}

class Win32SocketSeam : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = NotifyProcedure;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = kWindowClass;
        RegisterClassA(&window_class);
        window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        sockets_ = std::make_unique<SocketLoop>(window_);
        received_events.clear();
        ASSERT_EQ(sockets_->Start(), 0);
    }

    void TearDown() override {
        for (SOCKET raw : raw_) {
            closesocket(raw);
        }
        sockets_.reset();
        DestroyWindow(window_);
    }

    // The next notification, pumping this thread's messages meanwhile; an event with no
    // socket when none came.
    SocketEvent NextEvent(DWORD timeout_ms = kPatienceMs) {
        SocketEvent event{kNoSocket, 0, 0};
        const auto arrived = [&] {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&message);
            }
            if (received_events.empty()) {
                return false;
            }
            event = received_events.front();
            received_events.pop_front();
            return true;
        };
        WaitUntil(arrived, std::chrono::milliseconds(timeout_ms),
                  [] { MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT); });
        return event;
    }

    SocketHandle Listener(int* port) {
        const SocketHandle listener = sockets_->OpenStream(NetAddress::Family::kIpv4);
        EXPECT_NE(listener, kNoSocket);
        EXPECT_EQ(sockets_->Bind(listener, kLoopback, 0), 0);
        EXPECT_EQ(sockets_->Listen(listener, 1), 0);
        EXPECT_EQ(sockets_->Select(listener, kListenerEvents), 0);
        *port = sockets_->LocalPort(listener);
        EXPECT_GT(*port, 0);
        return listener;
    }

    SocketHandle AcceptOne(SocketHandle listener) {
        const SocketEvent event = NextEvent();
        EXPECT_EQ(event.socket, listener);
        EXPECT_EQ(event.event, kSocketAccept);
        EXPECT_EQ(event.error, 0);
        const SocketHandle accepted = sockets_->Accept(listener);
        EXPECT_NE(accepted, kNoSocket) << SocketLastError();
        return accepted;
    }

    SOCKET RawConnect(int port) {
        const SOCKET raw = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        raw_.push_back(raw);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
            << WSAGetLastError();
        return raw;
    }

    void RawConnectIpv6(int port) {
        const SOCKET raw = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
        raw_.push_back(raw);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(static_cast<u_short>(port));
        address.sin6_addr.s6_addr[15] = 1;  // ::1
        EXPECT_EQ(connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
            << WSAGetLastError();
    }

    SOCKET RawListen(int* port) {
        const SOCKET raw = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        raw_.push_back(raw);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(raw, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(raw, 4), 0);
        int length = sizeof address;
        getsockname(raw, reinterpret_cast<sockaddr*>(&address), &length);
        *port = ntohs(address.sin_port);
        return raw;
    }

    SOCKET Keep(SOCKET raw) {
        raw_.push_back(raw);
        return raw;
    }

    // Made with the window, whose messages are its loop.
    std::unique_ptr<SocketLoop> sockets_;

  private:
    HWND window_ = nullptr;
    std::vector<SOCKET> raw_;
};

void RawSendAll(SOCKET raw, const std::vector<uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int count = send(raw, reinterpret_cast<const char*>(bytes.data() + sent),
                               static_cast<int>(bytes.size() - sent), 0);
        ASSERT_GT(count, 0) << WSAGetLastError();
        sent += static_cast<std::size_t>(count);
    }
}

bool WaitUnread(SocketHandle socket, u_long count) {
    u_long unread = 0;
    return WaitUntil(
        [&] {
            return ioctlsocket(static_cast<SOCKET>(socket), FIONREAD, &unread) == 0 &&
                   unread >= count;
        },
        std::chrono::milliseconds(kPatienceMs), std::chrono::milliseconds(5));
}

TEST(Win32SocketLibrary, EveryStartIsMatchedByExactlyOneStop) {
    SocketLoop sockets(nullptr);
    EXPECT_EQ(sockets.Starts(), 0);
    EXPECT_EQ(sockets.Stop(), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
    EXPECT_EQ(sockets.Start(), 0);
    EXPECT_EQ(sockets.Start(), 0);
    EXPECT_EQ(sockets.Stop(), 0);
    EXPECT_EQ(sockets.Starts(), 1);
    EXPECT_NE(sockets.OpenStream(NetAddress::Family::kIpv4), kNoSocket) << "still started once";
    EXPECT_EQ(sockets.Stop(), 0);
    EXPECT_EQ(sockets.Stop(), kSocketError);
    EXPECT_EQ(sockets.OpenStream(NetAddress::Family::kIpv4), kNoSocket);
    EXPECT_EQ(SocketLastError(), kSocketErrorNotStarted);
}

TEST_F(Win32SocketSeam, LoopbackNames) {
    HostEntry entry;
    ASSERT_TRUE(sockets_->LookupHostByName("localhost", &entry)) << SocketLastError();
    EXPECT_FALSE(entry.addresses.empty());
    char name[128];
    EXPECT_EQ(sockets_->LocalHostName(name, sizeof name), 0);
}

TEST_F(Win32SocketSeam, ListenAndConnectPostAcceptAndConnect) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const SocketHandle client = sockets_->OpenStream(NetAddress::Family::kIpv4);
    ASSERT_NE(client, kNoSocket);
    ASSERT_EQ(sockets_->Select(client, kConnectorEvents), 0);
    const int result = sockets_->Connect(client, kLoopback, static_cast<uint16_t>(port));
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
            accepted = true;
            server_side = sockets_->Accept(listener);
            ASSERT_NE(server_side, kNoSocket);
        } else {
            EXPECT_EQ(event.socket, client);
            EXPECT_EQ(event.event, kSocketConnect);
            EXPECT_EQ(event.error, 0);
            connected = true;
        }
    }
    // Each packet leaves at once, from either end (the handle is the SOCKET itself).
    for (const SocketHandle end : {client, server_side}) {
        BOOL on = FALSE;
        int size = sizeof on;
        getsockopt(static_cast<SOCKET>(end), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on),
                   &size);
        EXPECT_TRUE(on);
    }
    const Packet request = BuildPacket(PKT_VERSION_REQUEST, 0);
    ASSERT_EQ(sockets_->SendSome(client, request.bytes, kPacketSize), 20);
    const SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, server_side) << "the accepted socket inherits the selection";
    EXPECT_EQ(event.event, kSocketRead);
    uint8_t buffer[kPacketSize];
    ASSERT_EQ(sockets_->Receive(server_side, buffer, sizeof buffer), 20);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 20), Bytes(request));
}

// A listener on :: takes both families, and an IPv4 client comes out of it as IPv4.
TEST_F(Win32SocketSeam, ADualStackListenerTakesBothFamilies) {
    const SocketHandle listener = sockets_->OpenStream(NetAddress::Family::kIpv6);
    ASSERT_NE(listener, kNoSocket);
    ASSERT_EQ(sockets_->Bind(listener, NetAddress::Any(NetAddress::Family::kIpv6), 0), 0)
        << SocketLastError();
    ASSERT_EQ(sockets_->Listen(listener, 1), 0);
    ASSERT_EQ(sockets_->Select(listener, kListenerEvents), 0);
    const int port = sockets_->LocalPort(listener);
    RawConnect(port);
    NetAddress peer;
    ASSERT_TRUE(sockets_->PeerAddress(AcceptOne(listener), &peer));
    EXPECT_EQ(peer, kLoopback) << peer.Text();

    RawConnectIpv6(port);
    ASSERT_TRUE(sockets_->PeerAddress(AcceptOne(listener), &peer));
    EXPECT_EQ(peer.Text(), "::1");
}

TEST_F(Win32SocketSeam, ReadIsPostedAgainAfterAReadThatLeavesBytes) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const SOCKET peer = RawConnect(port);
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);
    std::vector<uint8_t> stream;
    for (uint8_t c : {'C', 'Q', 'D'}) {
        const std::vector<uint8_t> bytes = Bytes(BuildPacket(PKT_TEXT_CHAR, c));
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    RawSendAll(peer, stream);
    ASSERT_TRUE(WaitUnread(accepted, 60));

    uint8_t buffer[kPacketSize];
    for (uint8_t c : {'C', 'Q', 'D'}) {
        const SocketEvent event = NextEvent();
        EXPECT_EQ(event.socket, accepted) << c;
        EXPECT_EQ(event.event, kSocketRead) << c;
        ASSERT_EQ(sockets_->Receive(accepted, buffer, sizeof buffer), 20);
        EXPECT_EQ(buffer[2], c);
    }
    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket) << "nothing left unread";
}

TEST_F(Win32SocketSeam, PeerClosePostsClose) {
    int port = 0;
    const SocketHandle listener = Listener(&port);
    const SOCKET peer = RawConnect(port);
    const SocketHandle accepted = AcceptOne(listener);
    ASSERT_NE(accepted, kNoSocket);
    shutdown(peer, SD_BOTH);
    const SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, accepted);
    EXPECT_EQ(event.event, kSocketClose);
    EXPECT_EQ(event.error, 0);
}

TEST_F(Win32SocketSeam, ConnectToAClosedPortPostsRefused) {
    const SocketHandle holder = sockets_->OpenStream(NetAddress::Family::kIpv4);
    ASSERT_EQ(sockets_->Bind(holder, kLoopback, 0), 0);
    const int port = sockets_->LocalPort(holder);
    const SocketHandle client = sockets_->OpenStream(NetAddress::Family::kIpv4);
    ASSERT_EQ(sockets_->Select(client, kConnectorEvents), 0);
    ASSERT_EQ(sockets_->Connect(client, kLoopback, static_cast<uint16_t>(port)), kSocketError);
    ASSERT_EQ(SocketLastError(), kSocketErrorWouldBlock);
    const SocketEvent event = NextEvent();
    EXPECT_EQ(event.socket, client);
    EXPECT_EQ(event.event, kSocketConnect);
    EXPECT_EQ(event.error, kSocketErrorRefused);
    EXPECT_EQ(sockets_->Close(client), 0);
}

TEST_F(Win32SocketSeam, SecondBindOnAListeningPortFails) {
    int port = 0;
    Listener(&port);
    const SocketHandle second = sockets_->OpenStream(NetAddress::Family::kIpv4);
    EXPECT_EQ(sockets_->Bind(second, kLoopback, static_cast<uint16_t>(port)), kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorAddressInUse);
}

}  // namespace
