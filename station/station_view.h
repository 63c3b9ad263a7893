// How a station reaches whatever shows it: by meaning, never by control. The Windows program's
// Main window implements these calls and is the one place that knows which control shows what
// and in which words; a station without a window, or a test, implements them its own way.
//
// Calls come from the window's thread (the operator's commands, socket events, timers) and
// from the station's worker threads (the keyer reader, the message sender). An
// implementation must never make a worker wait for the window's thread: a call from another
// thread is handed over and applied later, in the order the calls were made. A problem report
// from a worker goes the same way, for the exit joins the workers and must not wait for a
// person; a question to the operator comes only from the window's thread, and waits for one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "keyer/serial_port.h"
#include "net/net_address.h"

enum class NetworkStatus {
    kNoConnection,      // nothing opened yet
    kListening,         // a Net Server waits for its client
    kConnecting,        // a Net Client's connect is under way
    kLinkedToClient,    // a Net Server took its client
    kLinkedToServer,    // a Net Client reached its server
    kLinkEnded,         // the other side closed, or the link died
    kConnectFailed,     // a Net Client's connect was refused or timed out
    kClosedByOperator,  // Close ended the network stage
    kWaitingToListen,   // a Net Server opened at start waits before it listens
};

enum class LocalKeyerState {
    kClosed,
    kOnline,  // in host mode, with the version it answered
    kLost,    // its port stopped answering and the station closed it
};

// The wait field: the keyer's wait bit, or the operator's paddles breaking in.
enum class WaitState { kNone, kWait, kBreakIn };

// What went wrong that the operator must be told of at once.
enum class Problem {
    kConfigNotSaved,        // a save did not reach the disk
    kMessageBadCommand,     // a stored message names a command the keyer does not have
    kMessageTokenMismatch,  // a stored message's token does not close
};

// What the link's health field shows.
struct LinkHealth {
    enum class Kind {
        kNone,       // not linked
        kRoundTrip,  // the heartbeat's round trip, `round_trip_ms`
        kSilent,     // no heartbeat answered lately, or none yet
        // A station that only answers heartbeats has no round trip to show; it shows whom
        // it is linked to, its client's or its server's `address`.
        kClientAddress,
        kServerAddress,
    };
    Kind kind = Kind::kNone;
    int round_trip_ms = 0;
    NetAddress address;
    // With a round trip: the delay the other station plays this one's paddles out with,
    // when it says.
    std::optional<int> paddle_delay_ms;
    // The link proved the link key and its packets are sealed.
    bool keyed = false;

    bool operator==(const LinkHealth& other) const {
        return kind == other.kind && round_trip_ms == other.round_trip_ms &&
               address == other.address && paddle_delay_ms == other.paddle_delay_ms &&
               keyed == other.keyed;
    }
    bool operator!=(const LinkHealth& other) const { return !(*this == other); }
};

// The Connect log, and every other line the station writes for the operator to read later.
class ConnectLog {
  public:
    virtual ~ConnectLog() = default;
    // `text` as it goes into the log: "\r\n" begins a line, and a text without it continues
    // the line before.
    virtual void Append(const std::string& text) = 0;
};

class StationView {
  public:
    virtual ~StationView() = default;

    virtual void ShowNetworkStatus(NetworkStatus status) = 0;
    // `version` only means something while online.
    virtual void ShowLocalKeyer(LocalKeyerState state, uint8_t version) = 0;
    virtual void ShowRemoteKeyerClosed() = 0;
    virtual void ShowRemoteKeyerVersion(uint8_t version) = 0;
    virtual void ShowBusy(bool busy) = 0;
    virtual void ShowWait(WaitState state) = 0;
    virtual void ShowSpeed(int wpm) = 0;
    // While the speed pot sets the speed, the operator may not type one.
    virtual void AllowSpeedEntry(bool allowed) = 0;
    // The heartbeat mark, lit or dark as the answers alternate.
    virtual void BlinkHeartbeat(bool lit) = 0;
    virtual void ShowPaddles(bool left, bool right) = 0;
    virtual void ShowTune(bool keyed) = 0;
    virtual void ShowPause(bool held) = 0;
    // What the Open/Close command does next.
    virtual void OfferOpen() = 0;
    virtual void OfferClose() = 0;
    // One of the keyer's own message buttons (1 to 4) pressed, or 0 when none is.
    virtual void ShowKeyerButtonPressed(int message) = 0;
    // A character a keyer sent, at the echo line's caret. A NUL shows nothing.
    virtual void InsertEcho(uint8_t character) = 0;
    // Text the operator or a stored message sends, at the end of the typing pane.
    virtual void AppendTypedText(const std::string& text) = 0;
    virtual void TakeBackTypedCharacter() = 0;
    virtual void ClearTypedText() = 0;
    // After a command, typing goes on where it is typed.
    virtual void FocusTyping() = 0;
    virtual void ReportProblem(Problem problem) = 0;
    // The configuration file holds what this run could not read, and the operator's save
    // would replace it: true only when the operator agrees.
    virtual bool ConfirmReplaceUnreadConfig() = 0;

    // While a Net Server waits to open at start, only Exit takes the operator's input.
    virtual void HoldInput(bool held) = 0;

    // A character the operator typed or pasted was refused: the operator hears it.
    virtual void RefuseTypedCharacter() = 0;

    // The link's health, below the status lines.
    virtual void ShowLinkHealth(const LinkHealth& health) = 0;

    // The keyer's port could not be opened, and the system says why (the Connect log has
    // already said that it failed, in the Windows program's words).
    virtual void ShowKeyerPortFailure(const PortFailure& failure) = 0;
};
