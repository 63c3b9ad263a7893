#include <gtest/gtest.h>

#include "settings/field_number.h"

namespace {

TEST(FieldNumber, ReadsDigitsBetweenBlanksAndAnythingElseAsZero) {
    EXPECT_EQ(UnsignedFromText("42"), 42u);
    EXPECT_EQ(UnsignedFromText("  300 "), 300u);
    EXPECT_EQ(UnsignedFromText("\t7\t"), 7u);
    EXPECT_EQ(UnsignedFromText("007"), 7u);
    EXPECT_EQ(UnsignedFromText("4294967295"), 4294967295u);
    for (const char* text : {"", "  ", "4a", "12abc", "abc", "-5", "+5", "1 2", "4294967296",
                             "99999999999", "99999999999999999999"}) {
        EXPECT_EQ(UnsignedFromText(text), std::nullopt) << '"' << text << '"';
        EXPECT_EQ(UnsignedFromText(text).value_or(0), 0u) << '"' << text << '"';
    }
}

// Leading zeros count as digits: a field limited to a few digits does not hold a small
// number written long.
TEST(FieldNumber, MoreDigitsThanAskedForAreNoNumber) {
    EXPECT_EQ(UnsignedFromText(" 123456789 ", 9), 123456789u);
    EXPECT_EQ(UnsignedFromText("000000025", 9), 25u);
    EXPECT_EQ(UnsignedFromText("0000000025", 9), std::nullopt);
    EXPECT_EQ(UnsignedFromText("0000000000025"), 25u);
}

}  // namespace
