#include "messages/message_parser.h"

#include "keyer/keyer_wire.h"

int32_t parser_state = kParserText;
uint8_t parser_number = 0;

namespace {

namespace wire = keyer_wire;

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
                case kTokenCommandH:
                    parser_command = wire::kBufferedCommandH;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenKey:
                    parser_command = wire::kBufferedKey;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenSpeed:
                    parser_command = wire::kBufferedSpeed;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenWait:
                    parser_command = wire::kBufferedWait;
                    parser_state = kParserTens;
                    return MessageError::kNone;
                case kTokenMerge:
                    *first = wire::kBufferedMerge;
                    *count = 1;
                    parser_state = kParserClose;
                    return MessageError::kNone;
                case kTokenCancelSpeed:
                    *first = wire::kBufferedCancelSpeed;
                    *count = 1;
                    parser_state = kParserClose;
                    return MessageError::kNone;
                case kTokenPttOff:
                    *first = wire::kBufferedPtt;
                    *second = 0;
                    *count = 2;
                    parser_state = kParserClose;
                    return MessageError::kNone;
                case kTokenPttOn:
                    *first = wire::kBufferedPtt;
                    *second = 1;
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
