// The soak's account of a keyer's wire: what a station writes, taken apart as the keyer
// takes it, and the comparisons that fail a soak.
#include "tools/soak/wire_ledger.h"

#include <algorithm>

#include "gtest/gtest.h"

namespace {

using soak::Bytes;
using soak::Unit;

// A station's wire: the handshake, host open, the settings block (whose bytes look like
// text), a speed, text with buffered commands among it, a backspace, a clear, key up, and
// host close with a byte after it that the keyer no longer heeds. The clear is a release's,
// with its PTT off right after it, which is no text.
const Bytes kWire = {0x13, 0x13, 0x13, 0x00, 0x04, 0x55, 0x00, 0x02, 0x0F, 0x04, 0x32, 0x35,
                     0x32, 0x20, 0x21, 0x05, 0x14, 0x00, 0x00, 0x00, 0x32, 0x32, 0x00, 0x00,
                     0x07, 0x15, 0x02, 0x14, 'C',  'Q',  0x1C, 0x19, 0x1B, 'A',  'R',  'K',
                     0x08, 0x0A, 0x18, 0x00, 0x0B, 0x00, 0x00, 0x0A, 0x00, 0x03, 'Z'};

TEST(WireLedgerTest, TakesTheWireApartAsTheKeyerDoesInPiecesOfAnySize) {
    for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, kWire.size()}) {
        soak::WireReader reader;
        for (size_t at = 0; at < kWire.size(); at += piece) {
            reader.Feed(Bytes(
                kWire.begin() + static_cast<std::ptrdiff_t>(at),
                kWire.begin() + static_cast<std::ptrdiff_t>(std::min(kWire.size(), at + piece))));
        }
        const std::vector<Unit> expected = {{'C'}, {'Q'}, {0x1C, 0x19}, {0x1B, 'A', 'R'},
                                            {'K'}, {0x08}};
        EXPECT_EQ(reader.units(), expected) << "in pieces of " << piece;
        EXPECT_EQ(reader.last_speed(), 0x14);
        EXPECT_EQ(reader.speed_commands(), 1);
        EXPECT_EQ(reader.clears(), 1);
        EXPECT_EQ(reader.bytes_fed(), kWire.size());
        EXPECT_EQ(soak::Effective(reader.units()), Bytes({'C', 'Q', 0x1C, 0x19, 0x1B, 'A', 'R'}));
        EXPECT_EQ(soak::TextBytesIn(reader.units(), 0, reader.units().size()), 2u);
    }
}

TEST(WireLedgerTest, ABackspaceTakesBackTheUnitBeforeItWithinTheRange) {
    const std::vector<Unit> units = soak::UnitsOf({'A', 0x1C, 0x19, 0x08, 'B', 0x08, 0x08});
    EXPECT_EQ(units.size(), 6u);
    EXPECT_EQ(soak::Effective(units), Bytes());
    EXPECT_EQ(soak::Effective(units, 0, 3), Bytes({'A'}));
    // With nothing before it in the range, a backspace stays, and so a comparison shows it.
    EXPECT_EQ(soak::Effective(units, 2, 4), Bytes({0x08, 'B'}));
}

TEST(WireLedgerTest, ASettledSegmentMustMatchExactly) {
    const Bytes sent = {'C', 'Q', 0x1C, 0x19, 'D', 'E'};
    EXPECT_EQ(soak::CompareExactly(sent, sent), "");
    EXPECT_NE(soak::CompareExactly(sent, {'C', 'Q', 0x1C, 0x19, 'D'}).find("missing"),
              std::string::npos);
    EXPECT_NE(soak::CompareExactly(sent, {'C', 'Q', 'Q', 0x1C, 0x19, 'D', 'E'}).find("at byte 2"),
              std::string::npos);
    EXPECT_NE(soak::CompareExactly(sent, {'C', 'Q', 0x1C, 0x19, 'D', 'E', 'E'}).find("more"),
              std::string::npos);
    EXPECT_EQ(soak::CompareExactly(sent, {'C', 'Q', 0x1C, 0x19, 'E', 'D'}),
              "the wire differs at byte 4 (sent 6, on the wire 6): sent \"CQ<1C><19>DE\", on "
              "the wire \"CQ<1C><19>ED\"");
}

TEST(WireLedgerTest, ASegmentCutShortMayLoseItsEndButNothingElse) {
    const Bytes sent = {'V', 'V', 'V', 0x1C, 0x18, 'T'};
    EXPECT_EQ(soak::CompareAsPrefix(sent, {}), "");
    EXPECT_EQ(soak::CompareAsPrefix(sent, {'V', 'V', 'V', 0x1C, 0x18}), "");
    EXPECT_EQ(soak::CompareAsPrefix(sent, sent), "");
    EXPECT_NE(soak::CompareAsPrefix(sent, {'V', 'V', 0x1C, 0x18}), "");
    EXPECT_NE(soak::CompareAsPrefix(sent, {'V', 'V', 'V', 0x1C, 0x18, 'T', 'T'}), "");
}

TEST(WireLedgerTest, AMessageClearedMayHandOnOneLaterUnitOnce) {
    const std::vector<Unit> sent = soak::UnitsOf({'V', 'V', 0x1C, 0x18, 'T', 'E', 'S', 'T'});
    auto wire = [](const Bytes& bytes) { return soak::UnitsOf(bytes); };
    EXPECT_EQ(soak::CompareAsCutShort(sent, wire({'V', 'V'})), "");
    EXPECT_EQ(soak::CompareAsCutShort(sent, wire({'V', 'V', 'S'})), "");  // T and E were dropped
    EXPECT_EQ(soak::CompareAsCutShort(sent, wire({'V', 0x1C, 0x18})), "");
    EXPECT_NE(soak::CompareAsCutShort(sent, wire({'V', 'V', 'S', 'T'})), "");  // two after a gap
    EXPECT_NE(soak::CompareAsCutShort(sent, wire({'V', 'V', 'Q'})), "");       // never sent
    EXPECT_NE(soak::CompareAsCutShort(sent, wire({'V', 'V', 'V'})), "");       // V twice
}

TEST(WireLedgerTest, AFigureMayGrowByItsMarginAndNoMore) {
    EXPECT_EQ(soak::GrowthBeyond("handles", 80, 82, 2), "");
    EXPECT_EQ(soak::GrowthBeyond("handles", 80, 70, 2), "");
    EXPECT_EQ(soak::GrowthBeyond("handles", 80, 83, 2),
              "handles grew from 80 to 83, more than the 2 allowed");
}

}  // namespace
