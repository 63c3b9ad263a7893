// The typing pane: characters typed one at a time, and text pasted in at once.
//
// A typed character goes out at once or not at all: while the link or the keyer is busy it
// is refused, and the operator hears so. Pasted text cannot be typed again by a person, so it
// waits its turn instead, in order, and leaves on the link timer's ticks as the busy flag
// allows. What is typed while pasted text waits joins the end of it, so that the far keyer
// sends the text as it stands in the pane. Whatever empties the keyer's buffer (Clear, Close,
// the end of the link, a lost keyer) empties what waits here too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "station/station.h"

namespace {

constexpr uint8_t kBackspace = 8;

// Enough for any text an operator pastes to be sent; beyond it a paste is cut short.
constexpr std::size_t kMostTypedAhead = 4096;

// The other station's busy report takes a round trip to arrive, and never arrives within one
// tick, so a tick sends no more than a fast typist's burst.
constexpr int kTypedAheadPerTick = 4;

uint8_t UpperCase(uint8_t character) {
    return character >= 'a' && character <= 'z' ? static_cast<uint8_t>(character - 'a' + 'A')
                                                : character;
}

}  // namespace

void Station::TypeCharacter(unsigned int character_code) {
    const uint8_t character = UpperCase(static_cast<uint8_t>(character_code & 0xFF));
    if (character < keyer_wire::kFirstTextByte && character != kBackspace) {
        // Enter, and the control codes that Tab, Escape and Ctrl with a letter type: as text
        // they would reach the keyer as commands, and one of them keys the transmitter. The
        // operator means none of them as text, so nothing is refused.
        return;
    }
    if (!RoleAcceptsLocalKeying()) {
        view_.RefuseTypedCharacter();
        return;
    }
    if (character == kBackspace) {
        if (!typed_ahead_.empty()) {
            typed_ahead_.pop_back();  // not sent yet, nor shown
            return;
        }
        // Taking back a character is never refused as busy, and it leaves a stored message
        // going on.
        if (net_.IsLinked()) {
            net_.SendPacket(PKT_BACKSPACE, 0);
        } else {
            keyer_.Backspace();
        }
        view_.TakeBackTypedCharacter();
        return;
    }
    if (!typed_ahead_.empty()) {
        if (typed_ahead_.size() < kMostTypedAhead) {
            typed_ahead_.push_back(character);
        } else {
            view_.RefuseTypedCharacter();
        }
        return;
    }
    if (IsLinkBusy()) {
        view_.RefuseTypedCharacter();
        return;
    }
    SendTypedCharacter(character);
}

void Station::TypeText(const std::string& text) {
    // Unlinked without a keyer, nothing would ever take the text.
    if (!RoleAcceptsLocalKeying() || (!net_.IsLinked() && state_.local_keyer_open.load() == 0)) {
        view_.RefuseTypedCharacter();
        return;
    }
    char before = '\0';
    for (const char pasted : text) {
        // A line break reads as the space between two words, as in a stored message; the
        // second half of a CR LF pair is no second break.
        const bool line_break = pasted == '\r' || pasted == '\n';
        const bool second_half_of_break = before == '\r' && pasted == '\n';
        before = pasted;
        const uint8_t character = line_break ? ' ' : UpperCase(static_cast<uint8_t>(pasted));
        if (second_half_of_break || character < keyer_wire::kFirstTextByte) {
            continue;
        }
        if (typed_ahead_.size() == kMostTypedAhead) {
            view_.RefuseTypedCharacter();
            break;
        }
        typed_ahead_.push_back(character);
    }
    FeedTypedAhead();
}

bool Station::QueueTextInTurn(const std::string& text) {
    for (const char queued : text) {
        const uint8_t character = UpperCase(static_cast<uint8_t>(queued));
        if (character < keyer_wire::kFirstTextByte) {
            continue;
        }
        if (typed_ahead_.size() == kMostTypedAhead) {
            FeedTypedAhead();
            return false;
        }
        typed_ahead_.push_back(character);
    }
    FeedTypedAhead();
    return true;
}

void Station::SendTypedCharacter(uint8_t character) {
    sender_.Stop();  // a stored message being sent stops at its next step
    if (net_.IsLinked()) {
        net_.SendPacket(PKT_TEXT_CHAR, character);
    }
    keyer_.QueueByte(character);
    HandedOnForKeying();
    view_.AppendTypedText(std::string(1, static_cast<char>(character)));
}

void Station::FeedTypedAhead() {
    if (!RoleAcceptsLocalKeying()) {
        typed_ahead_.clear();  // linked since, in a role that takes no keying here
        return;
    }
    for (int sent = 0; sent < kTypedAheadPerTick && !typed_ahead_.empty() && !IsLinkBusy();
         ++sent) {
        SendTypedCharacter(typed_ahead_.front());
        typed_ahead_.pop_front();
    }
}
