// An address of either family, as the program handles, checks and logs it.
//
// An IPv4 peer that reaches a dual-stack listener arrives as the IPv6 address `::ffff:a.b.c.d`.
// Such an address is made plain IPv4 the moment it is built, so the allow list, the quiet
// addresses and every log line treat the peer as the IPv4 host it is, whatever socket it came
// in on.
//
// Text is read strictly, as the allow list must: a dotted quad is four decimal numbers from 0
// to 255 without leading zeros (a leading zero means octal to some readers), and an IPv6
// literal is its groups of at most four hexadecimal digits, with at most one `::`, an optional
// dotted quad as its last 32 bits, and optional brackets around the whole. Text out is the
// standard short form: lower case, no leading zeros, the longest run of two or more zero
// groups (the first of equal runs) written `::`.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class NetAddress {
  public:
    enum class Family : uint8_t { kIpv4, kIpv6 };
    using Bytes = std::array<uint8_t, 16>;

    // 0.0.0.0
    NetAddress() = default;
    static NetAddress Ipv4(uint32_t host_order);
    // An IPv4-mapped address becomes IPv4.
    static NetAddress Ipv6(const Bytes& bytes);
    // The address that stands for every address of the machine in `family`.
    static NetAddress Any(Family family);
    static std::optional<NetAddress> FromText(std::string_view text);

    Family family() const { return family_; }
    bool IsIpv6() const { return family_ == Family::kIpv6; }
    // Meaningful for IPv4 only.
    uint32_t Ipv4HostOrder() const;
    // In network order: IPv4 in the first four, the rest zero.
    const Bytes& bytes() const { return bytes_; }
    // 32 or 128.
    int Bits() const { return IsIpv6() ? 128 : 32; }
    // The first `bits` kept and the rest cleared.
    NetAddress Prefix(int bits) const;
    std::string Text() const;

    bool operator==(const NetAddress& other) const {
        return family_ == other.family_ && bytes_ == other.bytes_;
    }
    bool operator!=(const NetAddress& other) const { return !(*this == other); }
    bool operator<(const NetAddress& other) const {
        return family_ != other.family_ ? family_ < other.family_ : bytes_ < other.bytes_;
    }

  private:
    Family family_ = Family::kIpv4;
    Bytes bytes_{};
};

// A strict dotted quad, in host order; nothing for anything else.
std::optional<uint32_t> Ipv4FromText(std::string_view text);
// A decimal number from 0 to `most` (at most three digits) without a sign, blanks or leading
// zeros: an octet, or a prefix's length.
std::optional<uint32_t> StrictDecimal(std::string_view text, uint32_t most);
