// Who may connect to a station: the addresses of a list of entries (the `.ini` file's
// `AllowFrom`), checked before a byte of a client is read.
//
// A station with a transmitter behind it answers for every signal it sends, so the list errs
// on the side of keeping people out. Without the key, only local and private addresses may
// connect (the key's default): a home network or a VPN works at once, and the open Internet
// needs an entry the operator wrote. The operator's list replaces the default one, and is
// read strictly: a dotted quad is four decimal numbers from 0 to 255 with no leading zeros (a
// leading zero means octal to some readers and decimal to others, and the two readings name
// different hosts), no short forms such as `10.1` and no blanks inside. An entry that is not
// an address, a block or `any` is left out, for the caller to report, so a typing error can
// only ever narrow the list. That holds even when nothing is left: a list whose every entry
// is malformed allows nobody, loopback included, rather than fall back to the default ranges
// the operator chose to replace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class AllowList {
  public:
    // `entries`: a comma-separated list of addresses (`a.b.c.d`), blocks (`a.b.c.d/n`, n from
    // 0 to 32, host bits ignored) and `any`, in any case, with blanks around the entries.
    static AllowList FromEntries(std::string_view entries);

    bool Allows(uint32_t ipv4_host_order) const;
    // `any` is in the list: every address may connect.
    bool AllowsEveryone() const;

    // Each malformed entry, once for each different one, in the order written.
    const std::vector<std::string>& malformed() const { return malformed_; }

  private:
    struct Block {
        uint32_t network;
        uint32_t mask;
    };
    std::vector<Block> blocks_;
    std::vector<std::string> malformed_;
};

// A strict dotted quad, in host order; nothing for anything else.
std::optional<uint32_t> Ipv4FromText(std::string_view text);
std::string Ipv4Text(uint32_t ipv4_host_order);

// "Connection refused: A.B.C.D is not allowed.", the Connect log line of a client that the
// list keeps out.
std::string ConnectionRefusedLine(uint32_t ipv4_host_order);
