// The keyer reader: every byte the keyer sends, sorted by its high bits and handed to the
// dispatcher on this thread. It is also the only one that sees the port fail, so it is the
// one that gives an unplugged keyer up, telling its listener; the window's thread closes it.
#include "keyer/keyer_reader.h"

#include <chrono>

#include "keyer/keyer_host.h"
#include "keyer/keyer_internal.h"
#include "keyer/keyer_platform.h"
#include "keyer/serial_port.h"

using namespace keyer_internal;

namespace {

void KeepEcho(uint8_t byte) {
    last_echo = byte;
    const int32_t write = echo_write.load();
    const int32_t next = (write + 1) % kEchoRingSize;
    if (next == echo_read.load()) {
        return;  // full: the unread characters are kept, the newest is not stored
    }
    echo_ring[write] = byte;
    echo_write = next;
}

// Refusals in a row, at least, before the port is given up as lost: about a tenth of what the
// 10 ms read time-out lets a dead port give in kKeyerLostAfter.
constexpr int kKeyerLostFailures = 10;

KeyerListener& Listener() {
    return *keyer_listener.load();
}

uint8_t SentMinWpm() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    return sent_settings[static_cast<uint8_t>(keyer_wire::KeyerSetting::kMinWpm)];
}

}  // namespace

namespace keyer_internal {

void RunKeyerReader() {
    NameKeyerThread("keyer-reader");
    using Clock = std::chrono::steady_clock;
    // A live port never refuses a read, but one refusal can be a passing fault; a port that
    // has refused every read, one after another (each wait paced by the read time-out), for
    // kKeyerLostAfter has lost its keyer. Counting them as well as timing them keeps a
    // refusal, a long quiet wait and another refusal from looking like such a spell.
    int failures_in_a_row = 0;
    Clock::time_point first_failure;
    while (reader_running.load() != 0) {
        uint8_t byte = 0;
        // No time-out: the close interrupts the wait, so the loop test above is met at once.
        const int result = WaitForKeyerPortByte(&byte);
        if (result != kPortFailed) {
            failures_in_a_row = 0;
            if (result == kPortByteRead) {
                SortKeyerByte(byte);
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
            Listener().OnKeyerLost();
            break;
        }
    }
    reader_done = true;
}

void SortKeyerByte(uint8_t byte) {
    namespace wire = keyer_wire;
    switch (wire::KindOf(byte)) {
        case wire::Reply::kPaddle:
            Listener().OnPaddles(byte & wire::kPaddleBits);
            return;
        case wire::Reply::kStatus: {
            const uint8_t status = byte & wire::kStatusBits;
            // A button report borrows the status byte without the keyer's state having
            // changed: taken as status, M1 would stall the transmit queue as a hold and M2
            // would empty it, under the very message the button starts, as a break-in.
            if (!IsKeyerButtonReport(status)) {
                keyer_status = status;
                if ((status & kStatusBreakIn) != 0) {
                    break_in_pending = 1;
                }
            }
            Listener().OnKeyerStatus(status);
            return;
        }
        case wire::Reply::kSpeedPot:
            Listener().OnSpeedPot(
                static_cast<uint8_t>((byte & wire::kSpeedPotBits) + SentMinWpm()));
            return;
        case wire::Reply::kEcho:
            KeepEcho(byte);
            Listener().OnKeyerEcho(byte);
            return;
    }
}

}  // namespace keyer_internal

bool IsKeyerButtonReport(uint8_t status) {
    return (status & kStatusButtonReport) != 0 && IsExtendedKeyerVersion(host_keyer_version.load());
}

int GetKeyerStatus() {
    if (host_open.load() != 1) {
        return kKeyerHostNotOpen;
    }
    return keyer_status.load();
}

int GetKeyerEchoByte() {
    if (host_open.load() != 1) {
        return kKeyerHostNotOpen;
    }
    const int32_t read = echo_read.load();
    if (read == echo_write.load()) {
        return 0;
    }
    const uint8_t byte = echo_ring[read];
    echo_read = (read + 1) % kEchoRingSize;
    return byte;
}
