// One keyer link: its serial port, host mode with the byte handshake that attaches the keyer,
// the command mailbox and transmit queue, the writer and the reader, and the close that
// returns the keyer.
//
// Threads. While host mode is open the link runs two threads of its own. The writer is the
// only thread that writes to the port: it wakes on the mailbox's event for a service pass, and
// for text in the transmit queue, which it sends a unit at a time at least 3 ms apart. A unit
// queued after 3 ms without one goes at once, ahead of any request made after it; a request
// goes ahead of units still waiting for their 3 ms. The reader waits on the port with no
// time-out and hands every byte the keyer sends to the listener the link was made with. Any
// thread may leave a request in the mailbox or queue text; none of those calls waits, and each
// returns kKeyerHostNotOpen while host mode is closed. The open, the close and the exit run on
// the thread that owns the link (the station's window thread).
//
// The listener is called on the reader's thread and must never wait for the thread that
// closes the link: the close joins the reader, so such a wait would hold both for ever. The
// station's view hands what it shows over to the window's thread for that reason.
//
// Close and exit. CloseHost has the writer send the host close, then stops both threads and
// closes the port. StopAtExit stops them without it, leaving the keyer as the exit found it.
// Neither waits by polling, and neither lets a thread go: each waits on the threads' word
// (KeyerThreadProgress) for a bounded time, then cancels the port's transfers, which a thread
// waiting in the port leaves at once, and joins both threads before anything they use goes.
// So a keyer that stops reading mid-close costs the close the writer's time and no more. After
// either, no thread of the link runs and the listener is not called again; the link's
// destructor does the same as StopAtExit for a link still open.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <thread>

#include "keyer/keyer_link_state.h"
#include "keyer/keyer_listener.h"
#include "keyer/keyer_result.h"
#include "keyer/keyer_settings.h"
#include "keyer/keyer_wire.h"
#include "keyer/serial_port.h"

// The port has refused every read for this long: the keyer was unplugged, or its adapter
// went. The reader then tells its listener and stops, and the keyer stays lost until it is
// closed and opened again.
constexpr std::chrono::milliseconds kKeyerLostAfter{1000};

// A byte of the settings block and its value; only the value's low byte counts.
struct KeyerSettingValue {
    keyer_wire::KeyerSetting setting;
    int value;
};

// The transmit queue's indices as one consistent snapshot.
struct KeyerQueueSnapshot {
    int32_t queue_write;
    int32_t queue_read;
    int32_t queue_count;
    uint8_t queue_nearly_full;
};

class KeyerLink {
  public:
    // Asked by the writer before each pass or queued unit: while it answers true the writer waits
    // (never past a close or the exit), as on a machine too busy to run it, so that requests
    // made meanwhile meet in one service pass.
    using WriterHold = std::function<bool()>;

    explicit KeyerLink(KeyerListener& listener, WriterHold writer_held = nullptr);
    ~KeyerLink();
    KeyerLink(const KeyerLink&) = delete;
    KeyerLink& operator=(const KeyerLink&) = delete;

    // The port that host mode needs open first; the host close closes it.
    SerialPort& port() { return port_; }

    // kKeyerOk host mode open, with the keyer's version in `version`; kKeyerNoEcho,
    // kKeyerWrongEcho or kKeyerNoVersion, the port left open.
    KeyerResult OpenHost(uint8_t* version);
    // After an OpenHost that got the echo but no version: a keyer that an earlier run left in
    // host mode (Exit, a crash, a killed process) ignores a second host open, so this sends
    // the host close and waits until the keyer can take the handshake again.
    void CloseHostLeftOpen();
    // Host mode as if a keyer of `version` had answered the handshake, with neither port nor
    // threads: requests wait in the mailbox and text in the queue, and the keyer's bytes come
    // only through TakeKeyerByte. For playing a keyer's part where there is none.
    void OpenHostWithoutPort(uint8_t version);
    // Has the writer send the host close, stops and joins both threads, drops DTR and closes
    // the port. kKeyerOk; kKeyerHostNotOpen when host mode was not open.
    KeyerResult CloseHost();
    // At exit: what was asked of the keyer goes out, then both threads stop without the host
    // close, so the keyer stays as the exit leaves it. Every entry point then returns
    // kKeyerHostNotOpen.
    void StopAtExit();
    bool IsHostOpen() const { return state_.host_open.load() == 1; }
    // The version byte of the last host open; 0 before the first.
    uint8_t Version() const { return state_.version.load(); }

