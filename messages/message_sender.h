// Stored messages on their way out: one sender walks a message's text and hands each byte
// it produces to the other station (while linked), to the local keyer and to the log pane.
#pragma once

#include <cstdint>
#include <string>

// Starts sending stored message `number` (1..6) when none is being sent. `sending_value`
// is what `sending_message` holds meanwhile: the message number when the Main window starts
// it, 1 when the keyer's own buttons do. False, and nothing changes, when a message is
// already being sent. Anything stops the message by setting `sending_message` to 0.
bool StartMessage(int number, int32_t sending_value);

// Stores `text` as message `number` (1..6), cut at 255 characters. The one way a slot is
// written while the program runs: a keyer button may start that message on the keyer
// reader's thread at the same moment, and gets the old text or the new one, whole.
void StoreMessageText(int number, const std::string& text);

// At exit, after the window seam is closed: stops the message being sent and ends the
// sender thread. A sender that waits in a parser message box waits for a person, so it is
// left to the process's end instead of being waited for. No message starts afterwards.
void EndMessageSender();
