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

// The sender's steps, which its thread runs and a caller without the thread may run the
// same way. The text a start of message `number` (1..6) sends, copied into the
// kTextFieldSize bytes at `text` and terminated within them whatever the slot holds; false
// for no such message. Then, for each character up to that terminator and once IsLinkBusy
// reports not busy: the character upper-cased, parsed (the parser reset before the first
// one), and what it produces handed on to the other station while linked, to the local
// keyer and to the log pane, a command and its argument in one piece each time. False,
// with nothing handed on, when the program ended while a parser box was up.
bool CopyMessageText(int number, char* text);
bool SendMessageCharacter(char character);

// At exit, after the window seam is closed: stops the message being sent and ends the
// sender thread. A sender that waits in a parser message box waits for a person, so it is
// left to the process's end instead of being waited for. No message starts afterwards.
void EndMessageSender();