    // The command mailbox: each leaves a request for the writer's next service pass and
    // returns at once. The base mode, extended mode and spare admin requests are taken even
    // while host mode is closed, so that the close can send them.
    int LoadSettings(const KeyerSettings* block);
    // Bytes of the settings block, each sent by its own command in the writer's next pass
    // when it differs from what was last sent. Given in one call, the two bytes of a command
    // that carries two (PTT timing, pot range) go out together, both new.
    int SetSettings(std::initializer_list<KeyerSettingValue> values);
    int SetSpeed(int wpm);
    int SetSidetone(int sidetone);
    int SetKeyDown(int on);
    // Key up and paddles released: 0B 00 and 14 00 reach the keyer in the writer's next pass
    // even when they were the last values sent, since a station that has lost control must
    // not trust its own record of what the keyer was last told.
    int Release();
    int SetPause(int on);
    // At once, dropping any timed input still waiting.
    int SetPaddleInput(int code);
    // When `due` comes, after every timed input given before it; the writer wakes for it on
    // its own. kKeyerQueueFull when too many wait, and nothing was kept.
    int SetPaddleInputAt(int code, std::chrono::steady_clock::time_point due);
    int ClearBuffer();
    // PTT off, in the same pass as a clear and after it.
    int EndPtt();
    int Backspace();
    int RequestSpeedPot();
    int SetBaseMode();
    int SetExtendedMode();
    int SendSpareAdmin(keyer_wire::SpareAdmin which);

    // The transmit queue: text and buffered commands, sent a unit at a time, paced by the
    // writer. kKeyerQueueFull: the 64-byte ring had no room and nothing was queued.
    int QueueByte(int byte);
    // All `count` bytes in order, or none of them (kKeyerQueueFull), so a buffered command
    // and its arguments are never parted.
    int QueueBytes(const uint8_t* bytes, int count);
    int IsQueueNearlyFull() const;  // 0 or 1, or kKeyerHostNotOpen
    KeyerQueueSnapshot QueueSnapshot() const;

    // What the keyer said last.
    int Status() const;  // 0..63, or kKeyerHostNotOpen
    int TakeEchoByte();  // oldest unread echoed byte, 0 when none, or kKeyerHostNotOpen
    // A button report from the keyer that host mode was last opened with.
    bool IsButtonReport(uint8_t status) const;
    // What the reader does with each byte the keyer sends: sorts it by its high bits, keeps
    // what the writer and the echo ring need, and hands it to the listener.
    void TakeKeyerByte(uint8_t byte);

    // What its threads share (keyer_link_state.h).
    KeyerLinkState& state() { return state_; }

  private:
    // keyer_link.cpp
    void StartHost(uint8_t version);
    bool ThreadsEnded() const;
    // Until both threads have ended: a cancel of the port's transfers, and again each time a
    // while passes without their end.
    void CancelUntilThreadsEnd();
    void AbandonThreads();
    void JoinThreads();
    // keyer_mailbox.cpp
    int Request(PassStep step, bool needs_host_open);
    int AppendToQueue(const uint8_t* bytes, int32_t count);
    void Send(std::initializer_list<uint8_t> bytes);
    void SetPaddleInputNow(uint8_t code);
    // Until a request, a first queued byte, the next unit's time (when text waits) or the
    // next timed paddle input's.
    AutoResetEvent::Wake WaitForWork(std::chrono::steady_clock::time_point next_unit_at);
    // The oldest timed paddle input whose time has come becomes the wanted one.
    bool TakeDuePaddleInput();
    enum class QueuedUnit { kSent, kNone, kKeyerHolds };
    QueuedUnit SendOneQueuedUnit();
    void ServiceSettingCommand(const keyer_wire::SettingCommand& row);
    void ServiceStep(PassStep step, bool requested);
    bool ServiceMailbox();
    bool WriterHeld();
    void RunWriter();
    // Waits until every request made before the call has been through a service pass, or
    // the time-out has passed; false on time-out (a port that takes no more writes).
    bool WaitForWriterPass(std::chrono::milliseconds timeout);
    // keyer_reader.cpp
    void RunReader();
    void KeepEcho(uint8_t byte);
    uint8_t SentMinWpm();

    // The writer's own: the pass under way serves a release.
    bool releasing_ = false;

    KeyerListener& listener_;
    const WriterHold writer_held_;
    SerialPort port_;
    KeyerLinkState state_;
    std::thread writer_;
    std::thread reader_;
};
