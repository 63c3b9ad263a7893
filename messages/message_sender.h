// Stored messages on their way out: one sender walks a message's text and hands each byte
// it produces to its sink, the station, which passes it to the other station (while
// linked), to the local keyer and to the typing pane.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "messages/message_parser.h"

// Nonzero while a message is being sent: the message's number, or 1 for a keyer button's.
// Anything stops the message by setting it to 0.
extern std::atomic<int32_t> sending_message;
// Where the sender stands in the text it sends.
extern std::atomic<const char*> message_cursor;

// Where a message goes. The sender's thread calls it; it must not wait for the window's
// thread, except that an error report may wait for a person.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // The sender holds back while this is true, and asks again a moment later.
    virtual bool IsBusy() = 0;
    // What one character produced: a byte, or a command with its argument, in one piece.
    virtual void HandOn(const uint8_t* bytes, int count) = 0;
    virtual void OnMessageError(MessageError error) = 0;
};

// Starts sending stored message `number` (1..6) to `sink` when none is being sent.
// `sending_value` is what `sending_message` holds meanwhile: the message number when the
// operator starts it, 1 when the keyer's own buttons do. False, and nothing changes, when a
// message is already being sent. The sink must live until EndMessageSender.
bool StartMessage(int number, int32_t sending_value, MessageSink* sink);

// Stores `text` as message `number` (1..6), cut at 255 characters. The one way a slot is
// written while the program runs: a keyer button may start that message on the keyer
// reader's thread at the same moment, and gets the old text or the new one, whole.
void StoreMessageText(int number, const std::string& text);

// The sender's steps, which its thread runs and a caller without the thread may run the
// same way. The text a start of message `number` (1..6) sends, copied into the
// kTextFieldSize bytes at `text` and terminated within them whatever the slot holds; false
// for no such message. Then, for each character up to that terminator and once the sink is
// not busy: the character upper-cased, parsed (the parser reset before the first one), and
// what it produces handed on to the sink, a command and its argument in one piece each time.
// False, with nothing handed on, when the program ended while an error report was up.
bool CopyMessageText(int number, char* text);
bool SendMessageCharacter(char character, MessageSink& sink);

// At exit: stops the message being sent and ends the sender thread. A sender that waits in
// an error report waits for a person, so it is left to the process's end instead of being
// waited for. No message starts afterwards.
void EndMessageSender();
