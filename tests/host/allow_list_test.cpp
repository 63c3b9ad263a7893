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
            EXPECT_EQ(list.Allows(Ipv4FromText(address).value()), expected) << address;
        }
    }
}

TEST(AllowList, WithoutTheKeyOnlyLocalAndPrivateAddressesConnect) {
    const AllowList list = AllowList::FromEntries(
        ParseIniText("[Network]\nAllowFrm = any\n", "x.ini").Text(ini_keys::kAllowFrom));
    ExpectAllows(list, "127.0.0.2 10.255.0.1 172.31.9.9 192.168.1.20 169.254.3.4",
                 "100.64.0.1 172.32.0.1 192.169.0.1 100.128.0.0 8.8.8.8 0.0.0.0 255.255.255.255");
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
    ExpectAllows(AllowList::LoopbackOnly(), "127.0.0.1 127.255.255.254", "10.0.0.1 8.8.8.8");
}

TEST(AllowList, AddressesReadAndShownAsDottedQuads) {
    EXPECT_EQ(Ipv4FromText("192.168.1.20"), 0xC0A80114u);
    EXPECT_EQ(Ipv4Text(0xC0A80114u), "192.168.1.20");
    EXPECT_EQ(ConnectionRefusedLine(0xCB007107u),
              "Connection refused: 203.0.113.7 is not allowed.");
    for (const char* text :
         {"", "1.2.3.", ".1.2.3", "1..2.3", "1.2.3.4 ", "+1.2.3.4", "1.2.3.4a"}) {
        EXPECT_EQ(Ipv4FromText(text), std::nullopt) << text;
    }
}

}  // namespace
