// The command mailbox, the transmit queue and the keyer writer: the one thread that writes
// to the keyer while host mode is open.
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "keyer/keyer_commands.h"
#include "keyer/keyer_host.h"
#include "keyer/keyer_internal.h"
#include "keyer/keyer_platform.h"
#include "keyer/serial_port.h"

using namespace keyer_internal;

namespace {

constexpr int kNearlyFullAbove = 42;
constexpr int kNearlyFullClearedAt = 20;
constexpr auto kWriterTick = std::chrono::milliseconds(3);

bool HostOpen() {
    return host_open.load() == 1;
}

uint8_t LowByte(int value) {
    return static_cast<uint8_t>(value & 0xFF);
}

int SetWantedBytes(std::initializer_list<std::pair<int, int>> index_and_value) {
    if (!HostOpen()) {
        return -9;
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        for (const auto& [index, value] : index_and_value) {
            wanted_settings[index] = LowByte(value);
        }
    }
    mailbox_event.Signal();
    return 0;
}

int RequestOneShot(std::atomic<int32_t>& slot, bool needs_host_open) {
    if (needs_host_open && !HostOpen()) {
        return -9;
    }
    slot = 1;
    mailbox_event.Signal();
    return 0;
}

// Appends all of `bytes` or none of them: a buffered command split by a full ring would
// reach the keyer as a different command.
int QueueBytes(const uint8_t* bytes, int32_t count) {
    if (!HostOpen()) {
        return -9;
    }
    bool was_empty = false;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        if (queue_count + count > kQueueSize) {
            return kKeyerQueueFull;  // never overwrite a byte the keyer has not had yet
        }
        was_empty = queue_count == 0;
        for (const uint8_t* byte = bytes; byte != bytes + count; ++byte) {
            queue_ring[queue_write] = *byte;
            queue_write = (queue_write + 1) % kQueueSize;
            ++queue_count;
        }
        if (queue_count > kNearlyFullAbove) {
            queue_nearly_full = 1;
        }
    }
    if (was_empty) {
        // Not a signal: queued bytes still go out on ticks. It only ends the writer's idle
        // sleep so that the ticks start.
        mailbox_event.Nudge();
    }
    return 0;
}

int QueueBytes(std::initializer_list<uint8_t> bytes) {
    return QueueBytes(bytes.begin(), static_cast<int32_t>(bytes.size()));
}

void Send(std::initializer_list<uint8_t> bytes) {
    uint8_t buffer[8];
    uint32_t count = 0;
    for (uint8_t byte : bytes) {
        buffer[count++] = byte;
    }
    WriteKeyerPort(buffer, count);
}

bool QueueIsEmpty() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    return queue_count == 0;
}

// One tick's worth of the queue: one byte, or a buffered command together with its arguments.
// Sent apart, a command that a pass wrote between them (a clear, a speed) would reach the
// keyer as the buffered command's argument, and the argument as a command of its own.
void SendOneQueuedUnit() {
    uint8_t unit[3] = {0, 0, 0};  // a command byte and at most two arguments
    int32_t length = 1;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        if (queue_count == 0 || (keyer_status.load() & 0x01) != 0) {
            return;
        }
        unit[0] = queue_ring[queue_read];
        const int32_t whole = 1 + BufferedCommandArgumentCount(unit[0]);
        if (whole <= queue_count) {
            length = whole;  // a command byte queued on its own still goes, alone
        }
        for (int32_t i = 1; i < length; ++i) {
            unit[i] = queue_ring[(queue_read + i) % kQueueSize];
        }
        queue_read = (queue_read + length) % kQueueSize;
        // Counted out before the write so a break-in or clear during the write cannot
        // leave the count below zero.
        queue_count -= length;
        if (queue_count <= kNearlyFullClearedAt) {
            queue_nearly_full = 0;
        }
    }
    WriteKeyerPort(unit, static_cast<uint32_t>(length));
}

// Rows 3 to 14: a command for each settings byte (or pair) that differs from what was
// last sent, in the order the keyer expects them.
struct ValueRow {
    uint8_t command;
    int first;
    int second;  // -1 when the command takes one value
    bool trailing_zero;
};
constexpr ValueRow kValueRows[] = {
    {0x02, 1, -1, false},  {0x05, 6, 7, true},    {0x01, 2, -1, false}, {0x03, 3, -1, false},
    {0x04, 4, 5, false},   {0x10, 8, -1, false},  {0x11, 9, -1, false}, {0x0D, 10, -1, false},
    {0x12, 11, -1, false}, {0x17, 12, -1, false}, {0x0E, 0, -1, false}, {0x09, 13, -1, false},
};

void ServiceValueRow(const ValueRow& row) {
    uint8_t first = 0;
    uint8_t second = 0;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        const bool first_differs = wanted_settings[row.first] != sent_settings[row.first];
        const bool second_differs =
            row.second >= 0 && wanted_settings[row.second] != sent_settings[row.second];
        if (!first_differs && !second_differs) {
            return;
        }
        sent_settings[row.first] = wanted_settings[row.first];
        first = sent_settings[row.first];
        if (row.second >= 0) {
            sent_settings[row.second] = wanted_settings[row.second];
            second = sent_settings[row.second];
        }
    }
    if (row.second < 0) {
        Send({row.command, first});
    } else if (row.trailing_zero) {
        Send({row.command, first, second, 0x00});
    } else {
        Send({row.command, first, second});
    }
}

