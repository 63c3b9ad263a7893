// Who may connect to a station: the addresses `[Network]` `AllowFrom` names in the `.ini`
// file, checked before a byte of a client is read.
//
// A station with a transmitter behind it answers for every signal it sends, so the list errs
// on the side of keeping people out. Without the key, only local and private addresses may
// connect (loopback, the three private ranges, link-local, and the shared range that
// carrier-grade NAT and overlay VPNs use): a home network or a VPN works at once, and the
// open Internet needs an entry the operator wrote. The operator's list replaces the default
// one, and is read strictly: a dotted quad is four decimal numbers from 0 to 255 with no
// leading zeros (a leading zero means octal to some readers and decimal to others, and the
// two readings name different hosts), no short forms such as `10.1` and no blanks inside.
// An entry that is not an address, a block or `any` is reported and left out, so a typing
// error can only ever narrow the list. That holds even when nothing is left: a list whose
// every entry is malformed allows nobody, loopback included, rather than fall back to the
// default ranges the operator chose to replace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"

class AllowList {
  public:
    // `allow_from` is the value of AllowFrom, or nothing when the key is not there: a
    // comma-separated list of addresses (`a.b.c.d`), blocks (`a.b.c.d/n`, n from 0 to 32,
    // host bits ignored) and `any`, in any case, with blanks around the entries.
    static AllowList FromSetting(const std::optional<std::string>& allow_from);

    bool Allows(uint32_t ipv4_host_order) const;

    // A Connect log line for each malformed entry, once for each different one.
    const std::vector<std::string>& problems() const { return problems_; }

  private:
    struct Block {
        uint32_t network;
        uint32_t mask;
    };
    std::vector<Block> blocks_;
    std::vector<std::string> problems_;
};

// The list the `.ini` file's `[Network]` section gives.
AllowList AllowListFrom(const IniSettings& ini);

// A strict dotted quad, in host order; nothing for anything else.
std::optional<uint32_t> Ipv4FromText(std::string_view text);
std::string Ipv4Text(uint32_t ipv4_host_order);

// "Connection refused: A.B.C.D is not allowed.", the Connect log line of a client that the
// list keeps out.
std::string ConnectionRefusedLine(uint32_t ipv4_host_order);
