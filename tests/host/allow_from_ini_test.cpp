#include <gtest/gtest.h>

#include <string>

#include "net/allow_list.h"
#include "settings/ini_file.h"
#include "station/allow_from_ini.h"

namespace {

const std::string kClosed =
    "With a mistake in [Network], only loopback (127.0.0.0/8) may connect until it is mended.";

// Any mistake in [Network] leaves loopback alone allowed, with the mistake and the fall told;
// a sound section is taken as written.
TEST(AllowFromIni, AnyMistakeInTheNetworkSectionAdmitsLoopbackOnly) {
    struct Case {
        const char* ini;
        const char* first_problem;  // nullptr: the section is sound
        bool allows_10_1_2_3;
        bool allows_loopback;
    };
    const Case cases[] = {
        {"", nullptr, true, true},
        {"[Network]\nAllowFrom = 10.0.0.0/8\n", nullptr, true, false},
        {"[Safety]\nA = 1\na = 2\n[network]\nAllowFrom = 10.0.0.0/8\n", nullptr, true, false},
        {"[Network\nAllowFrom = any\n",
         "p.ini line 1 is not a section, a setting or a comment: \"[Network\"", false, true},
        {"[Network] ; home\nAllowFrom = any\n", "p.ini line 1", false, true},
        {"[Network]\nAllowFrom = 10.0.0.0/8\nallowfrom = any\n",
         "p.ini line 3 sets \"allowfrom\" again, as line 2 did.", false, true},
        {"[Network]\nAllowFrom any\n", "p.ini line 2", false, true},
        {"[Network]\nAllowFrom = 10.0.0.0/8, 10.1\n",
         "AllowFrom entry \"10.1\" is not an address, a block of addresses or any; it is left "
         "out.",
         false, true},
        {"[Network]\nAllowFrom = 1.2.3.4/0\n",
         "AllowFrom entry \"1.2.3.4/0\" is the whole Internet; write any if that is meant.", false,
         true},
        {"[Network]\nAllowFrom = 10.0.0.1/8\n",
         "AllowFrom entry \"10.0.0.1/8\" has bits set beyond its prefix; a block is written with "
         "its first address.",
         false, true},
        {"[Network]\nAllowFrom =\n", "AllowFrom entry \"\"", false, true},
    };
    for (const Case& c : cases) {
        const AllowFromIni allow = AllowFromIniSettings(ParseIniText(c.ini, "p.ini"));
        EXPECT_EQ(allow.list.Allows(*NetAddress::FromText("10.1.2.3")), c.allows_10_1_2_3) << c.ini;
        EXPECT_EQ(allow.list.Allows(*NetAddress::FromText("127.0.0.1")), c.allows_loopback)
            << c.ini;
        EXPECT_FALSE(allow.list.Allows(*NetAddress::FromText("100.64.0.1"))) << c.ini;
        if (c.first_problem == nullptr) {
            EXPECT_TRUE(allow.problems.empty()) << c.ini;
            continue;
        }
        ASSERT_EQ(allow.problems.size(), 2u) << c.ini;
        EXPECT_EQ(allow.problems[0].rfind(c.first_problem, 0), 0u) << allow.problems[0];
        EXPECT_EQ(allow.problems[1], kClosed);
    }
}

}  // namespace