void ServiceOneShot(std::atomic<int32_t>& slot, std::initializer_list<uint8_t> bytes) {
    if (slot.exchange(0) != 0) {
        Send(bytes);
    }
}

// One pass over every slot in the command table's order. True when the host close has
// been sent and the writer must end.
bool ServiceMailbox() {
    // Read before any slot: every request made before the ticket was taken is seen below.
    const uint32_t ticket = pass_tickets_issued.load();
    if (break_in_pending.exchange(0) != 0) {
        std::lock_guard<std::mutex> lock(queue_mutex);
        ResetTransmitQueueLocked();
    }
    if (clear_requested.exchange(0) != 0) {
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            ResetTransmitQueueLocked();
        }
        Send({0x0A});
    }
    for (const ValueRow& row : kValueRows) {
        ServiceValueRow(row);
    }
    const bool release = release_requested.exchange(0) != 0;
    const int32_t key_down = key_down_wanted.load();
    if (release || key_down != key_down_sent) {
        key_down_sent = key_down;
        Send({0x0B, static_cast<uint8_t>(key_down != 0 ? 1 : 0)});
    }
    ServiceOneShot(speed_pot_requested, {0x07});
    const int32_t pause = pause_wanted.load();
    if (pause != pause_sent) {
        pause_sent = pause;
        Send({0x06, static_cast<uint8_t>(pause != 0 ? 1 : 0)});
    }
    const uint8_t paddle_input = paddle_input_wanted.load();
    if (release || paddle_input != paddle_input_sent) {
        paddle_input_sent = paddle_input;
        Send({0x14, paddle_input});
    }
    if (load_requested.exchange(0) != 0) {
        uint8_t block[2 + kSettingsSize + 1];
        block[0] = 0x0F;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            std::memcpy(block + 1, sent_settings, kSettingsSize);
        }
        block[1 + kSettingsSize] = 0x07;
        block[2 + kSettingsSize] = 0x15;
        WriteKeyerPort(block, sizeof block);
    }
    if (backspace_requested.exchange(0) != 0) {
        bool tell_keyer = false;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            if (queue_count == 0) {
                tell_keyer = true;
            } else {
                // The keyer has not had the byte yet: taking it back is the backspace.
                queue_write = (queue_write + kQueueSize - 1) % kQueueSize;
                --queue_count;
            }
        }
        if (tell_keyer) {
            Send({0x08});
        }
    }
    ServiceOneShot(base_mode_requested, {0x00, 0x0A});
    ServiceOneShot(extended_mode_requested, {0x00, 0x0B});
    ServiceOneShot(admin_0f_requested, {0x00, 0x0F});
    ServiceOneShot(admin_10_requested, {0x00, 0x10});
    ServiceOneShot(admin_12_requested, {0x00, 0x12});
    ServiceOneShot(admin_11_requested, {0x00, 0x11});
    const bool close = close_requested.load() != 0;
    if (close) {
        Send({0x00, 0x03});
    }
    pass_tickets_served.store(ticket);
    return close;
}

}  // namespace

