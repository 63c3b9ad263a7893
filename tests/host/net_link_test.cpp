// The link's packet sender, against a plain peer on loopback that reads the exact bytes: the
// 20 bytes of each packet on the data socket the mode names, from any thread.
#include <atomic>
#include <thread>
#include <vector>

#include "net/net_link.h"
#include "tests/host/socket_test_peer.h"

namespace {

using namespace loopback;
using ByteList = std::vector<uint8_t>;

class NetLinkSend : public PeerLinkTest {
  protected:
    void SetUp() override {
        LoopbackTest::SetUp();
        ConnectPeer();
        BeNetServer();
        link_.SetLinked(true);
    }

    // A server sends on its accepted connection and keeps the listener as its link socket;
    // a client's one socket is both. Each is given the wrong socket for the other, so a send
    // on the wrong one never reaches the peer.
    void BeNetServer() {
        link_.HoldLinkSocket(listener_, LinkSocketUse::kListens);
        link_.HoldAcceptedSocket(connection_);
    }
    void BeNetClient() {
        link_.HoldLinkSocket(connection_, LinkSocketUse::kConnects);
        link_.HoldAcceptedSocket(listener_);
    }

    ByteList PeerReceives() { return RawReceive(peer_, kPacketSize); }

    NetLink link_{sockets_};
};

TEST_F(NetLinkSend, SendPacketPutsTheTwentyBytesOnTheRolesDataSocket) {
    const ByteList payload{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    link_.SendPacket(PKT_SPEED, 25, 0, nullptr);
    EXPECT_EQ(PeerReceives(),
              (ByteList{0xA5, 0x25, 0x19, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    BeNetClient();
    link_.SendPacket(PKT_KEYER_SETTINGS, 0, 7, payload.data());
    ByteList expected = Wire(PKT_KEYER_SETTINGS, 0, payload);
    expected[3] = 7;
    EXPECT_EQ(PeerReceives(), expected);
    // Not linked is the caller's test, not the sender's.
    link_.SetLinked(false);
    link_.SendPacket(PKT_CLEAR, 0, 0, nullptr);
    EXPECT_EQ(PeerReceives(), Wire(PKT_CLEAR, 0));
}

TEST_F(NetLinkSend, SendPacketWithNoDataSocketDoesNothing) {
    link_.HoldAcceptedSocket(kNoSocket);
    link_.SendPacket(PKT_SPEED, 25, 0, nullptr);
    link_.HoldAcceptedSocket(connection_);
    link_.SendPacket(PKT_HEARTBEAT_REPLY, 0x5A, 0, nullptr);
    EXPECT_EQ(PeerReceives(), Wire(PKT_HEARTBEAT_REPLY, 0x5A))
        << "the stream carried something before the probe";
}

TEST_F(NetLinkSend, PacketsFromThreeThreadsAtOnceArriveWhole) {
    constexpr int kSenders = 3;
    constexpr int kPerSender = 400;
    std::atomic<int> ready{0};
    std::vector<std::thread> senders;
    for (int sender = 1; sender <= kSenders; ++sender) {
        senders.emplace_back([this, sender, &ready] {
            const ByteList payload(kPacketPayloadSize, static_cast<uint8_t>(sender * 0x11));
            ++ready;
            while (ready.load() < kSenders) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kPerSender; ++i) {
                link_.SendPacket(PKT_KEYER_SETTINGS, static_cast<uint8_t>(i),
                                 static_cast<uint8_t>(sender), payload.data());
            }
        });
    }
    const ByteList stream = RawReceive(peer_, kSenders * kPerSender * kPacketSize);
    for (std::thread& sender : senders) {
        sender.join();
    }
    ASSERT_EQ(stream.size(), kSenders * kPerSender * kPacketSize);
    std::vector<int> next(kSenders + 1, 0);
    for (std::size_t offset = 0; offset < stream.size(); offset += kPacketSize) {
        const ByteList packet(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                              stream.begin() + static_cast<std::ptrdiff_t>(offset + kPacketSize));
        const int sender = packet[3];
        ASSERT_TRUE(sender >= 1 && sender <= kSenders) << "packet at " << offset;
        ByteList expected = Wire(PKT_KEYER_SETTINGS, static_cast<uint8_t>(next[sender]),
                                 ByteList(kPacketPayloadSize, static_cast<uint8_t>(sender * 0x11)));
        expected[3] = static_cast<uint8_t>(sender);
        ASSERT_EQ(packet, expected) << "packet at " << offset;
        ++next[sender];
    }
    for (int sender = 1; sender <= kSenders; ++sender) {
        EXPECT_EQ(next[sender], kPerSender);
    }
}

}  // namespace
