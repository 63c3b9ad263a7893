#include "messages/message_parser.h"

#include "keyer/keyer_wire.h"

namespace {

namespace wire = keyer_wire;

uint8_t DigitValue(uint8_t character) {
    // Any character counts here: only its low four bits are taken.
    return static_cast<uint8_t>(character & 0x0F);
}

}  // namespace

void MessageParser::Reset() {
    state_ = kParserText;
    number_ = 0;
    command_ = 0;
}

MessageError MessageParser::ParseChar(uint8_t character, uint8_t* first, uint8_t* second,
                                      int* count) {
    *count = 0;
    switch (state_) {
        case kParserText:
            if (character == kTokenOpen) {
                state_ = kParserLetter;
            } else {
                *first = character;
                *count = 1;
            }
            return MessageError::kNone;
        case kParserLetter:
            switch (character) {
                case kTokenCommandH:
                    command_ = wire::kBufferedCommandH;
                    state_ = kParserTens;
                    return MessageError::kNone;
                case kTokenKey:
                    command_ = wire::kBufferedKey;
                    state_ = kParserTens;
                    return MessageError::kNone;
                case kTokenSpeed:
                    command_ = wire::kBufferedSpeed;
                    state_ = kParserTens;
                    return MessageError::kNone;
                case kTokenWait:
                    command_ = wire::kBufferedWait;
                    state_ = kParserTens;
                    return MessageError::kNone;
                case kTokenMerge:
                    *first = wire::kBufferedMerge;
                    *count = 1;
                    state_ = kParserClose;
                    return MessageError::kNone;
                case kTokenCancelSpeed:
                    *first = wire::kBufferedCancelSpeed;
                    *count = 1;
                    state_ = kParserClose;
                    return MessageError::kNone;
                case kTokenPttOff:
                    *first = wire::kBufferedPtt;
                    *second = 0;
                    *count = 2;
                    state_ = kParserClose;
                    return MessageError::kNone;
                case kTokenPttOn:
                    *first = wire::kBufferedPtt;
                    *second = 1;
                    *count = 2;
                    state_ = kParserClose;
                    return MessageError::kNone;
                default:
                    // Still waiting for a command letter: each following character is one.
                    return MessageError::kBadCommand;
            }
        case kParserTens:
            number_ = static_cast<uint8_t>(DigitValue(character) * 10);
            state_ = kParserUnits;
            return MessageError::kNone;
        case kParserUnits:
            number_ = static_cast<uint8_t>(number_ + DigitValue(character));
            *first = command_;
            *second = number_;
            *count = 2;
            state_ = kParserClose;
            return MessageError::kNone;
        default:
            state_ = kParserText;
            if (character != kTokenClose) {
                // The character that failed to close the token is consumed, not sent.
                return MessageError::kTokenMismatch;
            }
            return MessageError::kNone;
    }
}
