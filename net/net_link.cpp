#include "net/net_link.h"

#include <cstring>
#include <utility>

namespace {

LinkSetup SendingThrough(SocketLoop& sockets, LinkSetup setup) {
    if (!setup.send) {
        setup.send = [&sockets](SocketHandle socket, const uint8_t* bytes, std::size_t count) {
            return sockets.SendSome(socket, bytes, count);
        };
    }
    return setup;
}

}  // namespace

NetLink::NetLink(SocketLoop& sockets, LinkSetup setup)
    : sockets_(sockets), setup_(SendingThrough(sockets, std::move(setup))) {}

void NetLink::HoldLinkSocket(SocketHandle socket, LinkSocketUse use) {
    link_socket_listens_.store(use == LinkSocketUse::kListens);
    link_socket_.store(socket);
}

SocketHandle NetLink::DataSocket() const {
    return link_socket_listens_.load() ? accepted_socket_.load() : link_socket_.load();
}

bool NetLink::IsHeld() const {
    return link_socket_.load() != kNoSocket || sockets_started_.load();
}

void NetLink::DropOutbound() {
    std::lock_guard<std::mutex> lock(outbound_mutex_);
    outbound_.clear();
    stream_offset_ = 0;
    sealer_.reset();
}

void NetLink::ReleaseLinkSocket() {
    DropOutbound();
    const SocketHandle socket = link_socket_.exchange(kNoSocket);
    if (socket != kNoSocket) {
        sockets_.Close(socket);
    }
}

void NetLink::ReleaseAcceptedSocket() {
    DropOutbound();
    const SocketHandle socket = accepted_socket_.exchange(kNoSocket);
    if (socket != kNoSocket) {
        sockets_.Close(socket);
    }
}

void NetLink::ReleaseSocketLibrary() {
    // The library's end would close it anyway; closed here, the handle is not left
    // naming a socket that no longer exists.
    ReleaseAcceptedSocket();
    if (sockets_started_.exchange(false)) {
        sockets_.Stop();
    }
}

void NetLink::BeginLink() {
    RestartWatch();
    // A handle can be given out again for the next link; what was true of the old
    // connection must not end the new one, and nothing meant for it goes on the new one.
    cut_short_socket_.store(kNoSocket);
    DropOutbound();
}

void NetLink::RestartWatch() {
    link_started_ = Clock::now();
    last_heard_ = link_started_;
    heartbeat_heard_ = false;
}

void NetLink::StartSealing(const PacketSealer& sealer) {
    std::lock_guard<std::mutex> lock(outbound_mutex_);
    sealer_ = sealer;
}

bool NetLink::IsSealed() const {
    std::lock_guard<std::mutex> lock(outbound_mutex_);
    return sealer_.has_value();
}

void NetLink::NoteLinkPacket(const Packet& packet) {
    last_heard_ = Clock::now();
    if (HasPacketMarker(packet) && PacketType(packet) == PKT_HEARTBEAT) {
        heartbeat_heard_ = true;
    }
}

bool NetLink::IsHeardFrom() const {
    return Clock::now() - last_heard_ < setup_.silence_period;
}

bool NetLink::IsSilent(bool sends_heartbeats) const {
    if (sends_heartbeats || heartbeat_heard_) {
        return !IsHeardFrom();
    }
    // A client that links, keys and then says nothing must not hold the key for ever: its
    // first heartbeat is waited for no longer than any later one.
    return Clock::now() - link_started_ >= setup_.silence_period;
}

bool NetLink::IsFramingLost() const {
    return IsCutShort(DataSocket());
}

bool NetLink::IsCutShort(SocketHandle socket) const {
    return socket != kNoSocket && cut_short_socket_.load() == socket;
}

// A lost packet is not repeated: the stream has no acknowledgement to repeat it on, and the
// link's own close notification tells the station when the peer has gone. A stream broken
// inside a packet is another matter: the peer would read every later packet shifted, so
// nothing more goes on that connection, and the window's thread ends the link when it next
// looks.
void NetLink::SendStream(const uint8_t* bytes, std::size_t count) {
    std::lock_guard<std::mutex> lock(outbound_mutex_);
    const SocketHandle socket = DataSocket();
    if (socket == kNoSocket || IsCutShort(socket)) {
        return;
    }
    std::vector<uint8_t> sealed;
    if (sealer_ && !Seal(bytes, count, &sealed)) {
        return;
    }
    if (sealer_) {
        bytes = sealed.data();
        count = sealed.size();
    }
    if (outbound_.size() + count > kOutboundLimit) {
        return;
    }
    if (outbound_.empty()) {
        last_moved_ = Clock::now();
    }
    outbound_.insert(outbound_.end(), bytes, bytes + count);
    FlushOutboundLocked(socket);
}

// Each whole packet followed by its tag; false, with nothing to send, when a tag could not be
// made: an untagged packet would end the link at the peer anyway.
bool NetLink::Seal(const uint8_t* bytes, std::size_t count, std::vector<uint8_t>* sealed) {
    for (std::size_t offset = 0; offset + kPacketSize <= count; offset += kPacketSize) {
        Packet packet;
        std::memcpy(packet.bytes, bytes + offset, kPacketSize);
        const std::optional<Packet> tag = sealer_->TagFor(packet);
        if (!tag) {
            return false;
        }
        sealed->insert(sealed->end(), packet.bytes, packet.bytes + kPacketSize);
        sealed->insert(sealed->end(), tag->bytes, tag->bytes + kPacketSize);
    }
    return true;
}

void NetLink::FlushOutboundLocked(SocketHandle socket) {
    while (!outbound_.empty()) {
        const int taken = setup_.send(socket, outbound_.data(), outbound_.size());
        if (taken == kSocketError) {
            if (stream_offset_ % kPacketSize != 0) {
                cut_short_socket_.store(socket);
            }
            outbound_.clear();
            return;
        }
        if (taken == 0) {
            return;
        }
        stream_offset_ += static_cast<std::size_t>(taken);
        outbound_.erase(outbound_.begin(), outbound_.begin() + taken);
        last_moved_ = Clock::now();
    }
}

void NetLink::FlushOutbound() {
    std::lock_guard<std::mutex> lock(outbound_mutex_);
    const SocketHandle socket = DataSocket();
    if (socket != kNoSocket && !IsCutShort(socket)) {
        FlushOutboundLocked(socket);
    }
}

bool NetLink::IsOutboundStalled() const {
    std::lock_guard<std::mutex> lock(outbound_mutex_);
    return !outbound_.empty() && Clock::now() - last_moved_ >= setup_.silence_period;
}

void NetLink::Send(const Packet& packet) {
    SendStream(packet.bytes, kPacketSize);
}

void NetLink::SendPacket(uint8_t type, uint8_t value, uint8_t second_value,
                         const uint8_t* payload) {
    Send(BuildPacket(type, value, second_value, payload));
}

void NetLink::SendTextPackets(const uint8_t* bytes, int count) {
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

bool NetLink::HasOutbound() const {
    std::lock_guard<std::mutex> lock(outbound_mutex_);
    return !outbound_.empty();
}
