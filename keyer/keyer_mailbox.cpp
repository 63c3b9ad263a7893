// The command mailbox, the transmit queue and the keyer writer: the one thread that writes
// to the keyer while host mode is open.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <thread>

#include "keyer/keyer_link.h"
#include "keyer/keyer_platform.h"

namespace wire = keyer_wire;

namespace {

constexpr int kNearlyFullAbove = 42;
constexpr int kNearlyFullClearedAt = 20;
// The least time between two queued units on the keyer's wire, so that text reaches the
// keyer paced between the commands of service passes.
constexpr auto kQueuedUnitGap = std::chrono::milliseconds(3);

uint8_t LowByte(int value) {
    return static_cast<uint8_t>(value & 0xFF);
}

uint8_t& SettingsByte(uint8_t (&block)[kKeyerSettingsSize], keyer_wire::KeyerSetting setting) {
    return block[static_cast<uint8_t>(setting)];
}

// The service pass in its order. A step with bytes sends them when it was requested; the
// others do more (KeyerLink::ServiceStep).
struct PassRow {
    PassStep step;
    uint8_t bytes[2];
    uint32_t count;
};
constexpr PassRow kServicePass[] = {
    {PassStep::kBreakIn, {}, 0},
    {PassStep::kClear, {}, 0},
    {PassStep::kPttOff, {wire::kBufferedPtt, 0x00}, 2},
    {PassStep::kSettings, {}, 0},
    {PassStep::kKeyDown, {}, 0},
    {PassStep::kSpeedPot, {wire::kRequestSpeedPot}, 1},
    {PassStep::kPause, {}, 0},
    {PassStep::kPaddleInput, {}, 0},
    {PassStep::kLoad, {}, 0},
    {PassStep::kBackspace, {}, 0},
    {PassStep::kBaseMode, {wire::kAdminPrefix, wire::kAdminBaseMode}, 2},
    {PassStep::kExtendedMode, {wire::kAdminPrefix, wire::kAdminExtendedMode}, 2},
    {PassStep::kFirstSpareAdmin, {wire::kAdminPrefix, wire::kSpareAdminBytes[0]}, 2},
    {PassStep::kSecondSpareAdmin, {wire::kAdminPrefix, wire::kSpareAdminBytes[1]}, 2},
    {PassStep::kThirdSpareAdmin, {wire::kAdminPrefix, wire::kSpareAdminBytes[2]}, 2},
    {PassStep::kFourthSpareAdmin, {wire::kAdminPrefix, wire::kSpareAdminBytes[3]}, 2},
};

// Every step once, in the order PassStep names them.
constexpr bool EveryStepInOrder() {
    int step = 0;
    for (const PassRow& row : kServicePass) {
        if (static_cast<int>(row.step) != step++) {
            return false;
        }
    }
    return step == static_cast<int>(PassStep::kFourthSpareAdmin) + 1;
}
static_assert(EveryStepInOrder(), "the pass's table has every step, in order");

}  // namespace

int KeyerLink::Request(PassStep step, bool needs_host_open) {
    if (needs_host_open && !IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    state_.pending.fetch_or(PassBit(step));
    state_.mailbox_event.Signal();
    return kKeyerOk;
}

// Appends all of `bytes` or none of them: a buffered command split by a full ring would
// reach the keyer as a different command.
int KeyerLink::AppendToQueue(const uint8_t* bytes, int32_t count) {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    bool was_empty = false;
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        if (state_.queue_count + count > kKeyerQueueSize) {
            return kKeyerQueueFull;  // never overwrite a byte the keyer has not had yet
        }
        was_empty = state_.queue_count == 0;
        for (const uint8_t* byte = bytes; byte != bytes + count; ++byte) {
            state_.queue_ring[state_.queue_write] = *byte;
            state_.queue_write = (state_.queue_write + 1) % kKeyerQueueSize;
            ++state_.queue_count;
        }
        if (state_.queue_count > kNearlyFullAbove) {
            state_.queue_nearly_full = 1;
        }
    }
    if (was_empty) {
        // Not a signal: a nudge only ends the writer's idle sleep. Given before a request's
        // signal, it has the writer send this unit ahead of that request.
        state_.mailbox_event.Nudge();
    }
    return kKeyerOk;
}

void KeyerLink::Send(std::initializer_list<uint8_t> bytes) {
    uint8_t buffer[8];
    uint32_t count = 0;
    for (uint8_t byte : bytes) {
        buffer[count++] = byte;
    }
    port_.Write(buffer, count);
}

