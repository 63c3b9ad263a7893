// Who may connect to a station: the addresses of a list of entries (the `.ini` file's
// `AllowFrom`), checked before a byte of a client is read.
//
// A station with a transmitter behind it answers for every signal it sends, so the list errs
// on the side of keeping people out. Without the key, only local and private addresses may
// connect (the key's default): a home network or a VPN works at once, and the open Internet
// needs an entry the operator wrote. The operator's list replaces the default one, and is
// read strictly: a dotted quad is four decimal numbers from 0 to 255 with no leading zeros (a
// leading zero means octal to some readers and decimal to others, and the two readings name
// different hosts), no short forms such as `10.1` and no blanks inside; an IPv6 address is
// read as net/net_address.h says. A block names its network exactly: `10.0.0.1/8` may mean
// 10.0.0.0/8 or a slip for 10.0.0.1/32, and `/0` may be a slip for anything, so both are
// faults, and the whole Internet is written `any`.
//
// A home on a dynamic address is named by its host name. The list does not look names up
// itself (a look-up can take seconds, and the list is asked on the station's thread): it
// keeps the names written, and allows whatever addresses its owner last gave for each.
//
// The list leaves a faulty entry out and keeps it for its caller, who must not trust the rest
// either (a list with a slip in it is not the list the operator meant): the station then
// admits LoopbackOnly() until the file is mended.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "net/net_address.h"

class AllowList {
  public:
    enum class Fault {
        kMalformed,    // not an address, a block, a host name or `any`
        kHostBitsSet,  // a block whose address has bits set beyond its prefix
        kWholeSpace,   // a block of prefix 0 rather than `any`
    };
    struct FaultyEntry {
        std::string entry;
        Fault fault;
    };

    // `entries`: a comma-separated list of addresses (`a.b.c.d`, IPv6), blocks (`a.b.c.d/n`, n
    // from 1 to 32, IPv6 with n from 1 to 128, no bit set beyond the first n), host names (a
    // letter first, then letters, digits, dots and hyphens) and `any`, in any case, with
    // blanks around the entries.
    static AllowList FromEntries(std::string_view entries);
    // This computer alone: 127.0.0.0/8 and ::1.
    static AllowList LoopbackOnly();

    bool Allows(const NetAddress& address) const;
    // `any` is in the list: every address may connect.
    bool AllowsEveryone() const;

    // The host names of the list, each once, in the order written.
    const std::vector<std::string>& names() const { return names_; }
    // What `name` stands for now, replacing what it stood for; none while it does not
    // resolve. A name the list does not have is ignored.
    void SetNameAddresses(const std::string& name, std::vector<NetAddress> addresses);

    // Each faulty entry, once for each different one, in the order written.
    const std::vector<FaultyEntry>& faults() const { return faults_; }

  private:
    struct Block {
        NetAddress network;
        int bits;
    };
    std::vector<Block> blocks_;
    std::vector<std::string> names_;
    std::map<std::string, std::vector<NetAddress>> name_addresses_;
    std::vector<FaultyEntry> faults_;
};

// "Connection refused: A.B.C.D is not allowed.", the Connect log line of a client that the
// list keeps out.
std::string ConnectionRefusedLine(const NetAddress& address);
