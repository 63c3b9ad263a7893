// The message sender.
//
// One long-lived thread, started with the first message and ended at exit, sends every
// message. A stop is only `sending_message` set to 0 by whoever wants it (Clear, a typed
// character, a break-in), with no hand-shake; so a stop followed at once by a new start could
// otherwise meet a sender that has not yet looked at the flag again and would go on with the
// new message's text. Each start therefore takes a new generation number, and the sender
// drops a message as soon as the generation is no longer the one it picked up. With a single
// thread nobody ever waits for a sender to end on the window's thread.
//
// The sender works on its own copy of the message, taken under the module's lock when the
// message starts, and the editor stores a slot under the same lock, so neither races the
// other; `message_cursor` points into that copy.
//
// At exit nothing the sender calls waits for the window, except an error report that was
// already up: it waits for a person. The exit joins the thread unless it is inside such a
// report, in which case it lets it go; such a sender finds `quit` set when the report
// returns and ends without touching anything else.
#include "messages/message_sender.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "messages/message_parser.h"
#include "settings/settings_record.h"

std::atomic<int32_t> sending_message{0};
std::atomic<const char*> message_cursor{nullptr};

namespace {

constexpr auto kBusyPoll = std::chrono::milliseconds(5);

// Read by a sender that was let go at exit after its box returns, so they are plain atomics
// of their own rather than members of the module below.
std::atomic<bool> quit{false};
std::atomic<bool> reporting{false};

// The generation of the latest start; changed under `mutex`, read anywhere.
std::atomic<uint32_t> generation{0};

struct SenderModule {
    std::mutex mutex;
    std::condition_variable wake;
    std::thread thread;
    // The text and sink of the latest start, for the sender to take when it picks the start up.
    char requested_text[kTextFieldSize] = {};
    MessageSink* requested_sink = nullptr;

    // A thread left running must not meet a destroyed module, whoever forgot to end it.
    ~SenderModule() { End(); }
    void End();
};

SenderModule& Module() {
    static SenderModule module;
    return module;
}

uint8_t UpperCase(uint8_t character) {
    return character >= 'a' && character <= 'z' ? static_cast<uint8_t>(character - 'a' + 'A')
                                                : character;
}

// The flag is read before the generation: see StartMessage.
bool StillServing(uint32_t served) {
    return sending_message.load() != 0 && generation.load() == served && !quit.load();
}

void SendMessageText(SenderModule& module, uint32_t served, MessageSink& sink) {
    while (StillServing(served)) {
        const char* cursor = message_cursor.load();
        if (*cursor == '\0') {
            std::lock_guard<std::mutex> lock(module.mutex);
            if (generation.load() == served) {
                sending_message.store(0);
            }
            continue;
        }
        if (sink.IsBusy()) {
            std::unique_lock<std::mutex> lock(module.mutex);
            module.wake.wait_for(lock, kBusyPoll,
                                 [served] { return quit.load() || generation.load() != served; });
            continue;
        }
        message_cursor.store(cursor + 1);
        if (!SendMessageCharacter(*cursor, sink)) {
            return;  // the program ended while an error report was up
        }
    }
}

// Under the module's lock, which the editor's store takes too.
void CopyMessageTextLocked(int number, char* text) {
    std::memcpy(text, settings.messages[number - 1], kTextFieldSize);
    // A slot filled to its end from a file still ends within its bytes.
    text[kTextFieldSize - 1] = '\0';
}

// `served` is the generation before the start that created the thread.
void RunMessageSender(uint32_t served) {
    SenderModule& module = Module();
    char text[kTextFieldSize];
    MessageSink* sink = nullptr;
    for (;;) {
        if (quit.load()) {
            return;  // without the module's lock: the module may be gone at exit
        }
        {
            std::unique_lock<std::mutex> lock(module.mutex);
            module.wake.wait(lock, [served] { return quit.load() || generation.load() != served; });
            if (quit.load()) {
                return;
            }
            served = generation.load();
            std::memcpy(text, module.requested_text, sizeof text);
            sink = module.requested_sink;
        }
        ResetMessageParser();
        message_cursor.store(text);
        SendMessageText(module, served, *sink);
    }
}

void SenderModule::End() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit.store(true);
        sending_message.store(0);
        wake.notify_all();
    }
    if (!thread.joinable()) {
        return;
    }
    // `quit` is stored before `reporting` is read, and the sender clears `reporting` before it
    // reads `quit`: either the join finds a sender that will not block, or the sender sees
    // `quit` when its box returns.
    if (reporting.load()) {
        thread.detach();
    } else {
        thread.join();
    }
}

}  // namespace

bool StartMessage(int number, int32_t sending_value, MessageSink* sink) {
    if (number < 1 || number > kMessageCount || sending_value == 0 || sink == nullptr) {
        return false;
    }
    SenderModule& module = Module();
    // Only a start makes `sending_message` nonzero, and every start holds the lock.
    std::lock_guard<std::mutex> lock(module.mutex);
    if (quit.load() || sending_message.load() != 0) {
        return false;
    }
    CopyMessageTextLocked(number, module.requested_text);
    module.requested_sink = sink;
    // The new generation is out before the flag, so a sender that sees the flag set again
    // also sees that the message it holds is no longer the one to send.
    const uint32_t before = generation.load();
    generation.store(before + 1);
    sending_message.store(sending_value);
    if (!module.thread.joinable()) {
        module.thread = std::thread(RunMessageSender, before);
    }
    module.wake.notify_all();
    return true;
}

bool CopyMessageText(int number, char* text) {
    if (number < 1 || number > kMessageCount) {
        return false;
    }
    std::lock_guard<std::mutex> lock(Module().mutex);
    CopyMessageTextLocked(number, text);
    return true;
}

bool SendMessageCharacter(char character, MessageSink& sink) {
    uint8_t bytes[2] = {0, 0};
    int count = 0;
    const MessageError error =
        ParseMessageChar(UpperCase(static_cast<uint8_t>(character)), &bytes[0], &bytes[1], &count);
    if (error != MessageError::kNone) {
        reporting.store(true);
        sink.OnMessageError(error);
        reporting.store(false);
    }
    if (quit.load()) {
        return false;
    }
    if (count > 0) {
        sink.HandOn(bytes, count);
    }
    return true;
}

void StoreMessageText(int number, const std::string& text) {
    if (number < 1 || number > kMessageCount) {
        return;
    }
    std::lock_guard<std::mutex> lock(Module().mutex);
    char* slot = settings.messages[number - 1];
    // The rest of the slot is cleared, so no end of an older, longer text stays in the file
    // behind the new one's NUL.
    std::memset(slot, 0, kTextFieldSize);
    std::memcpy(slot, text.data(), std::min(text.size(), kTextFieldSize - 1));
}

void EndMessageSender() {
    Module().End();
}