// One unit of the queue: one byte, or a buffered command together with its arguments.
// Sent apart, a command that a pass wrote between them (a clear, a speed) would reach the
// keyer as the buffered command's argument, and the argument as a command of its own.
KeyerLink::QueuedUnit KeyerLink::SendOneQueuedUnit() {
    uint8_t unit[3] = {0, 0, 0};  // a command byte and at most two arguments
    int32_t length = 1;
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        if (state_.queue_count == 0) {
            return QueuedUnit::kNone;
        }
        if ((state_.status.load() & wire::kStatusHold) != 0) {
            return QueuedUnit::kKeyerHolds;
        }
        unit[0] = state_.queue_ring[state_.queue_read];
        const int32_t whole = 1 + keyer_wire::BufferedCommandArgumentCount(unit[0]);
        if (whole <= state_.queue_count) {
            length = whole;  // a command byte queued on its own still goes, alone
        }
        for (int32_t i = 1; i < length; ++i) {
            unit[i] = state_.queue_ring[(state_.queue_read + i) % kKeyerQueueSize];
        }
        state_.queue_read = (state_.queue_read + length) % kKeyerQueueSize;
        // Counted out before the write so a break-in or clear during the write cannot
        // leave the count below zero.
        state_.queue_count -= length;
        if (state_.queue_count <= kNearlyFullClearedAt) {
            state_.queue_nearly_full = 0;
        }
    }
    port_.Write(unit, static_cast<uint32_t>(length));
    return QueuedUnit::kSent;
}

// The command of a settings byte (or pair) that differs from what was last sent: the new
// value(s), then zeros up to the command's argument count.
void KeyerLink::ServiceSettingCommand(const wire::SettingCommand& row) {
    const bool pair = wire::CarriesTwoSettings(row);
    uint8_t command[1 + wire::ArgumentCount(wire::kSetPotRange)] = {row.command};
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        uint8_t& first = SettingsByte(state_.sent_settings, row.first);
        uint8_t& second = SettingsByte(state_.sent_settings, row.second);
        const uint8_t wanted_first = SettingsByte(state_.wanted_settings, row.first);
        const uint8_t wanted_second = SettingsByte(state_.wanted_settings, row.second);
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
    port_.Write(command, static_cast<uint32_t>(1 + wire::ArgumentCount(row.command)));
}

// A step of the pass that does more than send fixed bytes; `requested` when its bit was
// pending.
void KeyerLink::ServiceStep(PassStep step, bool requested) {
    switch (step) {
        case PassStep::kBreakIn:
        case PassStep::kClear:
            if (requested) {
                {
                    std::lock_guard<std::mutex> lock(state_.queue_mutex);
                    state_.ResetTransmitQueueLocked();
                }
                if (step == PassStep::kClear) {
                    Send({wire::kClearBuffer});
                }
            }
            break;
        case PassStep::kSettings:
            for (const wire::SettingCommand& row : wire::kSettingCommands) {
                ServiceSettingCommand(row);
            }
            break;
        case PassStep::kKeyDown: {
            // A release: key up here, and paddles released at the paddle step.
            releasing_ = requested;
            const int32_t key_down = state_.key_down_wanted.load();
            if (releasing_ || key_down != state_.key_down_sent) {
                state_.key_down_sent = key_down;
                Send({wire::kSetKeyDown, static_cast<uint8_t>(key_down != 0 ? 1 : 0)});
            }
            break;
        }
        case PassStep::kPause: {
            const int32_t pause = state_.pause_wanted.load();
            if (pause != state_.pause_sent) {
                state_.pause_sent = pause;
                Send({wire::kSetPause, static_cast<uint8_t>(pause != 0 ? 1 : 0)});
            }
            break;
        }
        case PassStep::kPaddleInput: {
            const uint8_t paddle_input = state_.paddle_input_wanted.load();
            if (releasing_ || paddle_input != state_.paddle_input_sent) {
                state_.paddle_input_sent = paddle_input;
                Send({wire::kSetPaddleInput, paddle_input});
            }
            break;
        }
        case PassStep::kLoad:
            if (requested) {
                uint8_t block[1 + kKeyerSettingsSize + 2];
                block[0] = wire::kLoadSettings;
                {
                    std::lock_guard<std::mutex> lock(state_.queue_mutex);
                    std::memcpy(block + 1, state_.sent_settings, kKeyerSettingsSize);
                }
                block[1 + kKeyerSettingsSize] = wire::kRequestSpeedPot;
                block[2 + kKeyerSettingsSize] = wire::kEndLoad;
                port_.Write(block, sizeof block);
            }
            break;
        case PassStep::kBackspace:
            if (requested) {
                bool tell_keyer = false;
                {
                    std::lock_guard<std::mutex> lock(state_.queue_mutex);
                    if (state_.queue_count == 0) {
                        tell_keyer = true;
                    } else {
                        // The keyer has not had the byte yet: taking it back is the backspace.
                        state_.queue_write =
                            (state_.queue_write + kKeyerQueueSize - 1) % kKeyerQueueSize;
                        --state_.queue_count;
                    }
                }
                if (tell_keyer) {
                    Send({wire::kBackspace});
                }
            }
            break;
        default:
            break;
    }
}

