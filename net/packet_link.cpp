#include "net/packet_link.h"

int ReadPacketsFrom(SocketLoop& sockets, SocketHandle socket, PacketReassembler* reassembler,
                    const std::function<void(const Packet&)>& deliver) {
    if (reassembler == nullptr) {
        return kSocketError;
    }
    uint8_t bytes[kPacketSize];
    const int count = sockets.Receive(socket, bytes, sizeof bytes);
    if (count <= 0) {
        return count;
    }
    reassembler->Append(bytes, static_cast<std::size_t>(count));
    Packet packet;
    while (reassembler->Next(&packet)) {
        if (deliver) {
            deliver(packet);
        }
    }
    return count;
}
