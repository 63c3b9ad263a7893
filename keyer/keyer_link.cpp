// Host mode: the handshake that attaches the keyer, the two threads, the close and the exit.
#include "keyer/keyer_link.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "keyer/keyer_platform.h"

namespace {

// In host mode a read gives up this soon: the handshake's reads wait the open's 250 ms.
constexpr uint32_t kHostModeReadTimeoutMs = 10;
// How long the close lets the writer put the host close on the wire.
constexpr auto kWriterCloseWait = std::chrono::milliseconds(2000);
// A transfer begun just after a cancel escapes it; so the cancel is made again this often
// until the link's threads are out of the port.
constexpr auto kCancelAgainAfter = std::chrono::milliseconds(100);
constexpr auto kExitPassWait = std::chrono::milliseconds(500);
// Leaving host mode, the keyer stops keying and empties its buffer before it reads on.
constexpr int kHostCloseSettleMs = 100;

}  // namespace

KeyerLink::KeyerLink(KeyerListener& listener, WriterHold writer_held)
    : listener_(listener), writer_held_(std::move(writer_held)) {}

KeyerLink::~KeyerLink() {
    StopAtExit();
}

KeyerResult KeyerLink::OpenHost(uint8_t* version) {
    namespace wire = keyer_wire;
    static const uint8_t kWake = wire::kWake;
    static const uint8_t kEchoTest[] = {wire::kAdminPrefix, wire::kAdminEchoTest,
                                        wire::kEchoTestByte};
    static const uint8_t kHostOpen[] = {wire::kAdminPrefix, wire::kAdminHostOpen};

    for (int i = 0; i < wire::kWakeCount; ++i) {
        port_.Write(&kWake, 1);
    }
    port_.Write(kEchoTest, sizeof kEchoTest);
    uint8_t answer = 0;
    if (port_.Read(&answer, 1) != 1) {
        return kKeyerNoEcho;
    }
    if (answer != wire::kEchoTestByte) {
        return kKeyerWrongEcho;
    }
    port_.Write(kHostOpen, sizeof kHostOpen);
    uint8_t keyer_version = 0;
    if (port_.Read(&keyer_version, 1) != 1) {
        return kKeyerNoVersion;
    }
    port_.SetReadTimeout(kHostModeReadTimeoutMs);
    *version = keyer_version;
    StartHost(keyer_version);

    state_.writer_abandon = 0;
    // Raised here rather than by the reader itself, so that a close that comes before the
    // reader has started still stops it.
    state_.reader_running = 1;
    state_.writer_done = false;
    state_.reader_done = false;
    state_.mailbox_event.Reset();
    RaiseKeyerTimerResolution();
    state_.host_open = 1;
    try {
        writer_ = std::thread([this] { RunWriter(); });
        reader_ = std::thread([this] { RunReader(); });
    } catch (const std::system_error&) {
        // No thread, no host mode: stop what did start and report the keyer as not
        // answering, which makes the caller give the port up.
        state_.host_open = 0;
        state_.writer_abandon = 1;
        state_.reader_running = 0;
        port_.InterruptWait();
        state_.mailbox_event.Signal();
        JoinThreads();
        state_.writer_done = true;
        state_.reader_done = true;
        RestoreKeyerTimerResolution();
        return kKeyerNoVersion;
    }
    return kKeyerOk;
}

void KeyerLink::CloseHostLeftOpen() {
    static const uint8_t kHostClose[] = {keyer_wire::kAdminPrefix, keyer_wire::kAdminHostClose};
    port_.Write(kHostClose, sizeof kHostClose);
    std::this_thread::sleep_for(std::chrono::milliseconds(kHostCloseSettleMs));
}

void KeyerLink::OpenHostWithoutPort(uint8_t version) {
    StartHost(version);
    state_.host_open = 1;
}

// What every host open starts from, whatever runs the link.
void KeyerLink::StartHost(uint8_t version) {
    state_.version = version;
    {
        std::lock_guard<std::mutex> lock(state_.queue_mutex);
        state_.ResetTransmitQueueLocked();
        state_.timed_paddle_inputs.Clear();
    }
    // A keyer that has just entered host mode is not keyed down, paused or driven by remote
    // paddles; the slots say so too, so Tune and Pause work after a reopen and a reopen
    // never keys the transmitter by itself.
    state_.key_down_wanted = 0;
    state_.key_down_sent = 0;
    state_.pause_wanted = 0;
    state_.pause_sent = 0;
    state_.paddle_input_wanted = 0;
    state_.paddle_input_sent = 0;
    state_.close_requested = 0;
}

bool KeyerLink::ThreadsEnded() const {
    return state_.writer_done.load() && state_.reader_done.load();
}

void KeyerLink::CancelUntilThreadsEnd() {
    do {
        port_.CancelTransfers();
    } while (!state_.progress.WaitUntil(std::chrono::steady_clock::now() + kCancelAgainAfter,
                                        [this] { return ThreadsEnded(); }));
}

void KeyerLink::AbandonThreads() {
    if (!writer_.joinable() && !reader_.joinable()) {
        return;
    }
    state_.writer_abandon = 1;
    state_.reader_running = 0;
    port_.InterruptWait();
    state_.mailbox_event.Signal();
    CancelUntilThreadsEnd();
    JoinThreads();
}

void KeyerLink::JoinThreads() {
    if (writer_.joinable()) {
        writer_.join();
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void KeyerLink::StopAtExit() {
    if (state_.host_open.exchange(0) != 1 || !writer_.joinable()) {
        return;  // closed already, its threads joined, or opened without a port: none runs
    }
    // What the exit asked of the keyer (key up, paddles released) goes out first; a port that
    // takes no more writes holds the exit no longer than this.
    WaitForWriterPass(kExitPassWait);
    AbandonThreads();
    RestoreKeyerTimerResolution();
}

KeyerResult KeyerLink::CloseHost() {
    if (state_.host_open.load() != 1) {
        return kKeyerHostNotOpen;
    }
    state_.close_requested = 1;
    state_.mailbox_event.Signal();
    // The reader waits on the port with no time-out; the interrupt ends that wait without
    // touching the writes the writer still has to make.
    state_.reader_running = 0;
    port_.InterruptWait();
    state_.host_open = 0;

    // A write has no time-out of its own: a keyer that stopped reading would hold the writer
    // for ever. So once the writer has had its time for the host close, the port's transfers
    // are cancelled, which sends the threads out of the port whatever they wait for there;
    // then they are joined, and only then does the port close.
    if (!state_.progress.WaitUntil(std::chrono::steady_clock::now() + kWriterCloseWait,
                                   [this] { return ThreadsEnded(); })) {
        CancelUntilThreadsEnd();
    }
    JoinThreads();
    port_.DropDtr();
    port_.Close();
    RestoreKeyerTimerResolution();
    return kKeyerOk;
}
