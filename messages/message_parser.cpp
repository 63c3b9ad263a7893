#include "messages/message_parser.h"

#include "app/window.h"
#include "keyer/keyer_wire.h"

int32_t parser_state = kParserText;
uint8_t parser_number = 0;

namespace {

namespace wire = keyer_wire;

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
            if (character == kTokenOpen) {
                parser_state = kParserLetter;
            } else {
                *first = character;
                *count = 1;
            }
            return;
        case kParserLetter:
            switch (character) {
                case kTokenCommandH:
                    parser_command = wire::kBufferedCommandH;
                    parser_state = kParserTens;
                    return;
                case kTokenKey:
                    parser_command = wire::kBufferedKey;
                    parser_state = kParserTens;
                    return;
                case kTokenSpeed:
                    parser_command = wire::kBufferedSpeed;
                    parser_state = kParserTens;
                    return;
                case kTokenWait:
                    parser_command = wire::kBufferedWait;
                    parser_state = kParserTens;
                    return;
                case kTokenMerge:
                    *first = wire::kBufferedMerge;
                    *count = 1;
                    parser_state = kParserClose;
                    return;
                case kTokenCancelSpeed:
                    *first = wire::kBufferedCancelSpeed;
                    *count = 1;
                    parser_state = kParserClose;
                    return;
                case kTokenPttOff:
                    *first = wire::kBufferedPtt;
                    *second = 0;
                    *count = 2;
                    parser_state = kParserClose;
                    return;
                case kTokenPttOn:
                    *first = wire::kBufferedPtt;
                    *second = 1;
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
            if (character != kTokenClose) {
                // The character that failed to close the token is consumed, not sent.
                Complain(kMessageTokenMismatchText);
            }
            return;
    }
}
