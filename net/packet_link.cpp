#include "net/packet_link.h"

int SendPacketOn(SocketHandle socket, const Packet& packet) {
    return SendWhole(socket, packet.bytes, kPacketSize);
}

int ReadPacketsFrom(SocketHandle socket, PacketReassembler* reassembler,
                    const std::function<void(const Packet&)>& deliver) {
    if (reassembler == nullptr) {
        return kSocketError;
    }
    uint8_t bytes[kPacketSize];
    const int count = ReceiveSocket(socket, bytes, sizeof bytes);
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
