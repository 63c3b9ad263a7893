// The read notification's body, against a plain peer on loopback that writes the stream in
// whatever pieces a test needs.
#include <vector>

#include "net/packet_link.h"
#include "station/keyer_settings_packet.h"
#include "tests/host/socket_test_peer.h"

namespace {

using namespace loopback;

class PacketLink : public PeerLinkTest {
  protected:
    void SetUp() override {
        LoopbackTest::SetUp();
        ConnectPeer();
    }

    // Waits for the link's next read notification and handles it as the window would.
    int OnRead() {
        const SocketEvent event = NextEvent();
        EXPECT_EQ(event.socket, connection_);
        EXPECT_EQ(event.event, kSocketRead);
        return ReadPacketsFrom(sockets_, connection_, &reassembler_,
                               [this](const Packet& packet) { delivered_.push_back(packet); });
    }

    PacketReassembler reassembler_;
    std::vector<Packet> delivered_;
};

TEST_F(PacketLink, PacketWrittenInTwoPiecesIsDeliveredOnceWhole) {
    const std::vector<uint8_t> bytes = Bytes(BuildPacket(PKT_TEXT_CHAR, 'A'));
    RawSendAll(peer_, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 7));
    ASSERT_TRUE(WaitUnread(connection_, 7));
    EXPECT_EQ(OnRead(), 7);
    EXPECT_TRUE(delivered_.empty());

    RawSendAll(peer_, std::vector<uint8_t>(bytes.begin() + 7, bytes.end()));
    ASSERT_TRUE(WaitUnread(connection_, 13));
    EXPECT_EQ(OnRead(), 13);
    ASSERT_EQ(delivered_.size(), 1u);
    EXPECT_EQ(Bytes(delivered_[0]), bytes);
}

TEST_F(PacketLink, EachNotificationTakesTheNextPacket) {
    std::vector<uint8_t> stream;
    for (uint8_t value : {3, 2, 1}) {
        const std::vector<uint8_t> bytes = Bytes(BuildPacket(PKT_HEARTBEAT, value));
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    RawSendAll(peer_, stream);
    ASSERT_TRUE(WaitUnread(connection_, 60));
    for (std::size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(OnRead(), 20);
        ASSERT_EQ(delivered_.size(), i);
    }
    EXPECT_EQ(PacketValue(delivered_[0]), 3);
    EXPECT_EQ(PacketValue(delivered_[1]), 2);
    EXPECT_EQ(PacketValue(delivered_[2]), 1);
    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket);
}

TEST_F(PacketLink, NotificationWithNothingToReadDeliversNothing) {
    const std::vector<uint8_t> bytes = Bytes(BuildPacket(PKT_PAUSE, 1));
    RawSendAll(peer_, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4));
    ASSERT_TRUE(WaitUnread(connection_, 4));
    EXPECT_EQ(OnRead(), 4);
    // A stale notification: the bytes it was for are already read.
    EXPECT_EQ(ReadPacketsFrom(sockets_, connection_, &reassembler_,
                              [this](const Packet& packet) { delivered_.push_back(packet); }),
              kSocketError);
    EXPECT_EQ(SocketLastError(), kSocketErrorWouldBlock);
    EXPECT_TRUE(delivered_.empty());
    EXPECT_EQ(reassembler_.PendingBytes(), 4u);
    EXPECT_EQ(ReadPacketsFrom(sockets_, connection_, nullptr, nullptr), kSocketError);
}

TEST_F(PacketLink, PeerClosingMidPacketEndsWithThePartUndelivered) {
    std::vector<uint8_t> stream = Bytes(BuildPacket(PKT_ECHO_CHAR, 'E'));
    const std::vector<uint8_t> cut = Bytes(BuildPacket(PKT_ECHO_CHAR, 'F'));
    stream.insert(stream.end(), cut.begin(), cut.begin() + 11);
    RawSendAll(peer_, stream);
    close(peer_);

    for (;;) {
        const SocketEvent event = NextEvent();
        ASSERT_EQ(event.socket, connection_);
        if (event.event == kSocketClose) {
            EXPECT_EQ(event.error, 0);
            break;
        }
        ASSERT_EQ(event.event, kSocketRead);
        ASSERT_GE(ReadPacketsFrom(sockets_, connection_, &reassembler_,
                                  [this](const Packet& packet) { delivered_.push_back(packet); }),
                  0);
    }
    ASSERT_EQ(delivered_.size(), 1u);
    EXPECT_EQ(PacketValue(delivered_[0]), 'E');
    EXPECT_EQ(reassembler_.PendingBytes(), 11u);
    // The close came only after every byte sent before it had been read.
    EXPECT_EQ(ReadPacketsFrom(sockets_, connection_, &reassembler_, nullptr), 0)
        << "the end of the stream";
    EXPECT_EQ(NextEvent(kQuietMs).socket, kNoSocket) << "one close event";
}

}  // namespace
