// The other end of a keyed link, played by a test on a plain socket: it proves the key as a
// Net Client or a Net Server would, then seals what it sends and checks what it reads. The
// station under test runs on the test's own thread, so every wait here pumps its events.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "net/link_key.h"
#include "net/packet.h"
#include "tests/host/socket_test_peer.h"

namespace keyed_peer {

// The key both stations share in the cases, and one the station does not have.
inline LinkKey SharedKey() {
    LinkKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<uint8_t>(0x5A ^ (i * 7));
    }
    return key;
}
inline LinkKey OtherKey() {
    LinkKey key = SharedKey();
    key[0] ^= 1;
    return key;
}
// The .ini's line for SharedKey().
inline std::string SharedKeyIni() {
    return "[Network]\nKey = " + LinkKeyText(SharedKey()) + "\n";
}

class KeyedPeer {
  public:
    // `pump` runs the station's events until its argument holds, or gives up (false).
    using Pump = std::function<bool(const std::function<bool()>&)>;

    KeyedPeer(int fd, LinkRole role, const LinkKey& key, Pump pump)
        : fd_(fd), exchange_(*KeyExchange::Begin(key, role)), pump_(std::move(pump)) {}

    // The exchange from this end; the step it ended on.
    ExchangeStep Prove() {
        loopback::RawSendAll(fd_, loopback::Bytes(exchange_.Challenge()));
        for (;;) {
            const std::optional<Packet> packet = Receive();
            if (!packet) {
                return ExchangeStep::kOutOfOrder;
            }
            std::vector<Packet> to_send;
            const ExchangeStep step = exchange_.Receive(*packet, &to_send);
            for (const Packet& proof : to_send) {
                loopback::RawSendAll(fd_, loopback::Bytes(proof));
            }
            if (step == ExchangeStep::kProved) {
                sealer_.emplace(exchange_.SealKey(), exchange_.Role());
                checker_.emplace(exchange_.SealKey(), exchange_.PeerRole());
            }
            if (step != ExchangeStep::kGoOn) {
                return step;
            }
        }
    }

    void SendSealed(uint8_t type, uint8_t value) {
        const Packet packet = BuildPacket(type, value);
        loopback::RawSendAll(fd_, loopback::Bytes(packet));
        loopback::RawSendAll(fd_, loopback::Bytes(*sealer_->TagFor(packet)));
    }

    // The next packet whose tag checks; nothing when the stream ended or a tag failed.
    std::optional<Packet> ReceiveSealed() {
        Packet sealed;
        while (const std::optional<Packet> packet = Receive()) {
            const SealCheck check = checker_->Check(*packet, &sealed);
            if (check == SealCheck::kSealed) {
                return sealed;
            }
            if (check == SealCheck::kBroken) {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // The next packet as it arrives; nothing when the stream ended.
    std::optional<Packet> Receive() {
        pollfd wait{fd_, POLLIN, 0};
        if (!pump_([&] { return poll(&wait, 1, 0) > 0; })) {
            return std::nullopt;
        }
        const std::vector<uint8_t> bytes = loopback::RawReceive(fd_, kPacketSize);
        if (bytes.size() != kPacketSize) {
            return std::nullopt;
        }
        Packet packet;
        std::copy(bytes.begin(), bytes.end(), packet.bytes);
        return packet;
    }

  private:
    int fd_;
    KeyExchange exchange_;
    Pump pump_;
    std::optional<PacketSealer> sealer_;
    std::optional<PacketTagChecker> checker_;
};

}  // namespace keyed_peer
