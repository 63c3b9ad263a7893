// State that host mode, the command mailbox with its writer, and the reader share. Only
// keyer/ includes this; the rest of the program uses the entry points.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "keyer/auto_reset_event.h"
#include "keyer/keyer_listener.h"
#include "keyer/keyer_wire.h"

namespace keyer_internal {

constexpr int kQueueSize = 64;
constexpr int kSettingsSize = static_cast<int>(sizeof(KeyerSettings));
constexpr int kEchoRingSize = 16;

// Guards the transmit queue and both settings blocks; never held across a wait for the
// event or a port write.
extern std::mutex queue_mutex;
extern uint8_t queue_ring[kQueueSize];
extern int32_t queue_write;
extern int32_t queue_read;
extern int32_t queue_count;
extern uint8_t queue_nearly_full;
extern uint8_t wanted_settings[kSettingsSize];
extern uint8_t sent_settings[kSettingsSize];

// Value slots that are single words: producers write the wanted value, the writer alone
// the last-sent one.
extern std::atomic<int32_t> key_down_wanted;
extern std::atomic<int32_t> pause_wanted;
extern std::atomic<uint8_t> paddle_input_wanted;
extern int32_t key_down_sent;
extern int32_t pause_sent;
extern uint8_t paddle_input_sent;

// One-shot slots: 1 = pending, cleared by the writer.
extern std::atomic<int32_t> clear_requested;
extern std::atomic<int32_t> speed_pot_requested;
extern std::atomic<int32_t> load_requested;
extern std::atomic<int32_t> backspace_requested;
extern std::atomic<int32_t> base_mode_requested;
extern std::atomic<int32_t> extended_mode_requested;
// By the spare admin command's place in a pass (keyer_wire::SpareAdmin).
extern std::atomic<int32_t> spare_admin_requested[keyer_wire::kSpareAdminCount];
extern std::atomic<int32_t> close_requested;
extern std::atomic<int32_t> break_in_pending;
// Key-up and paddle release sent whatever was sent last (ReleaseKeyer).
extern std::atomic<int32_t> release_requested;
// A caller that must know its requests have reached the wire takes a ticket; the writer
// publishes the last ticket it saw at the start of a pass once that pass is over.
extern std::atomic<uint32_t> pass_tickets_issued;
extern std::atomic<uint32_t> pass_tickets_served;

// The event lives as long as the program, so an entry point that passed the host-open test
// just before a close can still signal it safely.
extern AutoResetEvent mailbox_event;

// Whom the reader tells what the keyer sends; given by the host open, for as long as the
// reader runs.
extern std::atomic<KeyerListener*> keyer_listener;

extern std::atomic<uint8_t> keyer_status;
// The version byte of the last host open; the reader tells button reports by it.
extern std::atomic<uint8_t> host_keyer_version;
extern std::atomic<int32_t> reader_running;
// Ends the writer without the host close: only for the program's exit, which leaves the
// keyer as it is.
extern std::atomic<int32_t> writer_abandon;
extern std::atomic<bool> writer_done;
extern std::atomic<bool> reader_done;

// Tests set this to make the writer wait before its next pass or tick, so that several
// requests meet in one service pass as they would on a busy machine.
extern std::atomic<bool> writer_held_for_test;

// Echoed characters, newest at echo_write; written by the reader only.
extern std::atomic<uint8_t> echo_ring[kEchoRingSize];
extern std::atomic<int32_t> echo_write;
extern std::atomic<int32_t> echo_read;
extern std::atomic<uint8_t> last_echo;

void ResetTransmitQueueLocked();
// Waits until every request made before the call has been through a service pass, or the
// time-out has passed; false on time-out (a port that takes no more writes).
bool WaitForWriterPass(int timeout_ms);
void RunKeyerWriter();
void RunKeyerReader();
// What the reader does with each byte it reads: sorts it by its high bits, keeps what the
// writer and the echo ring need, and hands it to the listener.
void SortKeyerByte(uint8_t byte);

}  // namespace keyer_internal

// For tests: the transmit queue's indices as one consistent snapshot.
struct KeyerQueueSnapshot {
    int32_t queue_write;
    int32_t queue_read;
    int32_t queue_count;
    uint8_t queue_nearly_full;
};
KeyerQueueSnapshot GetKeyerQueueSnapshot();
