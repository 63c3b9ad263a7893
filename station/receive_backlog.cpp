#include "station/receive_backlog.h"

#include <utility>

#include "keyer/keyer_wire.h"

namespace {

using keyer_wire::BufferedCommandArgumentCount;

constexpr std::size_t kMaxArguments = 2;

bool IsQueueableByte(uint8_t byte) {
    return byte >= keyer_wire::kFirstTextByte || keyer_wire::IsBufferedCommand(byte);
}

std::size_t UnitLength(uint8_t first) {
    return 1 + static_cast<std::size_t>(BufferedCommandArgumentCount(first));
}

}  // namespace

ReceiveBacklog::ReceiveBacklog(TransmitQueue& queue, std::function<void(bool)> decide_hold)
    : queue_(queue), decide_hold_(std::move(decide_hold)) {}

uint8_t ReceiveBacklog::At(std::size_t index) const {
    return ring_[(first_ + index) % kReceiveBacklogSize];
}

void ReceiveBacklog::DropFront(std::size_t count) {
    first_ = (first_ + count) % kReceiveBacklogSize;
    count_ -= count;
}

// Whole units from the front, while the queue takes them: a text byte, or a buffered
// command with its arguments. A command whose arguments have not all arrived waits for
// them; that is no reason for hold, since the sender has them on their way already (and a
// Merge at a message's end waits for whatever is typed next, as the keyer itself would).
void ReceiveBacklog::MoveOn() {
    bool refused = false;
    while (count_ > 0) {
        uint8_t unit[1 + kMaxArguments] = {};
        const std::size_t length = UnitLength(At(0));
        if (count_ < length) {
            break;
        }
        for (std::size_t i = 0; i < length; ++i) {
            unit[i] = At(i);
        }
        if (!queue_.Queue(unit, static_cast<int>(length))) {
            refused = true;
            break;
        }
        // Queued, or no keyer is attached to queue it for: either way it has gone.
        DropFront(length);
    }
    if (count_ == 0) {
        overflow_reported_ = false;
    }
    decide_hold_(refused || queue_.IsNearlyFull());
}

// Where the newest unit here starts, found by walking the units from the front.
std::size_t ReceiveBacklog::LastUnitStart() const {
    std::size_t start = 0;
    for (std::size_t at = 0; at < count_;) {
        start = at;
        at += UnitLength(At(at));
    }
    return start;
}

// The argument bytes the newest unit here still lacks.
int ReceiveBacklog::ArgumentsDue() const {
    if (count_ == 0) {
        return 0;
    }
    const std::size_t start = LastUnitStart();
    return static_cast<int>(start + UnitLength(At(start)) - count_);
}

bool ReceiveBacklog::Receive(uint8_t byte) {
    const bool argument = arguments_due_ > 0;
    if (argument) {
        --arguments_due_;
    } else if (IsQueueableByte(byte)) {
        arguments_due_ = BufferedCommandArgumentCount(byte);
        discarding_ = false;
    } else {
        return false;
    }
    if (discarding_) {
        return false;  // the rest of a command that found no room
    }
    if (count_ == kReceiveBacklogSize) {
        const bool first_loss = !overflow_reported_;
        overflow_reported_ = true;
        if (argument) {
            // Its command must go too: left here alone it would take the next character
            // as its argument.
            count_ = LastUnitStart();
        }
        discarding_ = arguments_due_ > 0;
        return first_loss;
    }
    ring_[(first_ + count_) % kReceiveBacklogSize] = byte;
    ++count_;
    MoveOn();
    return false;
}

bool ReceiveBacklog::TakeBack() {
    if (count_ == 0) {
        return false;
    }
    --count_;
    arguments_due_ = ArgumentsDue();
    MoveOn();
    return true;
}

void ReceiveBacklog::Drop() {
    first_ = 0;
    count_ = 0;
    arguments_due_ = 0;
    discarding_ = false;
    overflow_reported_ = false;
}

std::vector<uint8_t> ReceiveBacklog::Bytes() const {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < count_; ++i) {
        bytes.push_back(At(i));
    }
    return bytes;
}
