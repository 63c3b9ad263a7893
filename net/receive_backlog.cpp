#include "net/receive_backlog.h"

#include <mutex>

#include "keyer/keyer_link.h"
#include "net/link_state.h"
#include "net/packet.h"
#include "net/packet_sender.h"
#include "settings/settings_record.h"

namespace {

constexpr std::size_t kMaxArguments = 2;

uint8_t backlog[kReceiveBacklogSize];
std::size_t backlog_first = 0;
std::size_t backlog_count = 0;
// Argument bytes the newest buffered command here still waits for: those pass whatever
// their value (PTT off's argument is 00).
int arguments_due = 0;
// The arguments still to come of a command dropped for want of room go the same way.
bool discarding = false;
// Said once for each spell of overflow, not once for every byte lost.
bool overflow_reported = false;

std::mutex report_mutex;
uint8_t keyer_bits = 0;      // the keyer's last status, under report_mutex
bool reported_hold = false;  // this station's hold as last decided, under report_mutex

uint8_t BacklogAt(std::size_t index) {
    return backlog[(backlog_first + index) % kReceiveBacklogSize];
}

void DropFront(std::size_t count) {
    backlog_first = (backlog_first + count) % kReceiveBacklogSize;
    backlog_count -= count;
}

bool IsQueueableByte(uint8_t byte) {
    return byte >= kFirstTextByte ||
           (byte >= kFirstBufferedCommand && byte <= kLastBufferedCommand);
}

bool ReportsStatus() {
    return IsLinked() && NetRole() != kNetRoleControlPoint;
}

void SendStatusLocked() {
    const uint8_t hold = reported_hold ? kStatusHold : 0;
    SendPacket(PKT_STATUS, static_cast<uint8_t>(keyer_bits | hold), 0, nullptr);
}

void DecideHold(bool hold) {
    std::lock_guard<std::mutex> lock(report_mutex);
    if (hold == reported_hold) {
        return;
    }
    reported_hold = hold;
    if (ReportsStatus()) {
        SendStatusLocked();
    }
}

// Whole units from the front, while the queue takes them: a text byte, or a buffered
// command with its arguments. A command whose arguments have not all arrived waits for
// them; that is no reason for hold, since the sender has them on their way already (and a
// Merge at a message's end waits for whatever is typed next, as the keyer itself would).
void MoveOn(KeyerLink& keyer) {
    bool refused = false;
    while (backlog_count > 0) {
        uint8_t unit[1 + kMaxArguments] = {};
        const std::size_t length =
            1 + static_cast<std::size_t>(BufferedCommandArgumentCount(BacklogAt(0)));
        if (backlog_count < length) {
            break;
        }
        for (std::size_t i = 0; i < length; ++i) {
            unit[i] = BacklogAt(i);
        }
        if (keyer.QueueBytes(unit, static_cast<int>(length)) == kKeyerQueueFull) {
            refused = true;
            break;
        }
        // Queued, or no keyer is attached to queue it for: either way it has gone.
        DropFront(length);
    }
    if (backlog_count == 0) {
        overflow_reported = false;
    }
    DecideHold(refused || keyer.IsQueueNearlyFull() == 1);
}

// Where the newest unit here starts, found by walking the units from the front.
std::size_t LastUnitStart() {
    std::size_t start = 0;
    for (std::size_t at = 0; at < backlog_count;) {
        start = at;
        at += 1 + static_cast<std::size_t>(BufferedCommandArgumentCount(BacklogAt(at)));
    }
    return start;
}

// The argument bytes the newest unit here still lacks.
int ArgumentsDue() {
    if (backlog_count == 0) {
        return 0;
    }
    const std::size_t start = LastUnitStart();
    const std::size_t length =
        1 + static_cast<std::size_t>(BufferedCommandArgumentCount(BacklogAt(start)));
    return static_cast<int>(start + length - backlog_count);
}

}  // namespace

bool ReceiveTextByte(uint8_t byte, KeyerLink& keyer) {
    const bool argument = arguments_due > 0;
    if (argument) {
        --arguments_due;
    } else if (IsQueueableByte(byte)) {
        arguments_due = BufferedCommandArgumentCount(byte);
        discarding = false;
    } else {
        return false;
    }
    if (discarding) {
        return false;  // the rest of a command that found no room
    }
    if (backlog_count == kReceiveBacklogSize) {
        const bool first_loss = !overflow_reported;
        overflow_reported = true;
        if (argument) {
            // Its command must go too: left here alone it would take the next character
            // as its argument.
            backlog_count = LastUnitStart();
        }
        discarding = arguments_due > 0;
        return first_loss;
    }
    backlog[(backlog_first + backlog_count) % kReceiveBacklogSize] = byte;
    ++backlog_count;
    MoveOn(keyer);
    return false;
}

bool TakeBackReceivedByte(KeyerLink& keyer) {
    if (backlog_count == 0) {
        return false;
    }
    --backlog_count;
    arguments_due = ArgumentsDue();
    MoveOn(keyer);
    return true;
}

void DropReceiveBacklog() {
    backlog_first = 0;
    backlog_count = 0;
    arguments_due = 0;
    discarding = false;
    overflow_reported = false;
}

void FeedKeyerFromBacklog(KeyerLink& keyer) {
    MoveOn(keyer);
}

bool ReceiveBacklogWantsFeeding() {
    if (backlog_count > 0) {
        return true;
    }
    std::lock_guard<std::mutex> lock(report_mutex);
    return reported_hold;
}

std::size_t ReceiveBacklogCount() {
    return backlog_count;
}

std::vector<uint8_t> ReceiveBacklogBytes() {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < backlog_count; ++i) {
        bytes.push_back(BacklogAt(i));
    }
    return bytes;
}

void ReportKeyerStatus(uint8_t status) {
    std::lock_guard<std::mutex> lock(report_mutex);
    keyer_bits = status;
    SendStatusLocked();
}

void ForgetReportedHold() {
    std::lock_guard<std::mutex> lock(report_mutex);
    reported_hold = false;
}
