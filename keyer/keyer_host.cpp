#include "keyer/keyer_host.h"

#include <chrono>
#include <functional>
#include <system_error>
#include <thread>

#include "keyer/keyer_internal.h"
#include "keyer/keyer_platform.h"
#include "keyer/serial_port.h"

using namespace keyer_internal;

std::atomic<int32_t> host_open{0};

namespace keyer_internal {

std::mutex queue_mutex;
uint8_t queue_ring[kQueueSize];
int32_t queue_write = 0;
int32_t queue_read = 0;
int32_t queue_count = 0;
uint8_t queue_nearly_full = 0;
uint8_t wanted_settings[kSettingsSize];
uint8_t sent_settings[kSettingsSize];

std::atomic<int32_t> key_down_wanted{0};
std::atomic<int32_t> pause_wanted{0};
std::atomic<uint8_t> paddle_input_wanted{0};
int32_t key_down_sent = 0;
int32_t pause_sent = 0;
uint8_t paddle_input_sent = 0;

std::atomic<int32_t> clear_requested{0};
std::atomic<int32_t> speed_pot_requested{0};
std::atomic<int32_t> load_requested{0};
std::atomic<int32_t> backspace_requested{0};
std::atomic<int32_t> base_mode_requested{0};
std::atomic<int32_t> extended_mode_requested{0};
std::atomic<int32_t> spare_admin_requested[keyer_wire::kSpareAdminCount] = {};
std::atomic<int32_t> close_requested{0};
std::atomic<int32_t> break_in_pending{0};
std::atomic<int32_t> release_requested{0};
std::atomic<uint32_t> pass_tickets_issued{0};
std::atomic<uint32_t> pass_tickets_served{0};

AutoResetEvent mailbox_event;

std::atomic<KeyerListener*> keyer_listener{nullptr};
std::atomic<uint8_t> keyer_status{0};
std::atomic<uint8_t> host_keyer_version{0};
std::atomic<int32_t> reader_running{0};
std::atomic<int32_t> writer_abandon{0};
std::atomic<bool> writer_done{true};
std::atomic<bool> reader_done{true};
std::atomic<bool> writer_held_for_test{false};

std::atomic<uint8_t> echo_ring[kEchoRingSize];
std::atomic<int32_t> echo_write{0};
std::atomic<int32_t> echo_read{0};
std::atomic<uint8_t> last_echo{0};

void ResetTransmitQueueLocked() {
    queue_write = 0;
    queue_read = 0;
    queue_count = 0;
    queue_nearly_full = 0;
}

}  // namespace keyer_internal

namespace {

// In host mode a read gives up this soon: the handshake's reads wait the open's 250 ms.
constexpr uint32_t kHostModeReadTimeoutMs = 10;
constexpr int kWriterCloseWaitMs = 2000;
constexpr int kAfterCancelWaitMs = 5000;
constexpr int kExitPassWaitMs = 500;

// Waits until `done` is true or `timeout_ms` has passed; returns `done()`. The keyer threads
// never wait for the thread that closes the keyer (their listener hands what it shows over
// without waiting), so a plain wait is enough.
bool WaitForKeyerThread(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool WriterDone() {
    return writer_done.load();
}
bool ReaderDone() {
    return reader_done.load();
}

// Owns the two keyer threads. Defined after everything the threads use, so that at the
// program's exit it is destroyed first: Exit leaves the keyer in host mode, but the threads
// must be stopped before the state they touch goes away. The exit stops them earlier still
// (StopKeyerThreadsAtExit), since the reader's listener may go before this file's state.
struct KeyerThreads {
    std::thread writer;
    std::thread reader;

    ~KeyerThreads() { Abandon(); }

    void Abandon() {
        if (!writer.joinable() && !reader.joinable()) {
            return;
        }
        writer_abandon = 1;
        reader_running = 0;
        InterruptKeyerPortWait();
        mailbox_event.Signal();
        CancelKeyerPortTransfers();
        JoinAll();
    }

    void JoinAll() {
        if (writer.joinable()) {
            writer.join();
        }
        if (reader.joinable()) {
            reader.join();
        }
    }
};

KeyerThreads keyer_threads;

}  // namespace

int OpenKeyerHost(uint8_t* version, KeyerListener* listener) {
    namespace wire = keyer_wire;
    static const uint8_t kWake = wire::kWake;
    static const uint8_t kEchoTest[] = {wire::kAdminPrefix, wire::kAdminEchoTest,
                                        wire::kEchoTestByte};
    static const uint8_t kHostOpen[] = {wire::kAdminPrefix, wire::kAdminHostOpen};

    for (int i = 0; i < wire::kWakeCount; ++i) {
        WriteKeyerPort(&kWake, 1);
    }
    WriteKeyerPort(kEchoTest, sizeof kEchoTest);
    uint8_t answer = 0;
    if (ReadKeyerPort(&answer, 1) != 1) {
        return kKeyerNoEcho;
    }
    if (answer != wire::kEchoTestByte) {
        return kKeyerWrongEcho;
    }
    WriteKeyerPort(kHostOpen, sizeof kHostOpen);
    uint8_t keyer_version = 0;
    if (ReadKeyerPort(&keyer_version, 1) != 1) {
        return kKeyerNoVersion;
    }
    SetKeyerPortReadTimeout(kHostModeReadTimeoutMs);
    *version = keyer_version;
    keyer_listener = listener;
    host_keyer_version = keyer_version;

    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        ResetTransmitQueueLocked();
    }
    // A keyer that has just entered host mode is not keyed down, paused or driven by remote
    // paddles; the slots say so too, so Tune and Pause work after a reopen and a reopen
    // never keys the transmitter by itself.
    key_down_wanted = 0;
    key_down_sent = 0;
    pause_wanted = 0;
    pause_sent = 0;
    paddle_input_wanted = 0;
    paddle_input_sent = 0;

