#include "net/packet_sender.h"

#include <cstring>

#include "net/link_state.h"
#include "net/link_watch.h"
#include "net/socket_api.h"

namespace {

// A lost packet is not repeated: the stream has no acknowledgement to repeat it on, and the
// link's own close notification tells the station when the peer has gone. A packet cut short
// is another matter: the peer would read every later packet shifted, so nothing more goes on
// that connection, and the window's thread ends the link when it next looks.
void SendStream(const uint8_t* bytes, std::size_t count) {
    const SocketHandle socket = DataSocket();
    if (IsFramingLost(socket)) {
        return;
    }
    if (SendWhole(socket, bytes, count) == kSendCutShort) {
        NoteCutShortSend(socket);
    }
}

}  // namespace

void SendPacket(uint8_t type, uint8_t value, uint8_t second_value, const uint8_t* payload) {
    const Packet packet = BuildPacket(type, value, second_value, payload);
    SendStream(packet.bytes, kPacketSize);
}

void SendTextPackets(const uint8_t* bytes, int count) {
    uint8_t stream[kMaxTextPackets * kPacketSize];
    if (count < 1 || count > kMaxTextPackets) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        const Packet packet = BuildPacket(PKT_TEXT_CHAR, bytes[i]);
        std::memcpy(stream + i * kPacketSize, packet.bytes, kPacketSize);
    }
    SendStream(stream, static_cast<std::size_t>(count) * kPacketSize);
}
