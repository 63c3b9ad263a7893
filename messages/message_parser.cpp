#include "messages/message_parser.h"

int32_t parser_state = kParserText;
uint8_t parser_number = 0;

namespace {

// The buffered command whose argument is being read.
uint8_t parser_command = 0;

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

MessageError ParseMessageChar(uint8_t character, uint8_t* first, uint8_t* second, int* count) {
    *count = 0;
    switch (parser_state) {
        case kParserText:
            if (character == kTokenOpen) {
                parser_state = kParserLetter;
            } else {
                *first = character;
                *count = 1;
            }
            return MessageError::kNone;
        case kParserLetter:
            switch (character) {
                case kTokenCommand1D:
                    parser_command = 0x1D;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenKey:
                    parser_command = 0x19;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenSpeed:
                    parser_command = 0x1C;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenWait:
                    parser_command = 0x1A;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenMerge:
                    *first = 0x1B;
                    *count = 1;
                    parser_state = kParserClose;
                    return MessageError::kNone;
                case kTokenCancelSpeed:
                    *first = 0x1E;
                    *count = 1;
                    parser_state = kParserClose;
                    return MessageError::kNone;
                case kTokenPttOff:
                    *first = 0x18;
                    *second = 0x00;
                    *count = 2;
                    parser_state = kParserClose;
                    return MessageError::kNone;
                case kTokenPttOn:
                    *first = 0x18;
                    *second = 0x01;
                    *count = 2;
                    parser_state = kParserClose;
                    return MessageError::kNone;
                default:
                    // Still waiting for a command letter: each following character is one.
                    return MessageError::kBadCommand;
            }
        case kParserTens:
            parser_number = static_cast<uint8_t>(DigitValue(character) * 10);
            parser_state = kParserUnits;
            return MessageError::kNone;
        case kParserUnits:
            parser_number = static_cast<uint8_t>(parser_number + DigitValue(character));
            *first = parser_command;
            *second = parser_number;
            *count = 2;
            parser_state = kParserClose;
            return MessageError::kNone;
        default:
            parser_state = kParserText;
            if (character != kTokenClose) {
                // The character that failed to close the token is consumed, not sent.
                return MessageError::kTokenMismatch;
            }
            return MessageError::kNone;
    }
}
