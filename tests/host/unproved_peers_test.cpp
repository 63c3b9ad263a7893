#include <gtest/gtest.h>

#include "station/unproved_peers.h"

namespace {

// Wrong proofs count against a peer's network: an IPv6 /64, or one IPv4 address.
TEST(WrongProofWatch, AnIpv6HostIsQuietAcrossItsWholeSlash64) {
    const struct {
        const char* wrong[3];
        const char* also_quiet;
        const char* not_quiet;
    } cases[] = {
        {{"2001:db8:1:2::1", "2001:db8:1:2::2", "2001:db8:1:2:ffff::9"},
         "2001:db8:1:2::7",
         "2001:db8:1:3::1"},
        {{"192.0.2.1", "192.0.2.1", "192.0.2.1"}, "192.0.2.1", "192.0.2.2"},
    };
    for (const auto& c : cases) {
        WrongProofWatch watch;
        const WrongProofWatch::Clock::time_point now{};
        EXPECT_FALSE(watch.NoteWrongProof(*NetAddress::FromText(c.wrong[0]), now));
        EXPECT_FALSE(watch.NoteWrongProof(*NetAddress::FromText(c.wrong[1]), now));
        EXPECT_TRUE(watch.NoteWrongProof(*NetAddress::FromText(c.wrong[2]), now)) << c.wrong[2];
        EXPECT_TRUE(watch.IsQuiet(*NetAddress::FromText(c.also_quiet), now)) << c.also_quiet;
        EXPECT_FALSE(watch.IsQuiet(*NetAddress::FromText(c.not_quiet), now)) << c.not_quiet;
    }
}

}  // namespace
