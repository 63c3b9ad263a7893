// The link key at both ends of a link. A station with a key acts on nothing its peer sends
// until the peer has proved the key, and sends nothing but its challenge and proof until then;
// after that, only packets whose tags check are acted on. A Net Server keeps the connections
// that have not proved apart from its live link, so a stranger can neither take the link over
// nor hold it up; only a proved client may take over a link that has gone quiet.
#include <chrono>
#include <string>
#include <vector>

#include "net/allow_list.h"
#include "net/packet_link.h"
#include "settings/settings_record.h"
#include "station/station.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kCheckFailedText[] = "\r\nThe link's packets failed their check; link closed.";

}  // namespace

bool Station::CheckLinkKeyAtOpen() {
    if (link_key_problem_ != LinkKeyProblem::kNone) {
        Log("\r\nNo link: the link key in pellmar.ini is not usable (" +
            LinkKeyProblemText(link_key_problem_) + ").");
        return false;
    }
    if (!link_key_ && IsServer() && settings_.NetRole() == kNetRoleRemoteSide &&
        allow_from_.AllowsEveryone()) {
        Log("\r\nAnyone on the Internet may key this station: AllowFrom is any and there is no "
            "link key. Make a key, put it in both stations' pellmar.ini, or name your home "
            "in AllowFrom.");
    }
    return true;
}

std::string Station::ExchangeRefusal(const NetAddress& address, ExchangeStep step,
                                     const KeyExchange& exchange) const {
    const std::string peer = address.Text();
    switch (step) {
        case ExchangeStep::kWrongProof:
            return "Connection refused: " + peer + " gave a wrong link key.";
        case ExchangeStep::kOtherVersion:
            return "The other station uses link key version " +
                   std::to_string(exchange.PeerVersion()) + ".";
        case ExchangeStep::kMacFailed:
            return "Connection refused: the link key could not be checked here.";
        default:
            return "Connection refused: " + peer + " did not prove the link key.";
    }
}

std::optional<std::size_t> Station::FindUnprovedClient(SocketHandle socket) const {
    for (std::size_t i = 0; i < unproved_clients_.size(); ++i) {
        if (unproved_clients_[i].socket == socket) {
            return i;
        }
    }
    return std::nullopt;
}

void Station::TakeUnprovedClient(SocketHandle accepted, const NetAddress& address) {
    const Clock::time_point now = Clock::now();
    bool quiet_try_held = false;
    for (const UnprovedPeer& peer : unproved_clients_) {
        quiet_try_held = quiet_try_held || PeerNetwork(peer.address) == PeerNetwork(address);
    }
    quiet_try_held = quiet_try_held && wrong_proofs_.IsQuiet(address, now);
    std::optional<KeyExchange> exchange = KeyExchange::Begin(*link_key_, LinkRole::kServer);
    if (unproved_clients_.size() >= kMostUnprovedPeers || quiet_try_held || !exchange) {
        sockets_.Reset(accepted);
        return;
    }
    const Packet challenge = exchange->Challenge();
    if (sockets_.SendSome(accepted, challenge.bytes, kPacketSize) !=
        static_cast<int>(kPacketSize)) {
        sockets_.Reset(accepted);
        return;
    }
    unproved_clients_.push_back({accepted, address, *exchange, PacketReassembler(), now});
}

void Station::ReadUnprovedClient(std::size_t index) {
    std::vector<Packet> packets;
    UnprovedPeer& peer = unproved_clients_[index];
    const SocketHandle socket = peer.socket;
    ReadPacketsFrom(sockets_, socket, &peer.packets,
                    [&packets](const Packet& packet) { packets.push_back(packet); });
    for (const Packet& packet : packets) {
        const std::optional<std::size_t> still = FindUnprovedClient(socket);
        if (!still) {
            return;
        }
        StepUnprovedClient(*still, packet);
    }
}