// One pass over every step in the order of a pass. True when the host close has been sent
// and the writer must end.
bool KeyerLink::ServiceMailbox() {
    // Read before the requests: every request made before the ticket was taken is served
    // below.
    const uint32_t ticket = state_.pass_tickets_issued.load();
    for (const PassRow& row : kServicePass) {
        // Taken as the pass reaches its step, so a request made during the pass, before its
        // step, is served in this pass.
        const uint32_t bit = PassBit(row.step);
        const bool requested = (state_.pending.fetch_and(~bit) & bit) != 0;
        if (row.count == 0) {
            ServiceStep(row.step, requested);
        } else if (requested) {
            port_.Write(row.bytes, row.count);
        }
    }
    const bool close = state_.close_requested.load() != 0;
    if (close) {
        Send({wire::kAdminPrefix, wire::kAdminHostClose});
    }
    state_.progress.Tell([&] { state_.pass_tickets_served.store(ticket); });
    return close;
}

// Asks the owner's hold, if any, and waits while it holds, but never past a close or the
// exit. True when it held the writer at all.
bool KeyerLink::WriterHeld() {
    if (!writer_held_) {
        return false;
    }
    bool held = false;
    while (writer_held_() && state_.writer_abandon.load() == 0 &&
           state_.close_requested.load() == 0) {
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return held;
}

void KeyerLink::RunWriter() {
    using Clock = std::chrono::steady_clock;
    using Wake = AutoResetEvent::Wake;
    NameKeyerThread("keyer-writer");
    // The earliest the next queued unit may go. A unit queued on a writer that has sent none
    // for a whole gap goes at once: typed text then reaches the keyer without a wait.
    Clock::time_point next_unit_at{};
    while (state_.writer_abandon.load() == 0) {
        Wake wake = WaitForWork(next_unit_at);
        // A paddle input whose time has come goes in a pass of its own, ahead of text.
        if (TakeDuePaddleInput()) {
            wake = Wake::kSignal;
        }
        if (wake == Wake::kSignal) {
            WriterHeld();
            if (state_.writer_abandon.load() != 0 || ServiceMailbox()) {
                break;
            }
            continue;
        }
        if (WriterHeld()) {
            continue;  // woken before the hold: wait afresh, the requests meet in a pass first
        }
        const Clock::time_point now = Clock::now();
        if (now < next_unit_at) {
            continue;  // nudged within the gap: the unit waits for its time
        }
        switch (SendOneQueuedUnit()) {
            case QueuedUnit::kSent:
                // From the end of the write, so that the gap holds on the keyer's side too.
                next_unit_at = Clock::now() + kQueuedUnitGap;
                break;
            case QueuedUnit::kKeyerHolds:
                next_unit_at = now + kQueuedUnitGap;  // the keyer's hold is read, not signalled
                break;
            case QueuedUnit::kNone:
                break;
        }
    }
    state_.progress.Tell([this] { state_.writer_done = true; });
}

AutoResetEvent::Wake KeyerLink::WaitForWork(std::chrono::steady_clock::time_point next_unit_at) {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> until;
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        if (state_.queue_count != 0) {
            until = next_unit_at;
        }
        if (!state_.timed_paddle_inputs.IsEmpty()) {
            const Clock::time_point due = state_.timed_paddle_inputs.NextDue();
            until = until ? std::min(*until, due) : due;
        }
    }
    // With nothing to wait for, the writer sleeps until a request or a first queued byte
    // rather than waking for nothing: an idle link costs no CPU.
    if (!until) {
        return state_.mailbox_event.Wait();
    }
    const auto left = std::max(*until - Clock::now(), Clock::duration::zero());
    return state_.mailbox_event.WaitFor(std::chrono::ceil<std::chrono::microseconds>(left));
}

bool KeyerLink::TakeDuePaddleInput() {
    std::lock_guard<std::mutex> lock(state_.queue_mutex);
    uint8_t code = 0;
    if (!state_.timed_paddle_inputs.TakeDue(std::chrono::steady_clock::now(), &code)) {
        return false;
    }
    state_.paddle_input_wanted = code;
    return true;
}