namespace keyer_internal {

void RunKeyerWriter() {
    NameKeyerThread("keyer-writer");
    while (writer_abandon.load() == 0) {
        // With nothing to drain the writer sleeps until a request or a first queued byte,
        // rather than ticking every 3 ms for nothing: an idle link costs no CPU.
        bool woken = false;
        if (QueueIsEmpty()) {
            woken = mailbox_event.WaitForSignalOrNudge();
            if (!woken) {
                continue;  // a byte was queued: its first tick starts now
            }
        } else {
            woken = mailbox_event.WaitFor(kWriterTick);
        }
        bool held = false;
        while (writer_held_for_test.load() && writer_abandon.load() == 0 &&
               close_requested.load() == 0) {
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (held && !woken) {
            continue;  // a tick from before the hold: wait afresh, the requests meet in a pass
        }
        if (!woken) {
            SendOneQueuedUnit();
            continue;
        }
        if (writer_abandon.load() != 0 || ServiceMailbox()) {
            break;
        }
    }
    writer_done = true;
}

bool WaitForWriterPass(int timeout_ms) {
    const uint32_t ticket = pass_tickets_issued.fetch_add(1) + 1;
    mailbox_event.Signal();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    // Tickets wrap: a served ticket before ours differs from it by a negative amount.
    while (static_cast<int32_t>(pass_tickets_served.load() - ticket) < 0) {
        if (writer_done.load() || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace keyer_internal

KeyerQueueSnapshot GetKeyerQueueSnapshot() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    return {queue_write, queue_read, queue_count, queue_nearly_full};
}

int LoadKeyerSettings(const KeyerSettings* block) {
    if (!HostOpen()) {
        return -9;
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        std::memcpy(wanted_settings, block, kSettingsSize);
        std::memcpy(sent_settings, block, kSettingsSize);
        load_requested = 1;
    }
    mailbox_event.Signal();
    return 0;
}

int SetKeyerMode(int mode) {
    return SetWantedBytes({{0, mode}});
}
int SetKeyerSpeed(int wpm) {
    return SetWantedBytes({{1, wpm}});
}
int SetKeyerSidetone(int sidetone) {
    return SetWantedBytes({{2, sidetone}});
}
int SetKeyerWeight(int weight) {
    return SetWantedBytes({{3, weight}});
}
int SetKeyerPttTiming(int lead_in, int tail) {
    return SetWantedBytes({{4, lead_in}, {5, tail}});
}
int SetKeyerPotRange(int min_wpm, int range, int /*unused*/) {
    return SetWantedBytes({{6, min_wpm}, {7, range}});
}
int SetKeyerFirstExtension(int value) {
    return SetWantedBytes({{8, value}});
}
int SetKeyerKeyCompensation(int value) {
    return SetWantedBytes({{9, value}});
}
int SetKeyerFarnsworth(int wpm) {
    return SetWantedBytes({{10, wpm}});
}
int SetKeyerPaddleSetpoint(int value) {
    return SetWantedBytes({{11, value}});
}
int SetKeyerDitDahRatio(int value) {
    return SetWantedBytes({{12, value}});
}
int SetKeyerPinConfig(int value) {
    return SetWantedBytes({{13, value}});
}

int SetKeyerKeyDown(int on) {
    if (!HostOpen()) {
        return -9;
    }
    key_down_wanted = LowByte(on);
    mailbox_event.Signal();
    return 0;
}

int ReleaseKeyer() {
    if (!HostOpen()) {
        return -9;
    }
    // The wanted values first: a pass that sees the request also sees them.
    key_down_wanted = 0;
    paddle_input_wanted = 0;
    release_requested = 1;
    mailbox_event.Signal();
    return 0;
}

int SetKeyerPause(int on) {
    if (!HostOpen()) {
        return -9;
    }
    pause_wanted = LowByte(on);
    mailbox_event.Signal();
    return 0;
}

int SetKeyerPaddleInput(int code) {
    if (!HostOpen()) {
        return -9;
    }
    paddle_input_wanted = LowByte(code);
    mailbox_event.Signal();
    return 0;
}

int ClearKeyerBuffer() {
    return RequestOneShot(clear_requested, true);
}
int KeyerBackspace() {
    return RequestOneShot(backspace_requested, true);
}
int RequestKeyerSpeedPot() {
    return RequestOneShot(speed_pot_requested, true);
}
int SetKeyerBaseMode() {
    return RequestOneShot(base_mode_requested, false);
}
int SetKeyerExtendedMode() {
    return RequestOneShot(extended_mode_requested, false);
}
int SendKeyerAdmin0F() {
    return RequestOneShot(admin_0f_requested, false);
}
int SendKeyerAdmin10() {
    return RequestOneShot(admin_10_requested, false);
}
int SendKeyerAdmin11() {
    return RequestOneShot(admin_11_requested, false);
}
int SendKeyerAdmin12() {
    return RequestOneShot(admin_12_requested, false);
}

int BufferedCommandArgumentCount(uint8_t byte) {
    switch (byte) {
        case 0x18:  // PTT
        case 0x19:  // Key
        case 0x1A:  // Wait
        case 0x1C:  // Speed
        case 0x1D:
            return 1;
        case 0x1B:  // Merge: the keyer keys the next two characters as one
            return 2;
        default:
            return 0;
    }
}

int QueueKeyerByte(int byte) {
    return QueueBytes({LowByte(byte)});
}

int QueueKeyerBytes(const uint8_t* bytes, int count) {
    if (count < 0 || count > kQueueSize) {
        return kKeyerQueueFull;
    }
    return QueueBytes(bytes, count);
}

int IsKeyerQueueNearlyFull() {
    if (!HostOpen()) {
        return -9;
    }
    std::lock_guard<std::mutex> lock(queue_mutex);
    return queue_nearly_full;
}

int QueueKeyerPtt(int on) {
    return QueueBytes({0x18, LowByte(on)});
}
int QueueKeyerKey(int value) {
    return QueueBytes({0x19, LowByte(value)});
}
int QueueKeyerWait(int value) {
    return QueueBytes({0x1A, LowByte(value)});
}
int QueueKeyerSpeed(int wpm) {
    return QueueBytes({0x1C, LowByte(wpm)});
}
int QueueKeyerCommand1D(int value) {
    return QueueBytes({0x1D, LowByte(value)});
}
int QueueKeyerMerge(int first, int second) {
    return QueueBytes({0x1B, LowByte(first), LowByte(second)});
}
int QueueKeyerCancelSpeed() {
    return QueueBytes({0x1E});
}
int QueueKeyerCommand1F() {
    return QueueBytes({0x1F});
}
