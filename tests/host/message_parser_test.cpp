// The token parser's table: what each character of a message turns into on the keyer's
// wire, and the two errors it reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/message_parser.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Parsed {
    Bytes bytes;
    // The bytes produced, one entry per character that produced any.
    std::vector<Bytes> per_character;
    std::vector<MessageError> errors;
    ParserState state_after = kParserText;
};

// Runs already upper-cased text through a parser from its text state.
Parsed Parse(const std::string& text) {
    MessageParser parser;
    Parsed parsed;
    for (char character : text) {
        uint8_t first = 0xEE;
        uint8_t second = 0xEE;
        int count = -1;
        const MessageError error =
            parser.ParseChar(static_cast<uint8_t>(character), &first, &second, &count);
        if (error != MessageError::kNone) {
            EXPECT_EQ(count, 0) << "an error produces nothing";
            parsed.errors.push_back(error);
        }
        EXPECT_TRUE(count >= 0 && count <= 2);
        const Bytes produced = count == 0   ? Bytes{}
                               : count == 1 ? Bytes{first}
                                            : Bytes{first, second};
        if (!produced.empty()) {
            parsed.per_character.push_back(produced);
        }
        parsed.bytes.insert(parsed.bytes.end(), produced.begin(), produced.end());
    }
    parsed.state_after = parser.state();
    return parsed;
}

TEST(MessageParser, TextAndEveryToken) {
    EXPECT_EQ(Parse("CQ [S25]DE").bytes, (Bytes{0x43, 0x51, 0x20, 0x1C, 0x19, 0x44, 0x45}));
    EXPECT_EQ(Parse("[P][N][M][X]").bytes, (Bytes{0x18, 0x01, 0x18, 0x00, 0x1B, 0x1E}));
    EXPECT_EQ(Parse("[K07][W99][H00]").bytes, (Bytes{0x19, 7, 0x1A, 99, 0x1D, 0}));
    // Carriage return, line feed and bytes from 0x80 up are characters like any other.
    EXPECT_EQ(Parse("\r\n\x80\xE9\xFF").bytes, (Bytes{0x0D, 0x0A, 0x80, 0xE9, 0xFF}));
    EXPECT_TRUE(Parse("").bytes.empty());
    EXPECT_TRUE(Parse("[P]A").errors.empty());
}

TEST(MessageParser, DigitsAreTheirLowFourBits) {
    EXPECT_EQ(Parse("[SAB]").bytes, (Bytes{0x1C, 12}));
    EXPECT_EQ(Parse("[W??]").bytes, (Bytes{0x1A, 165}));
}

TEST(MessageParser, CommandAndArgumentComeOutTogetherAtTheUnitsDigit) {
    const Parsed parsed = Parse("A[S25]");
    EXPECT_EQ(parsed.per_character, (std::vector<Bytes>{{'A'}, {0x1C, 0x19}}));
    EXPECT_TRUE(Parse("[S2").bytes.empty());
}

TEST(MessageParser, UnclosedTokenConsumesTheCharacter) {
    // 50 from the 5 and 13 from the closing bracket; the A fails to close the token.
    const Parsed parsed = Parse("[S5]AB");
    EXPECT_EQ(parsed.bytes, (Bytes{0x1C, 63, 'B'}));
    EXPECT_EQ(parsed.errors, std::vector<MessageError>{MessageError::kTokenMismatch});
}

TEST(MessageParser, UnknownLetterKeepsWaitingForALetter) {
    const Parsed parsed = Parse("[Q]A");
    EXPECT_TRUE(parsed.bytes.empty());
    EXPECT_EQ(parsed.errors, std::vector<MessageError>(3, MessageError::kBadCommand));
    EXPECT_EQ(parsed.state_after, kParserLetter);

    const Parsed known = Parse("[QM]B");
    EXPECT_EQ(known.bytes, (Bytes{0x1B, 'B'}));
}

}  // namespace
