// The sender works on its own copy of a message, taken under its lock when the message
// starts; the editor stores a slot under the same lock, so neither races the other.
#include "messages/message_sender.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "keyer/keyer_wire.h"

namespace {

constexpr auto kBusyPoll = std::chrono::milliseconds(5);
constexpr uint8_t kCarriageReturn = '\r';
constexpr uint8_t kLineFeed = '\n';

uint8_t UpperCase(uint8_t character) {
    return character >= 'a' && character <= 'z' ? static_cast<uint8_t>(character - 'a' + 'A')
                                                : character;
}

bool IsMessageNumber(int number) {
    return number >= 1 && number <= kMessageCount;
}

}  // namespace

MessageSender::MessageSender(MessageSink& sink, SettingsRecord& record, CarryOut carry_out)
    : sink_(sink), record_(record), carry_out_(std::move(carry_out)) {}

bool MessageSender::Start(int number, int32_t sending_value) {
    if (!IsMessageNumber(number) || sending_value == 0) {
        return false;
    }
    {
        // Only a start makes the flag nonzero, and every start holds the lock.
        std::lock_guard<std::mutex> lock(mutex_);
        if (ended_.load() || sending_.load() != 0) {
            return false;
        }
        CopyTextLocked(number, requested_text_);
        // The new generation is out before the flag, so a thread that sees the flag set
        // again also sees that the message it holds is no longer the one to send.
        const uint32_t before = generation_.load();
        generation_.store(before + 1);
        sending_.store(sending_value);
        if (!carry_out_) {
            if (!thread_.joinable()) {
                thread_ = std::thread(&MessageSender::Run, this, before);
            }
            wake_.notify_all();
            return true;
        }
    }
    carry_out_(number);
    return true;
}

void MessageSender::StoreText(int number, const std::string& text) {
    if (!IsMessageNumber(number)) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    char* slot = record_.messages[number - 1];
    // The rest of the slot is cleared, so no end of an older, longer text stays in the file
    // behind the new one's NUL.
    std::memset(slot, 0, kTextFieldSize);
    std::memcpy(slot, text.data(), std::min(text.size(), kTextFieldSize - 1));
}

std::string MessageSender::StoredText(int number) {
    if (!IsMessageNumber(number)) {
        return {};
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const char* slot = record_.messages[number - 1];
    return std::string(slot, strnlen(slot, kTextFieldSize - 1));
}

bool MessageSender::BeginMessage(int number, char* text) {
    if (!IsMessageNumber(number)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        CopyTextLocked(number, text);
    }
    BeginParsing();
    return true;
}

bool MessageSender::SendCharacter(char character) {
    uint8_t bytes[2] = {0, 0};
    int count = 0;
    uint8_t byte = UpperCase(static_cast<uint8_t>(character));
    MessageError error = MessageError::kNone;
    if (parser_.state() != kParserText || TakePlainText(&byte)) {
        error = parser_.ParseChar(byte, &bytes[0], &bytes[1], &count);
    }
    if (ended_.load()) {
        return false;
    }
    if (error != MessageError::kNone) {
        sink_.OnMessageError(error);
    }
    if (count > 0) {
        sink_.HandOn(bytes, count);
    }
    return true;
}

void MessageSender::BeginParsing() {
    parser_.Reset();
    after_carriage_return_ = false;
}

bool MessageSender::TakePlainText(uint8_t* character) {
    // Outside a token the parser is only ever left by a bracket, which clears the flag.
    const bool ends_line_break = *character == kLineFeed && after_carriage_return_;
    after_carriage_return_ = *character == kCarriageReturn;
    if (*character == kCarriageReturn || *character == kLineFeed) {
        *character = ' ';
        return !ends_line_break;
    }
    return *character >= keyer_wire::kFirstTextByte;
}

void MessageSender::End() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_.store(true);
        sending_.store(0);
        wake_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

// The flag is read before the generation: see Start.
bool MessageSender::StillServing(uint32_t served) const {
    return sending_.load() != 0 && generation_.load() == served && !ended_.load();
}

void MessageSender::CopyTextLocked(int number, char* text) const {
    std::memcpy(text, record_.messages[number - 1], kTextFieldSize);
    // A slot filled to its end from a file still ends within its bytes.
    text[kTextFieldSize - 1] = '\0';
}

// `served` is the generation before the start that created the thread.
void MessageSender::Run(uint32_t served) {
    char text[kTextFieldSize];
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return ended_.load() || generation_.load() != served; });
            if (ended_.load()) {
                return;
            }
            served = generation_.load();
            std::memcpy(text, requested_text_, sizeof text);
        }
        BeginParsing();
        SendText(text, served);
    }
}

void MessageSender::SendText(const char* text, uint32_t served) {
    const char* cursor = text;
    while (StillServing(served)) {
        if (*cursor == '\0') {
            std::lock_guard<std::mutex> lock(mutex_);
            if (generation_.load() == served) {
                sending_.store(0);
            }
            continue;
        }
        if (sink_.IsBusy()) {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, kBusyPoll,
                           [&] { return ended_.load() || generation_.load() != served; });
            continue;
        }
        if (!SendCharacter(*cursor++)) {
            return;  // the sender has ended
        }
    }
}
