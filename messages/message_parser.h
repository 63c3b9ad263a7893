// The bracket tokens of a stored message, turned into the keyer's buffered commands one
// character at a time: text passes through, [P] [N] [M] [X] give their command bytes, and
// [Hnn] [Knn] [Snn] [Wnn] give a command byte and a one-byte argument.
#pragma once

#include <cstdint>

// The token syntax, which the Message Editor's buttons write and the parser reads.
constexpr char kTokenOpen = '[';
constexpr char kTokenClose = ']';
constexpr char kTokenPttOn = 'P';
constexpr char kTokenPttOff = 'N';
constexpr char kTokenMerge = 'M';
constexpr char kTokenCancelSpeed = 'X';
constexpr char kTokenSpeed = 'S';
constexpr char kTokenKey = 'K';
constexpr char kTokenWait = 'W';
constexpr char kTokenCommandH = 'H';  // a command known by this letter only

// What a character can do wrong within a token.
enum class MessageError {
    kNone,
    kBadCommand,     // no command has that letter; each next character is tried as one
    kTokenMismatch,  // the token did not close where it had to
};

// Where the parser stands within a token.
enum ParserState : int32_t {
    kParserText = 0,
    kParserLetter = 1,
    kParserTens = 2,
    kParserUnits = 3,
    kParserClose = 4,
};

// One message's tokens, read a character at a time. A message's parser starts at rest and
// is put back there before each message, so that a token left open at the end of one takes
// nothing from the next.
class MessageParser {
  public:
    // Takes one character (already upper-cased) and sets `count` to the number of bytes it
    // produces (0, 1 or 2), in `first` and `second`. A command that takes an argument
    // produces nothing at its letter and both of its bytes at the argument's units digit, so
    // that its two bytes are always handed on together. A wrong command letter or a token
    // that does not close produces nothing and is returned, for the sender to report.
    MessageError ParseChar(uint8_t character, uint8_t* first, uint8_t* second, int* count);

    // Back to plain text, with no token begun.
    void Reset();

    ParserState state() const { return state_; }

  private:
    ParserState state_ = kParserText;
    // The argument read so far, and the buffered command it belongs to.
    uint8_t number_ = 0;
    uint8_t command_ = 0;
};
