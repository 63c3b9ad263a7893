#include <gtest/gtest.h>

#include <sstream>

#include "net/allow_list.h"
#include "settings/ini_file.h"
#include "settings/ini_keys.h"

namespace {

// Whether each address in `allowed` is allowed and each in `refused` is not.
void ExpectAllows(const AllowList& list, const char* allowed, const char* refused) {
    for (const auto& [addresses, expected] : {std::pair{allowed, true}, {refused, false}}) {
        std::istringstream words(addresses);
        for (std::string address; words >> address;) {
            EXPECT_EQ(list.Allows(NetAddress::FromText(address).value()), expected) << address;
        }
    }
}

TEST(AllowList, WithoutTheKeyOnlyLocalAndPrivateAddressesConnect) {
    const AllowList list = AllowList::FromEntries(
        ParseIniText("[Network]\nAllowFrm = any\n", "x.ini").Text(ini_keys::kAllowFrom));
    ExpectAllows(list,
                 "127.0.0.2 10.255.0.1 172.31.9.9 192.168.1.20 169.254.3.4 ::1 fd00::5 fc12::1 "
                 "fe80::1:2 febf::1 ::ffff:127.0.0.1",
                 "100.64.0.1 172.32.0.1 192.169.0.1 100.128.0.0 8.8.8.8 0.0.0.0 255.255.255.255 "
                 "2001:db8::1 ::2 :: fec0::1 fe00::1 ::ffff:8.8.8.8");
    EXPECT_TRUE(list.faults().empty());
}

TEST(AllowList, TheOperatorsListReplacesTheDefaultAndFaultyEntriesAreLeftOutAndKept) {
    const AllowList list = AllowList::FromEntries(
        " 203.0.113.7 ,198.51.100.0/24,10.1, 010.0.0.1/8,1.2.3.4/33,,10.1,0x7f.0.0.1,"
        "1.2.3.4 /8,1.2.3.4/08,1.2.3.4.5,1.2.3,-1.2.3.4,256.0.0.1,\t,10.0.0.1/8,0.0.0.0/0");
    ExpectAllows(list, "203.0.113.7 198.51.100.0 198.51.100.255",
                 "203.0.113.8 198.51.101.0 127.0.0.1 10.1.0.0 10.0.0.1 1.2.3.4 8.8.8.8");
    ASSERT_EQ(list.faults().size(), 13u);
    EXPECT_EQ(MalformedEntryLine(ini_keys::kAllowFrom, list.faults()[0].entry),
              "AllowFrom entry \"10.1\" is not an address, a block of addresses or any; it is "
              "left out.");
    EXPECT_EQ(MalformedEntryLine(ini_keys::kAllowFrom, list.faults()[3].entry).find("\"\""), 16u);
    EXPECT_EQ(list.faults()[11].fault, AllowList::Fault::kHostBitsSet);
    EXPECT_EQ(list.faults()[12].fault, AllowList::Fault::kWholeSpace);
    ExpectAllows(AllowList::FromEntries(","), "", "127.0.0.1");
    ExpectAllows(AllowList::FromEntries(""), "", "127.0.0.1");
}

TEST(AllowList, AnyLetsEveryoneInAndLoopbackOnlyNobodyElse) {
    for (const char* setting : {"Any", "junk, ANY", "10.0.0.0/8, any"}) {
        ExpectAllows(AllowList::FromEntries(setting), "8.8.8.8 255.255.255.255", "");
    }
    ExpectAllows(AllowList::LoopbackOnly(), "127.0.0.1 127.255.255.254 ::1",
                 "10.0.0.1 8.8.8.8 ::2 fd00::1");
    ExpectAllows(AllowList::FromEntries("any"), "2001:db8::1 ::", "");
}

TEST(AllowList, Ipv6BlocksAndHostNamesAreReadAsStrictlyAsIpv4) {
    AllowList list = AllowList::FromEntries(
        "2001:db8:1::/48, [2001:DB8:2::7], home.example.net, fe80::1/10, ::/0, gw-2, "
        "2001:db8::/129, 2001:db8::/048, -bad.name, a..b, 2001:db8::1::2, home.example.net");
    ExpectAllows(list, "2001:db8:1:ffff::1 2001:db8:2::7",
                 "2001:db8:2::8 2001:db8:3::1 fe80::1 8.8.8.8 ::1");
    ASSERT_EQ(list.faults().size(), 7u);
    EXPECT_EQ(list.faults()[0].fault, AllowList::Fault::kHostBitsSet);
    EXPECT_EQ(list.faults()[1].fault, AllowList::Fault::kWholeSpace);
    EXPECT_EQ(list.faults()[6].entry, "2001:db8::1::2");
    EXPECT_EQ(list.names(), (std::vector<std::string>{"home.example.net", "gw-2"}));

    list.SetNameAddresses("home.example.net",
                          {*NetAddress::FromText("2001:db8:9::1"), NetAddress::Ipv4(0xC6336409)});
    ExpectAllows(list, "2001:db8:9::1 198.51.100.9", "2001:db8:9::2 198.51.100.10");
    list.SetNameAddresses("home.example.net", {});
    list.SetNameAddresses("elsewhere.example.net", {NetAddress::Ipv4(0x08080808)});
    ExpectAllows(list, "", "2001:db8:9::1 198.51.100.9 8.8.8.8");
}

TEST(AllowList, AddressesReadAndShownAsDottedQuads) {
    EXPECT_EQ(Ipv4FromText("192.168.1.20"), 0xC0A80114u);
    EXPECT_EQ(NetAddress::Ipv4(0xC0A80114u).Text(), "192.168.1.20");
    EXPECT_EQ(ConnectionRefusedLine(NetAddress::Ipv4(0xCB007107u)),
              "Connection refused: 203.0.113.7 is not allowed.");
    for (const char* text :
         {"", "1.2.3.", ".1.2.3", "1..2.3", "1.2.3.4 ", "+1.2.3.4", "1.2.3.4a"}) {
        EXPECT_EQ(Ipv4FromText(text), std::nullopt) << text;
    }
}

}  // namespace
