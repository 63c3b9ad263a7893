#include <gtest/gtest.h>

#include "app/field_number.h"

namespace {

TEST(FieldNumber, ReadsDigitsBetweenBlanksAndAnythingElseAsZero) {
    EXPECT_EQ(UnsignedFromText("42"), 42u);
    EXPECT_EQ(UnsignedFromText("  300 "), 300u);
    EXPECT_EQ(UnsignedFromText("4294967295"), 4294967295u);
    for (const char* text : {"", "  ", "4a", "-5", "+5", "1 2", "4294967296", "99999999999"}) {
        EXPECT_EQ(UnsignedFromText(text), 0u) << '"' << text << '"';
    }
}

}  // namespace
