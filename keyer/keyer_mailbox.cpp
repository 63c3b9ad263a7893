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
namespace wire = keyer_wire;

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

uint8_t& SettingsByte(uint8_t (&block)[kSettingsSize], KeyerSetting setting) {
    return block[static_cast<uint8_t>(setting)];
}

int RequestOneShot(std::atomic<int32_t>& slot, bool needs_host_open) {
    if (needs_host_open && !HostOpen()) {
        return kKeyerHostNotOpen;
    }
    slot = 1;
    mailbox_event.Signal();
    return kKeyerOk;
}

// Appends all of `bytes` or none of them: a buffered command split by a full ring would
// reach the keyer as a different command.
int QueueBytes(const uint8_t* bytes, int32_t count) {
    if (!HostOpen()) {
        return kKeyerHostNotOpen;
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
    return kKeyerOk;
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
        if (queue_count == 0 || (keyer_status.load() & wire::kStatusHold) != 0) {
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

// The command of a settings byte (or pair) that differs from what was last sent: the new
// value(s), then zeros up to the command's argument count.
void ServiceSettingCommand(const wire::SettingCommand& row) {
    const bool pair = wire::CarriesTwoSettings(row);
    uint8_t command[1 + wire::ArgumentCount(wire::kSetPotRange)] = {row.command};
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        uint8_t& first = SettingsByte(sent_settings, row.first);
        uint8_t& second = SettingsByte(sent_settings, row.second);
        const uint8_t wanted_first = SettingsByte(wanted_settings, row.first);
        const uint8_t wanted_second = SettingsByte(wanted_settings, row.second);
        if (wanted_first == first && (!pair || wanted_second == second)) {
            return;
        }
        first = wanted_first;
        second = wanted_second;
        command[1] = first;
        if (pair) {
            command[2] = second;
        }
    }
    WriteKeyerPort(command, static_cast<uint32_t>(1 + wire::ArgumentCount(row.command)));
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
        Send({wire::kClearBuffer});
    }
    for (const wire::SettingCommand& row : wire::kSettingCommands) {
        ServiceSettingCommand(row);
    }
    const bool release = release_requested.exchange(0) != 0;
    const int32_t key_down = key_down_wanted.load();
    if (release || key_down != key_down_sent) {
        key_down_sent = key_down;
        Send({wire::kSetKeyDown, static_cast<uint8_t>(key_down != 0 ? 1 : 0)});
    }
    ServiceOneShot(speed_pot_requested, {wire::kRequestSpeedPot});
    const int32_t pause = pause_wanted.load();
    if (pause != pause_sent) {
        pause_sent = pause;
        Send({wire::kSetPause, static_cast<uint8_t>(pause != 0 ? 1 : 0)});
    }
    const uint8_t paddle_input = paddle_input_wanted.load();
    if (release || paddle_input != paddle_input_sent) {
        paddle_input_sent = paddle_input;
        Send({wire::kSetPaddleInput, paddle_input});
    }
    if (load_requested.exchange(0) != 0) {
        uint8_t block[1 + kSettingsSize + 2];
        block[0] = wire::kLoadSettings;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            std::memcpy(block + 1, sent_settings, kSettingsSize);
        }
        block[1 + kSettingsSize] = wire::kRequestSpeedPot;
        block[2 + kSettingsSize] = wire::kEndLoad;
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
            Send({wire::kBackspace});
        }
    }
    ServiceOneShot(base_mode_requested, {wire::kAdminPrefix, wire::kAdminBaseMode});
    ServiceOneShot(extended_mode_requested, {wire::kAdminPrefix, wire::kAdminExtendedMode});
    for (int i = 0; i < wire::kSpareAdminCount; ++i) {
        ServiceOneShot(spare_admin_requested[i], {wire::kAdminPrefix, wire::kSpareAdminBytes[i]});
    }
    const bool close = close_requested.load() != 0;
    if (close) {
        Send({wire::kAdminPrefix, wire::kAdminHostClose});
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
        return kKeyerHostNotOpen;
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        std::memcpy(wanted_settings, block, kSettingsSize);
        std::memcpy(sent_settings, block, kSettingsSize);
        load_requested = 1;
    }
    mailbox_event.Signal();
    return kKeyerOk;
}

int SetKeyerSettings(std::initializer_list<KeyerSettingValue> values) {
    if (!HostOpen()) {
        return kKeyerHostNotOpen;
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        for (const KeyerSettingValue& value : values) {
            SettingsByte(wanted_settings, value.setting) = LowByte(value.value);
        }
    }
    mailbox_event.Signal();
    return kKeyerOk;
}
int SetKeyerSpeed(int wpm) {
    return SetKeyerSettings({{KeyerSetting::kWpm, wpm}});
}
int SetKeyerSidetone(int sidetone) {
    return SetKeyerSettings({{KeyerSetting::kSidetone, sidetone}});
}

int SetKeyerKeyDown(int on) {
    if (!HostOpen()) {
        return kKeyerHostNotOpen;
    }
    key_down_wanted = LowByte(on);
    mailbox_event.Signal();
    return kKeyerOk;
}

int ReleaseKeyer() {
    if (!HostOpen()) {
        return kKeyerHostNotOpen;
    }
    // The wanted values first: a pass that sees the request also sees them.
    key_down_wanted = 0;
    paddle_input_wanted = 0;
    release_requested = 1;
    mailbox_event.Signal();
    return kKeyerOk;
}

int SetKeyerPause(int on) {
    if (!HostOpen()) {
        return kKeyerHostNotOpen;
    }
    pause_wanted = LowByte(on);
    mailbox_event.Signal();
    return kKeyerOk;
}

int SetKeyerPaddleInput(int code) {
    if (!HostOpen()) {
        return kKeyerHostNotOpen;
    }
    paddle_input_wanted = LowByte(code);
    mailbox_event.Signal();
    return kKeyerOk;
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
int SendKeyerSpareAdmin(wire::SpareAdmin which) {
    return RequestOneShot(spare_admin_requested[static_cast<int>(which)], false);
}

int QueueKeyerByte(int byte) {
    const uint8_t low_byte = LowByte(byte);
    return QueueBytes(&low_byte, 1);
}

int QueueKeyerBytes(const uint8_t* bytes, int count) {
    if (count < 0 || count > kQueueSize) {
        return kKeyerQueueFull;
    }
    return QueueBytes(bytes, count);
}

int IsKeyerQueueNearlyFull() {
    if (!HostOpen()) {
        return kKeyerHostNotOpen;
    }
    std::lock_guard<std::mutex> lock(queue_mutex);
    return queue_nearly_full;
}
