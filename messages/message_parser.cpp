#include "messages/message_parser.h"

#include "app/window.h"

int32_t parser_state = kParserText;
uint8_t parser_number = 0;

namespace {

constexpr uint8_t kOpenBracket = '[';
constexpr uint8_t kCloseBracket = ']';

// The buffered command whose argument is being read.
uint8_t parser_command = 0;

void Complain(const char* text) {
    ShowMessageBox(nullptr, text, kMessageParserCaption, BoxIcon::kWarning);
}

uint8_t DigitValue(uint8_t character) {
    // Any character counts here: only its low four bits are taken.
    return static_cast<uint8_t>(character & 0x0F);
}

}  // namespace

void ResetMessageParser() {
    parser_state = kParserText;
    parser_number = 0;
    parser_command = 0;
}

void ParseMessageChar(uint8_t character, uint8_t* first, uint8_t* second, int* count) {
    *count = 0;
    switch (parser_state) {
        case kParserText:
            if (character == kOpenBracket) {
                parser_state = kParserLetter;
            } else {
                *first = character;
                *count = 1;
            }
            return;
        case kParserLetter:
            switch (character) {
                case 'H':
                    parser_command = 0x1D;
                    parser_state = kParserTens;
                    return;
                case 'K':
                    parser_command = 0x19;
                    parser_state = kParserTens;
                    return;
                case 'S':
                    parser_command = 0x1C;
                    parser_state = kParserTens;
                    return;
                case 'W':
                    parser_command = 0x1A;
                    parser_state = kParserTens;
                    return;
                case 'M':
                    *first = 0x1B;
                    *count = 1;
                    parser_state = kParserClose;
                    return;
                case 'X':
                    *first = 0x1E;
                    *count = 1;
                    parser_state = kParserClose;
                    return;
                case 'N':
                    *first = 0x18;
                    *second = 0x00;
                    *count = 2;
                    parser_state = kParserClose;
                    return;
                case 'P':
                    *first = 0x18;
                    *second = 0x01;
                    *count = 2;
                    parser_state = kParserClose;
                    return;
                default:
                    // Still waiting for a command letter: each following character is one.
                    Complain(kMessageBadCommandText);
                    return;
            }
        case kParserTens:
            parser_number = static_cast<uint8_t>(DigitValue(character) * 10);
            parser_state = kParserUnits;
            return;
        case kParserUnits:
            parser_number = static_cast<uint8_t>(parser_number + DigitValue(character));
            *first = parser_command;
            *second = parser_number;
            *count = 2;
            parser_state = kParserClose;
            return;
        default:
            parser_state = kParserText;
            if (character != kCloseBracket) {
                // The character that failed to close the token is consumed, not sent.
                Complain(kMessageTokenMismatchText);
            }
            return;
    }
}
