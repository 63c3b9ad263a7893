#include "net/receive_backlog.h"

#include <mutex>

#include "app/resource_ids.h"
#include "app/window.h"
#include "keyer/keyer_commands.h"
#include "keyer/keyer_reader.h"
#include "net/link_state.h"
#include "net/packet.h"
#include "net/packet_protocol.h"
#include "settings/settings_record.h"

namespace {

constexpr char kBacklogFullText[] = "\r\nprocessIPpacket: receive backlog full, text lost";
constexpr uint8_t kFirstTextByte = 0x20;

// Results of QueueKeyerBytes that leave the bytes waiting: the ring is full.
constexpr int kQueueFull = -7;

uint8_t backlog[kReceiveBacklogSize];
std::size_t backlog_first = 0;
std::size_t backlog_count = 0;
// Said once for each spell of overflow, not once for every byte lost.
bool overflow_logged = false;

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
// command with its argument. A command whose argument has not arrived yet waits for it.
void MoveOn() {
    while (backlog_count > 0) {
        uint8_t unit[2] = {BacklogAt(0), 0};
        const std::size_t length =
            1 + static_cast<std::size_t>(BufferedCommandArgumentCount(unit[0]));
        if (backlog_count < length) {
            break;
        }
        if (length > 1) {
            unit[1] = BacklogAt(1);
        }
        if (QueueKeyerBytes(unit, static_cast<int>(length)) == kQueueFull) {
            break;
        }
        // Queued, or no keyer is attached to queue it for: either way it has gone.
        DropFront(length);
    }
    if (backlog_count == 0) {
        overflow_logged = false;
    }
    DecideHold(backlog_count > 0 || IsKeyerQueueNearlyFull() == 1);
}

}  // namespace

void ReceiveTextByte(uint8_t byte) {
    if (!IsQueueableByte(byte)) {
        return;
    }
    if (backlog_count == kReceiveBacklogSize) {
        if (!overflow_logged) {
            overflow_logged = true;
            ReplaceSelection(IDC_LOG_PANE, kBacklogFullText);
        }
        return;
    }
    backlog[(backlog_first + backlog_count) % kReceiveBacklogSize] = byte;
    ++backlog_count;
    MoveOn();
}

bool TakeBackReceivedByte() {
    if (backlog_count == 0) {
        return false;
    }
    --backlog_count;
    MoveOn();
    return true;
}

void DropReceiveBacklog() {
    backlog_first = 0;
    backlog_count = 0;
    overflow_logged = false;
}

void FeedKeyerFromBacklog() {
    MoveOn();
}

std::size_t ReceiveBacklogCount() {
    return backlog_count;
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
