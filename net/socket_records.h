// Socket address records to and from NetAddress, for the two socket seams alone. It includes
// no platform header of its own: each seam includes it after its platform's socket headers,
// since the BSD records (sockaddr_in, sockaddr_in6, sockaddr_storage, addrinfo) and their byte
// order calls have the same names and fields in Winsock and on Linux.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/net_address.h"

namespace socket_records {

// The socket address of `address` and `port`, and its length.
inline int SocketAddressOf(const NetAddress& address, uint16_t port, sockaddr_storage* record) {
    std::memset(record, 0, sizeof *record);
    if (address.IsIpv6()) {
        sockaddr_in6 ipv6{};
        ipv6.sin6_family = AF_INET6;
        ipv6.sin6_port = htons(port);
        std::memcpy(&ipv6.sin6_addr, address.bytes().data(), sizeof ipv6.sin6_addr);
        std::memcpy(record, &ipv6, sizeof ipv6);
        return static_cast<int>(sizeof ipv6);
    }
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(port);
    std::memcpy(&ipv4.sin_addr, address.bytes().data(), sizeof ipv4.sin_addr);
    std::memcpy(record, &ipv4, sizeof ipv4);
    return static_cast<int>(sizeof ipv4);
}

// The address and port a socket address holds; false for another family.
inline bool FromSocketAddress(const sockaddr_storage& record, NetAddress* address, uint16_t* port) {
    if (record.ss_family == AF_INET6) {
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, &record, sizeof ipv6);
        NetAddress::Bytes bytes;
        std::memcpy(bytes.data(), &ipv6.sin6_addr, bytes.size());
        *address = NetAddress::Ipv6(bytes);
        *port = ntohs(ipv6.sin6_port);
        return true;
    }
    if (record.ss_family == AF_INET) {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, &record, sizeof ipv4);
        *address = NetAddress::Ipv4(ntohl(ipv4.sin_addr.s_addr));
        *port = ntohs(ipv4.sin_port);
        return true;
    }
    return false;
}

// The addresses of a look-up's answer, each once, in its order.
inline std::vector<NetAddress> AddressesOf(const addrinfo* found) {
    std::vector<NetAddress> addresses;
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        sockaddr_storage record{};
        NetAddress address;
        uint16_t port = 0;
        if (at->ai_addrlen > sizeof record) {
            continue;
        }
        std::memcpy(&record, at->ai_addr, at->ai_addrlen);
        if (FromSocketAddress(record, &address, &port) &&
            std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
            addresses.push_back(address);
        }
    }
    return addresses;
}

}  // namespace socket_records