    close_requested = 0;
    writer_abandon = 0;
    // Raised here rather than by the reader itself, so that a close that comes before the
    // reader has started still stops it.
    reader_running = 1;
    writer_done = false;
    reader_done = false;
    mailbox_event.WaitFor(std::chrono::microseconds(0));  // a fresh, unsignalled event
    RaiseKeyerTimerResolution();
    host_open = 1;
    try {
        keyer_threads.writer = std::thread(RunKeyerWriter);
        keyer_threads.reader = std::thread(RunKeyerReader);
    } catch (const std::system_error&) {
        // No thread, no host mode: stop what did start and report the keyer as not
        // answering, which makes the caller give the port up.
        host_open = 0;
        writer_abandon = 1;
        reader_running = 0;
        InterruptKeyerPortWait();
        mailbox_event.Signal();
        keyer_threads.JoinAll();
        writer_done = true;
        reader_done = true;
        RestoreKeyerTimerResolution();
        return kKeyerNoVersion;
    }
    return kKeyerOk;
}

void StopKeyerThreadsAtExit() {
    if (host_open.exchange(0) != 1) {
        return;  // closed already, and its threads with it
    }
    // What the exit asked of the keyer (key up, paddles released) goes out first; a port that
    // takes no more writes holds the exit no longer than this.
    WaitForWriterPass(kExitPassWaitMs);
    keyer_threads.Abandon();
    RestoreKeyerTimerResolution();
}

int CloseKeyerHost() {
    if (host_open.load() != 1) {
        return kKeyerHostNotOpen;
    }
    close_requested = 1;
    mailbox_event.Signal();
    // The reader waits on the port with no time-out; the interrupt ends that wait without
    // touching the writes the writer still has to make.
    reader_running = 0;
    InterruptKeyerPortWait();
    host_open = 0;

    // A write has no time-out of its own: a keyer that stopped reading would hold the
    // writer for ever, so after a while its transfer is cancelled.
    if (!WaitForKeyerThread(WriterDone, kWriterCloseWaitMs)) {
        CancelKeyerPortTransfers();
    }
    const bool stopped = WaitForKeyerThread(WriterDone, kAfterCancelWaitMs) &&
                         WaitForKeyerThread(ReaderDone, kAfterCancelWaitMs);
    if (!stopped) {
        CancelKeyerPortTransfers();
    }
    if (!WaitForKeyerThread([] { return WriterDone() && ReaderDone(); }, kAfterCancelWaitMs)) {
        // A thread still inside the port must not have the handle closed under it; the
        // port stays held rather than the program crashing.
        keyer_threads.writer.detach();
        keyer_threads.reader.detach();
        RestoreKeyerTimerResolution();
        return kKeyerOk;
    }
    keyer_threads.JoinAll();
    DropKeyerPortDtr();
    CloseKeyerPort();
    RestoreKeyerTimerResolution();
    return kKeyerOk;
}