void Station::StepUnprovedClient(std::size_t index, const Packet& packet) {
    std::vector<Packet> to_send;
    UnprovedPeer& peer = unproved_clients_[index];
    const ExchangeStep step = peer.exchange.Receive(packet, &to_send);
    if (step == ExchangeStep::kGoOn) {
        return;
    }
    if (step != ExchangeStep::kProved) {
        const NetAddress address = peer.address;
        const Clock::time_point now = Clock::now();
        const bool quiet = wrong_proofs_.IsQuiet(address, now);
        const bool now_quiet =
            step == ExchangeStep::kWrongProof && wrong_proofs_.NoteWrongProof(address, now);
        DropUnprovedClient(index, quiet ? "" : ExchangeRefusal(address, step, peer.exchange));
        if (now_quiet) {
            Log("\r\n" + address.Text() +
                " gave three wrong link keys in 10 minutes: its tries are taken one at a time "
                "and not logged for 10 minutes.");
        }
        return;
    }
    // Proved: the client leaves the unproved ones, with whatever of the stream it brought.
    UnprovedPeer proved = std::move(peer);
    unproved_clients_.erase(unproved_clients_.begin() + static_cast<std::ptrdiff_t>(index));
    Log("\r\nAccepting Request....");
    LinkClient(proved.socket, proved.address, &proved.exchange, to_send);
    if (net_.AcceptedSocket() == proved.socket) {
        rx_packets_ = proved.packets;
    }
}

// A refusal is told as any other is, so that a stranger who knocks again and again is counted
// rather than written out each time.
void Station::DropUnprovedClient(std::size_t index, const std::string& refusal) {
    const NetAddress address = unproved_clients_[index].address;
    sockets_.Reset(unproved_clients_[index].socket);
    unproved_clients_.erase(unproved_clients_.begin() + static_cast<std::ptrdiff_t>(index));
    if (refusal.empty()) {
        return;
    }
    if (const std::optional<std::string> told = refusals_.Refused(address, refusal, Clock::now())) {
        Log("\r\n" + *told);
    }
}

void Station::DropAllUnprovedClients() {
    while (!unproved_clients_.empty()) {
        DropUnprovedClient(unproved_clients_.size() - 1, "");
    }
}

void Station::BeginClientExchange() {
    client_exchange_ = KeyExchange::Begin(*link_key_, LinkRole::kClient);
    if (!client_exchange_) {
        EndClientExchange("No link: the system gave no random numbers for the link key.");
        return;
    }
    client_exchange_since_ = Clock::now();
    net_.Send(client_exchange_->Challenge());
}

void Station::StepClientExchange(const Packet& packet) {
    std::vector<Packet> to_send;
    const ExchangeStep step = client_exchange_->Receive(packet, &to_send);
    for (const Packet& proof : to_send) {
        net_.Send(proof);
    }
    if (step == ExchangeStep::kGoOn) {
        return;
    }
    if (step != ExchangeStep::kProved) {
        EndClientExchange(ExchangeRefusal(peer_address_, step, *client_exchange_));
        return;
    }
    BeginSeal(*client_exchange_);
    client_exchange_.reset();
    BeginClientLink();
}

// As after a connect that failed: the socket given up, and the server tried again later.
void Station::EndClientExchange(const std::string& refusal) {
    client_exchange_.reset();
    if (!refusal.empty()) {
        Log("\r\n" + refusal);
    }
    view_.ShowNetworkStatus(NetworkStatus::kConnectFailed);
    rx_packets_.Reset();
    net_.ReleaseLinkSocket();
    net_.ReleaseSocketLibrary();
    ScheduleReconnect();
}

void Station::ExpireLinkKeyExchanges() {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = unproved_clients_.size(); i-- > 0;) {
        const UnprovedPeer& peer = unproved_clients_[i];
        if (now - peer.since >= kLinkKeyProofTime) {
            DropUnprovedClient(i, wrong_proofs_.IsQuiet(peer.address, now)
                                      ? ""
                                      : "Connection refused: " + peer.address.Text() +
                                            " did not prove the link key within 5 s.");
        }
    }
    if (client_exchange_ && now - client_exchange_since_ >= kLinkKeyProofTime) {
        EndClientExchange("Connection refused: " + peer_address_.Text() +
                          " did not prove the link key within 5 s.");
    }
}

void Station::BeginSeal(const KeyExchange& proved) {
    net_.StartSealing(PacketSealer(proved.SealKey(), proved.Role()));
    tag_checker_.emplace(proved.SealKey(), proved.PeerRole());
}

bool Station::TakeLinkPacket(const Packet& packet) {
    if (client_exchange_) {
        StepClientExchange(packet);
        return client_exchange_.has_value() || net_.IsLinked();
    }
    if (!tag_checker_) {
        net_.NoteLinkPacket(packet);
        processIPpacket(packet);
        return true;
    }
    Packet sealed;
    switch (tag_checker_->Check(packet, &sealed)) {
        case SealCheck::kWaitForTag:
            return true;
        case SealCheck::kSealed:
            net_.NoteLinkPacket(sealed);
            processIPpacket(sealed);
            return true;
        case SealCheck::kBroken:
            break;
    }
    EndLinkAsLost(kCheckFailedText);
    return false;
}
