// What one keyer link's threads share: the transmit queue, the settings rows, the value
// slots, the requests waiting for the writer's next service pass, the status and version the
// keyer gave, and the echo ring. The link (keyer_link.h) owns one and works on it; a program
// that plays a keyer's part without one may look into it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

#include "keyer/auto_reset_event.h"
#include "keyer/keyer_wire.h"

constexpr int kKeyerQueueSize = 64;
constexpr int kKeyerSettingsSize = static_cast<int>(sizeof(KeyerSettings));
constexpr int kKeyerEchoRingSize = 16;

// The steps of the writer's service pass (keyer_mailbox.cpp has them in their order, and
// keyer_wire.h the bytes each sends). A request for a step is its bit in
// KeyerLinkState::pending: for a one-shot step the request is the step itself; key down's is
// a release, which sends key up and no paddles even when they were the last values sent.
enum class PassStep : uint8_t {
    kBreakIn,  // empties the transmit queue, and tells the keyer nothing
    kClear,
    kPttOff,  // after the clear, so that nothing left in the keyer's buffer keys it again
    kSettings,
    kKeyDown,
    kSpeedPot,
    kPause,
    kPaddleInput,
    kLoad,
    kBackspace,
    kBaseMode,
    kExtendedMode,
    // The spare admin commands, in keyer_wire::SpareAdmin order.
    kFirstSpareAdmin,
    kSecondSpareAdmin,
    kThirdSpareAdmin,
    kFourthSpareAdmin,
};
static_assert(static_cast<int>(PassStep::kFourthSpareAdmin) -
                      static_cast<int>(PassStep::kFirstSpareAdmin) + 1 ==
                  keyer_wire::kSpareAdminCount,
              "a step for every spare admin command");
constexpr uint32_t PassBit(PassStep step) {
    return 1u << static_cast<uint8_t>(step);
}

// What the link's own threads tell the thread that opens and closes the link: a service pass
// served, a thread ended. That thread waits here, on a condition, never by polling.
class KeyerThreadProgress {
  public:
    // Makes `change` (stores to what a waiter's condition reads) and wakes every waiter.
    template <typename Change>
    void Tell(Change&& change) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

    // Waits until `done` is true or `deadline` has passed; returns `done()`.
    template <typename Done>
    bool WaitUntil(std::chrono::steady_clock::time_point deadline, Done&& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_until(lock, deadline, std::forward<Done>(done));
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Paddle inputs that wait for a time of their own (another station's paddles, played out
// as they were pressed there), oldest first. Taken one at a time, so that a press and its
// release that are both due by the writer's next wake still reach the keyer as two changes.
class TimedPaddleInputs {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kCapacity = 32;

    bool Add(Clock::time_point due, uint8_t code) {
        if (count_ == kCapacity) {
            return false;
        }
        entries_[(first_ + count_) % kCapacity] = {due, code};
        ++count_;
        return true;
    }
    // The oldest input whose time has come, taken out.
    bool TakeDue(Clock::time_point now, uint8_t* code) {
        if (count_ == 0 || entries_[first_].due > now) {
            return false;
        }
        *code = entries_[first_].code;
        first_ = (first_ + 1) % kCapacity;
        --count_;
        return true;
    }
    bool IsEmpty() const { return count_ == 0; }
    Clock::time_point NextDue() const { return entries_[first_].due; }
    void Clear() {
        first_ = 0;
        count_ = 0;
    }

  private:
    struct Entry {
        Clock::time_point due;
        uint8_t code;
    };
    Entry entries_[kCapacity] = {};
    int first_ = 0;
    int count_ = 0;
};

struct KeyerLinkState {
    // Empties the transmit queue; queue_mutex held.
    void ResetTransmitQueueLocked() {
        queue_write = 0;
        queue_read = 0;
        queue_count = 0;
        queue_nearly_full = 0;
    }

    // Guards the transmit queue, both settings blocks and the timed paddle inputs; never held
    // across a wait for the event or a port write.
    mutable std::mutex queue_mutex;
    uint8_t queue_ring[kKeyerQueueSize] = {};
    int32_t queue_write = 0;
    int32_t queue_read = 0;
    int32_t queue_count = 0;
    uint8_t queue_nearly_full = 0;
    uint8_t wanted_settings[kKeyerSettingsSize] = {};
    uint8_t sent_settings[kKeyerSettingsSize] = {};
    // Each becomes paddle_input_wanted at its time; any paddle input given for now, and every
    // release, drops those still waiting.
    TimedPaddleInputs timed_paddle_inputs;

    // Value slots that are single words: producers write the wanted value, the writer alone
    // the last-sent one.
    std::atomic<int32_t> key_down_wanted{0};
    std::atomic<int32_t> pause_wanted{0};
    std::atomic<uint8_t> paddle_input_wanted{0};
    int32_t key_down_sent = 0;
    int32_t pause_sent = 0;
    uint8_t paddle_input_sent = 0;

    // Requests for the next service pass, by PassBit; the pass takes each at its step.
    std::atomic<uint32_t> pending{0};
    // The host close: the writer sends it after the pass that sees it, and ends.
    std::atomic<int32_t> close_requested{0};
    // A caller that must know its requests have reached the wire takes a ticket; the writer
    // publishes the last ticket it saw at the start of a pass once that pass is over.
    std::atomic<uint32_t> pass_tickets_issued{0};
    std::atomic<uint32_t> pass_tickets_served{0};
    // Wakes the writer for a pass (a signal) or for newly queued text (a nudge).
    AutoResetEvent mailbox_event;

    std::atomic<int32_t> host_open{0};
    std::atomic<uint8_t> status{0};
    // The version byte of the last host open; the reader tells button reports by it.
    std::atomic<uint8_t> version{0};

    std::atomic<int32_t> reader_running{0};
    // Ends the writer without the host close: only for the program's exit, which leaves the
    // keyer as it is.
    std::atomic<int32_t> writer_abandon{0};
    // Told through `progress` once set, as the served tickets above are.
    std::atomic<bool> writer_done{true};
    std::atomic<bool> reader_done{true};
    KeyerThreadProgress progress;

    // Echoed characters, newest at echo_write; written by the reader only.
    std::atomic<uint8_t> echo_ring[kKeyerEchoRingSize] = {};
    std::atomic<int32_t> echo_write{0};
    std::atomic<int32_t> echo_read{0};
    std::atomic<uint8_t> last_echo{0};
};
