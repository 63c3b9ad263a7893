// Stored messages on their way out: a sender walks a message's text and hands each byte it
// produces to its sink, the station, which passes it to the other station (while linked), to
// the local keyer and to the typing pane.
//
// Threads. One long-lived thread, started with the first message and ended at exit, sends
// every message of its sender; nobody ever waits on the window's thread for a message to
// end. Starts come from the window's thread (the M buttons) and the keyer reader's (the
// keyer's own buttons); a stop is anyone's, and is only the sending flag set to 0, with no
// hand-shake.
//
// The generation. Since a stop does not wait, a stop followed at once by a new start could
// meet a thread that has not looked at the flag again and would go on with the new
// message's text from the old one's place. So each start takes a new generation, and the
// thread drops a message as soon as the generation is no longer the one it picked up.
//
// The exit. Nothing the thread calls waits for the window or for a person (an error report
// is handed to the window's thread like all it shows), so End() stops it and joins it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "messages/message_parser.h"
#include "settings/settings_record.h"

// Where a message goes. The sender's thread calls it; it must not wait for the window's
// thread, nor have an error report wait for a person there.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // The sender holds back while this is true, and asks again a moment later.
    virtual bool IsBusy() = 0;
    // What one character produced: a byte, or a command with its argument, in one piece.
    virtual void HandOn(const uint8_t* bytes, int count) = 0;
    virtual void OnMessageError(MessageError error) = 0;
};

class MessageSender {
  public:
    // What carries out a message that has started, given its number.
    using CarryOut = std::function<void(int number)>;

    // Without `carry_out` the sender's own thread sends each message that starts. With it no
    // thread ever starts: a start is only recorded (Sending() holds it until a stop) and
    // `carry_out` called on the starting thread, outside the sender's lock; whoever gave it
    // takes the steps below itself, if at all, as a caller that must run the same way every
    // time does. `sink` must outlive the sender.
    // The stored messages are those of `record`.
    MessageSender(MessageSink& sink, SettingsRecord& record, CarryOut carry_out = {});
    MessageSender(const MessageSender&) = delete;
    MessageSender& operator=(const MessageSender&) = delete;
    ~MessageSender() { End(); }

    // Starts sending stored message `number` (1..6) when none is being sent. `sending_value`
    // is what Sending() holds meanwhile: the message number when the operator starts it, 1
    // when the keyer's own buttons do. False, and nothing changes, when a message is being
    // sent already, or after End.
    bool Start(int number, int32_t sending_value);
    // Stops the message being sent, if any, at its next step.
    void Stop() { sending_.store(0); }
    // Nonzero while a message is being sent: the value its start gave.
    int32_t Sending() const { return sending_.load(); }

    // Stores `text` as message `number` (1..6), cut at 255 characters. The one way a slot is
    // written while the program runs: a keyer button may start that message on the keyer
    // reader's thread at the same moment, and gets the old text or the new one, whole.
    void StoreText(int number, const std::string& text);
    // Message `number`'s text as stored; empty for any other number.
    std::string StoredText(int number);

    // The steps of a message, which the thread takes and a caller without it may take the
    // same way. First the text a start of message `number` (1..6) sends, copied into the
    // kTextFieldSize bytes at `text` and terminated within them whatever the slot holds, and
    // the parser at rest; false for no such message. Then, for each character up to that
    // terminator and once the sink is not busy: the character upper-cased, made a space or
    // nothing if it is a control character outside a token (see TakePlainText), parsed, and
    // what it produces handed on to the sink, a command and its argument in one piece each
    // time. False, with nothing handed on, once the sender has ended.
    bool BeginMessage(int number, char* text);
    bool SendCharacter(char character);

    // At exit: stops the message being sent and ends the thread. No message starts
    // afterwards.
    void End();

  private:
    void Run(uint32_t served);
    void BeginParsing();
    // Below 0x20 a byte outside a token would reach the keyer as a command: the Message
    // Editor's line break, 0D 0A, as two of them, and a tab would take the next character as
    // its argument. So a line break (CR LF, a lone CR or a lone LF) becomes one space, and
    // any other such byte goes nowhere, as typed text and text from the link do. False for a
    // character that sends nothing.
    bool TakePlainText(uint8_t* character);
    void SendText(const char* text, uint32_t served);
    bool StillServing(uint32_t served) const;
    void CopyTextLocked(int number, char* text) const;

    MessageSink& sink_;
    SettingsRecord& record_;
    const CarryOut carry_out_;
    // Set by End, under `mutex_`.
    std::atomic<bool> ended_{false};
    std::atomic<int32_t> sending_{0};
    // The generation of the latest start; changed under `mutex_`, read anywhere.
    std::atomic<uint32_t> generation_{0};
    // Only the thread, or a caller taking the steps, uses the parser and the flag after it.
    MessageParser parser_;
    // The last plain-text character was a CR, so an LF now ends the same line break.
    bool after_carriage_return_ = false;

    // Guards the slots while a start copies one or the editor stores one, and what follows.
    std::mutex mutex_;
    std::condition_variable wake_;
    // The text of the latest start, for the thread to take when it picks the start up.
    char requested_text_[kTextFieldSize] = {};
    std::thread thread_;
};