bool KeyerLink::WaitForWriterPass(std::chrono::milliseconds timeout) {
    const uint32_t ticket = state_.pass_tickets_issued.fetch_add(1) + 1;
    state_.mailbox_event.Signal();
    // Tickets wrap: a served ticket before ours differs from it by a negative amount.
    const auto served = [&] {
        return static_cast<int32_t>(state_.pass_tickets_served.load() - ticket) >= 0;
    };
    state_.progress.WaitUntil(std::chrono::steady_clock::now() + timeout,
                              [&] { return served() || state_.writer_done.load(); });
    return served();
}

KeyerQueueSnapshot KeyerLink::QueueSnapshot() const {
    std::lock_guard<std::mutex> lock(state_.queue_mutex);
    return {state_.queue_write, state_.queue_read, state_.queue_count, state_.queue_nearly_full};
}

int KeyerLink::LoadSettings(const KeyerSettings* block) {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        std::memcpy(state_.wanted_settings, block, kKeyerSettingsSize);
        std::memcpy(state_.sent_settings, block, kKeyerSettingsSize);
        // Under the lock: a pass that sees the load sends the block just copied.
        state_.pending.fetch_or(PassBit(PassStep::kLoad));
    }
    state_.mailbox_event.Signal();
    return kKeyerOk;
}

int KeyerLink::SetSettings(std::initializer_list<KeyerSettingValue> values) {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        for (const KeyerSettingValue& value : values) {
            SettingsByte(state_.wanted_settings, value.setting) = LowByte(value.value);
        }
    }
    state_.mailbox_event.Signal();
    return kKeyerOk;
}

int KeyerLink::SetSpeed(int wpm) {
    return SetSettings({{keyer_wire::KeyerSetting::kWpm, wpm}});
}

int KeyerLink::SetSidetone(int sidetone) {
    return SetSettings({{keyer_wire::KeyerSetting::kSidetone, sidetone}});
}

int KeyerLink::SetKeyDown(int on) {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    state_.key_down_wanted = LowByte(on);
    state_.mailbox_event.Signal();
    return kKeyerOk;
}

int KeyerLink::Release() {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    // The wanted values first: a pass that sees the request also sees them.
    state_.key_down_wanted = 0;
    SetPaddleInputNow(0);
    return Request(PassStep::kKeyDown, true);
}

int KeyerLink::SetPause(int on) {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    state_.pause_wanted = LowByte(on);
    state_.mailbox_event.Signal();
    return kKeyerOk;
}

// Under the lock that the writer takes a timed input in, so that no input that was waiting
// lands after this one.
void KeyerLink::SetPaddleInputNow(uint8_t code) {
    std::lock_guard<std::mutex> lock(state_.queue_mutex);
    state_.timed_paddle_inputs.Clear();
    state_.paddle_input_wanted = code;
}

int KeyerLink::SetPaddleInput(int code) {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    SetPaddleInputNow(LowByte(code));
    state_.mailbox_event.Signal();
    return kKeyerOk;
}

int KeyerLink::SetPaddleInputAt(int code, std::chrono::steady_clock::time_point due) {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        if (!state_.timed_paddle_inputs.Add(due, LowByte(code))) {
            return kKeyerQueueFull;
        }
    }
    // Wakes the writer to wait afresh, now for this input's time too.
    state_.mailbox_event.Nudge();
    return kKeyerOk;
}

int KeyerLink::ClearBuffer() {
    return Request(PassStep::kClear, true);
}

int KeyerLink::EndPtt() {
    return Request(PassStep::kPttOff, true);
}

int KeyerLink::Backspace() {
    return Request(PassStep::kBackspace, true);
}

int KeyerLink::RequestSpeedPot() {
    return Request(PassStep::kSpeedPot, true);
}

int KeyerLink::SetBaseMode() {
    return Request(PassStep::kBaseMode, false);
}

int KeyerLink::SetExtendedMode() {
    return Request(PassStep::kExtendedMode, false);
}

int KeyerLink::SendSpareAdmin(wire::SpareAdmin which) {
    return Request(static_cast<PassStep>(static_cast<int>(PassStep::kFirstSpareAdmin) +
                                         static_cast<int>(which)),
                   false);
}

int KeyerLink::QueueByte(int byte) {
    const uint8_t low_byte = LowByte(byte);
    return AppendToQueue(&low_byte, 1);
}

int KeyerLink::QueueBytes(const uint8_t* bytes, int count) {
    if (count < 0 || count > kKeyerQueueSize) {
        return kKeyerQueueFull;
    }
    return AppendToQueue(bytes, count);
}

int KeyerLink::IsQueueNearlyFull() const {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    std::lock_guard<std::mutex> lock(state_.queue_mutex);
    return state_.queue_nearly_full;
}
