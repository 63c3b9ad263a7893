// What a keyed Net Server keeps of the connections that have not proved the link key yet, and
// of the addresses whose proofs were wrong.
//
// A stranger may connect as often as it likes; what it may not do is cost the operator the
// link or the log. So the connections that have not proved are held apart from the live link
// and never touch it, there are at most a few of them, each has a few seconds, and an address
// that keeps giving wrong proofs is heard from once in a summary and held to one try at a
// time. A right proof is taken from any address, quiet or not: a stranger sharing the home's
// address must not be able to lock the home out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>

#include "net/link_key.h"
#include "net/net_address.h"
#include "net/packet.h"
#include "net/socket_api.h"

constexpr std::size_t kMostUnprovedPeers = 4;
constexpr std::chrono::seconds kLinkKeyProofTime{5};
constexpr int kWrongProofsBeforeQuiet = 3;
constexpr std::chrono::minutes kWrongProofWindow{10};
constexpr std::chrono::minutes kQuietTime{10};

// One connection that has not proved the key yet.
struct UnprovedPeer {
    SocketHandle socket;
    NetAddress address;
    KeyExchange exchange;
    PacketReassembler packets;
    std::chrono::steady_clock::time_point since;
};

// What the rules of wrong proofs count a peer as: an IPv4 address, or an IPv6 address's /64,
// since an IPv6 host holds a whole /64 and would otherwise step out of its quiet time by
// taking another address of it.
NetAddress PeerNetwork(const NetAddress& address);

// The addresses whose proofs were wrong lately, by PeerNetwork.
class WrongProofWatch {
  public:
    using Clock = std::chrono::steady_clock;

    // A wrong proof from `address`; true when this one makes the address quiet.
    bool NoteWrongProof(const NetAddress& address, Clock::time_point now);
    bool IsQuiet(const NetAddress& address, Clock::time_point now) const;

  private:
    struct Record {
        std::deque<Clock::time_point> wrong;
        std::optional<Clock::time_point> quiet_until;
    };
    void Forget(Clock::time_point now);

    // Bounded: a flood of wrong proofs from many addresses costs a fixed amount.
    static constexpr std::size_t kMostAddresses = 1024;
    std::map<NetAddress, Record> records_;
};
