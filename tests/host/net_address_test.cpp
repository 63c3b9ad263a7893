#include <gtest/gtest.h>

#include "net/net_address.h"

namespace {

TEST(NetAddress, TextIsReadStrictlyAndWrittenInItsShortForm) {
    struct Case {
        const char* text;
        const char* shown;  // nullptr: not an address
        bool ipv6;
    };
    const Case cases[] = {
        {"192.168.1.20", "192.168.1.20", false},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1", true},
        {"[2001:db8::1]", "2001:db8::1", true},
        {"2001:0db8:0000:0000:0001:0000:0000:0001", "2001:db8::1:0:0:1", true},
        {"0:0:1:0:0:0:1:0", "0:0:1::1:0", true},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1", true},
        {"::", "::", true},
        {"::1", "::1", true},
        {"1::", "1::", true},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0", true},
        {"fe80::1", "fe80::1", true},
        {"64:ff9b::192.0.2.1", "64:ff9b::c000:201", true},
        {"::ffff:192.0.2.1", "192.0.2.1", false},
        {"[::FFFF:c000:201]", "192.0.2.1", false},
        {"", nullptr, false},
        {"1.2.3", nullptr, false},
        {"010.0.0.1", nullptr, false},
        {"1:2:3:4:5:6:7:8:9", nullptr, false},
        {"1:2:3:4:5:6:7::8", nullptr, false},
        {"1:2:3:4:5:6:7", nullptr, false},
        {"1::2::3", nullptr, false},
        {":::", nullptr, false},
        {":1::", nullptr, false},
        {"1::2:", nullptr, false},
        {"12345::", nullptr, false},
        {"g::1", nullptr, false},
        {"[::1", nullptr, false},
        {"[1.2.3.4]", nullptr, false},
        {"1.2.3.4::", nullptr, false},
        {"::1.2.3.4.5", nullptr, false},
        {"fe80::1%eth0", nullptr, false},
        {" ::1", nullptr, false},
        {"localhost", nullptr, false},
    };
    for (const Case& c : cases) {
        const std::optional<NetAddress> address = NetAddress::FromText(c.text);
        ASSERT_EQ(address.has_value(), c.shown != nullptr) << c.text;
        if (address) {
            EXPECT_EQ(address->Text(), c.shown) << c.text;
            EXPECT_EQ(address->IsIpv6(), c.ipv6) << c.text;
        }
    }
}

TEST(NetAddress, APrefixKeepsItsBitsOnly) {
    EXPECT_EQ(NetAddress::FromText("2001:db8:1:2:3:4:5:6")->Prefix(64).Text(), "2001:db8:1:2::");
    EXPECT_EQ(NetAddress::FromText("fe80::1")->Prefix(10).Text(), "fe80::");
    EXPECT_EQ(NetAddress::Ipv4(0xC0A801FF).Prefix(23).Text(), "192.168.0.0");
    EXPECT_NE(NetAddress::Ipv4(0), NetAddress::Any(NetAddress::Family::kIpv6));
}

}  // namespace
