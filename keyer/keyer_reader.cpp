// The keyer reader: every byte the keyer sends, sorted by its high bits and handed to the
// listener on this thread. It is also the only one that sees the port fail, so it is the
// one that gives an unplugged keyer up, telling its listener; the window's thread closes it.
#include <chrono>

#include "keyer/keyer_link.h"
#include "keyer/keyer_platform.h"

namespace {

// Refusals in a row, at least, before the port is given up as lost: about a tenth of what the
// 10 ms read time-out lets a dead port give in kKeyerLostAfter.
constexpr int kKeyerLostFailures = 10;

}  // namespace

void KeyerLink::KeepEcho(uint8_t byte) {
    state_.last_echo = byte;
    const int32_t write = state_.echo_write.load();
    const int32_t next = (write + 1) % kKeyerEchoRingSize;
    if (next == state_.echo_read.load()) {
        return;  // full: the unread characters are kept, the newest is not stored
    }
    state_.echo_ring[write] = byte;
    state_.echo_write = next;
}

uint8_t KeyerLink::SentMinWpm() {
    std::lock_guard<std::mutex> lock(state_.queue_mutex);
    return state_.sent_settings[static_cast<uint8_t>(keyer_wire::KeyerSetting::kMinWpm)];
}

void KeyerLink::RunReader() {
    NameKeyerThread("keyer-reader");
    using Clock = std::chrono::steady_clock;
    // A live port never refuses a read, but one refusal can be a passing fault; a port that
    // has refused every read, one after another (each wait paced by the read time-out), for
    // kKeyerLostAfter has lost its keyer. Counting them as well as timing them keeps a
    // refusal, a long quiet wait and another refusal from looking like such a spell.
    int failures_in_a_row = 0;
    Clock::time_point first_failure;
    while (state_.reader_running.load() != 0) {
        uint8_t byte = 0;
        // No time-out: the close interrupts the wait, so the loop test above is met at once.
        const PortWaitResult result = port_.WaitForByte(&byte);
        if (result != kPortFailed) {
            failures_in_a_row = 0;
            if (result == kPortByteRead) {
                TakeKeyerByte(byte);
            }
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (failures_in_a_row++ == 0) {
            first_failure = now;
        }
        if (failures_in_a_row >= kKeyerLostFailures && now - first_failure >= kKeyerLostAfter) {
            // The reader stops and says so; the window's thread closes the keyer and tells
            // the operator.
            listener_.OnKeyerLost();
            break;
        }
    }
    state_.progress.Tell([this] { state_.reader_done = true; });
}

void KeyerLink::TakeKeyerByte(uint8_t byte) {
    namespace wire = keyer_wire;
    switch (wire::KindOf(byte)) {
        case wire::Reply::kPaddle:
            listener_.OnPaddles(byte & wire::kPaddleBits);
            return;
        case wire::Reply::kStatus: {
            const uint8_t status = byte & wire::kStatusBits;
            // A button report borrows the status byte without the keyer's state having
            // changed: taken as status, M1 would stall the transmit queue as a hold and M2
            // would empty it, under the very message the button starts, as a break-in.
            if (!IsButtonReport(status)) {
                state_.status = status;
                if ((status & keyer_wire::kStatusBreakIn) != 0) {
                    state_.pending.fetch_or(PassBit(PassStep::kBreakIn));
                }
            }
            listener_.OnKeyerStatus(status);
            return;
        }
        case wire::Reply::kSpeedPot:
            listener_.OnSpeedPot(static_cast<uint8_t>((byte & wire::kSpeedPotBits) + SentMinWpm()));
            return;
        case wire::Reply::kEcho:
            KeepEcho(byte);
            listener_.OnKeyerEcho(byte);
            return;
    }
}

bool KeyerLink::IsButtonReport(uint8_t status) const {
    return (status & keyer_wire::kStatusButtonReport) != 0 &&
           keyer_wire::IsExtendedKeyerVersion(state_.version.load());
}

int KeyerLink::Status() const {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    return state_.status.load();
}

int KeyerLink::TakeEchoByte() {
    if (!IsHostOpen()) {
        return kKeyerHostNotOpen;
    }
    const int32_t read = state_.echo_read.load();
    if (read == state_.echo_write.load()) {
        return 0;
    }
    const uint8_t byte = state_.echo_ring[read];
    state_.echo_read = (read + 1) % kKeyerEchoRingSize;
    return byte;
}
