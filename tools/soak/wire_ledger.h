// The soak's account of what a keyer was given. Two stations run for a long time; at the end
// every character typed or sent must have reached the RemoteSide keyer exactly once and in
// order. The wire itself is the witness: the emulated keyer logs every byte it receives, and
// the soak reads that log back the way the keyer takes it apart (keyer/keyer_wire.h), keeping what
// goes into the keyer's text buffer (text, buffered commands) and the backspaces, and setting
// aside the immediate commands (speed, clear, pause, tune, the settings block, host mode),
// whose timing the soak does not own.
//
// A Clear or the end of a link may by design throw away what was still on its way, so the
// account is kept in segments, each ending at a Clear or a link drop. A segment the soak
// let settle before ending it must match exactly; one it cut short must be an in-order
// prefix of what was sent, with nothing twice. A backspace takes back the newest unit on both
// sides: the station either took the character back before it left (nothing on the wire)
// or told the keyer to (08 after it), and either way the keyer does not key it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "keyer/keyer_wire.h"

namespace soak {

using Bytes = std::vector<uint8_t>;
// One text byte, a buffered command with its arguments, or a backspace (08).
using Unit = Bytes;

constexpr uint8_t kBackspace = keyer_wire::kBackspace;

// Takes a keyer's wire apart as it arrives, in pieces of any size.
class WireReader {
  public:
    void Feed(const Bytes& bytes);
    // Every byte fed so far: the next Feed starts after these.
    std::size_t bytes_fed() const { return fed_; }
    // What went for the text buffer, and the backspaces, in arrival order.
    const std::vector<Unit>& units() const { return units_; }
    // The speed of the last speed command (02 v), or -1 before the first; how many came.
    int last_speed() const { return last_speed_; }
    int speed_commands() const { return speed_commands_; }
    // Clear commands (0A) so far.
    int clears() const { return clears_; }

  private:
    void Take(const Bytes& command);

    std::size_t fed_ = 0;
    bool host_ = false;
    Bytes pending_;
    std::size_t needed_ = 0;
    std::vector<Unit> units_;
    int last_speed_ = -1;
    int speed_commands_ = 0;
    int clears_ = 0;
    // The last command taken was a clear: a PTT off right after it is the release's.
    bool clear_just_taken_ = false;
};

// A stream of text and buffered commands as the keyer will take it apart into units.
std::vector<Unit> UnitsOf(const Bytes& stream);

// The units from `from` to `to` as the keyer keeps them: each backspace takes back the unit
// before it (a backspace with nothing before it in the range stays, and so shows).
std::vector<Unit> EffectiveUnits(const std::vector<Unit>& units, std::size_t from, std::size_t to);
// The same, its bytes in one piece.
Bytes Effective(const std::vector<Unit>& units, std::size_t from, std::size_t to);
inline Bytes Effective(const std::vector<Unit>& units) {
    return Effective(units, 0, units.size());
}

// Empty when `wire` is `sent`; otherwise one line that says where and how they part.
std::string CompareExactly(const Bytes& sent, const Bytes& wire);
// Empty when `wire` is `sent` or an in-order beginning of it; otherwise one line as above.
std::string CompareAsPrefix(const Bytes& sent, const Bytes& wire);
// A segment ended by a Clear in the middle of a stored message: an in-order beginning of
// what was sent, and at most one unit more from further on. A message stops at its
// sender's next step, so the sender may hand on one more character after the Clear has
// emptied everything before it; that character is the message's, in order, and only once.
std::string CompareAsCutShort(const std::vector<Unit>& sent, const std::vector<Unit>& wire);

// Text bytes (not commands or their arguments) among the units, backspaces applied.
std::size_t TextBytesIn(const std::vector<Unit>& units, std::size_t from, std::size_t to);

// A figure that must stay flat: empty when `end` is at most `margin` above `start`,
// otherwise one line naming it with both values.
std::string GrowthBeyond(const std::string& what, long start, long end, long margin);

}  // namespace soak
