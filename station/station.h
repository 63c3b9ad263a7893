// One station: what the operator commands, what the keyer says, what the other station sends,
// and what the station shows of it all through its view.
//
// Threads. The window's thread (or whatever plays it: a test, the site's loop) makes every
// call below except the keyer listener's and the message sink's. The keyer reader calls the
// keyer listener's half (OnKeyerStatus, OnSpeedPot, OnKeyerEcho, OnPaddles, OnKeyerLost), and
// the message sender the sink's (IsBusy, HandOn, OnMessageError). Those threads never wait for
// the window's thread: what they show goes to the view, which hands it over without waiting,
// and what they send goes straight to the keyer's mailbox or the link's socket. The state
// they share with the window's thread is atomic.
//
// Exit. Exit() releases what the station holds (the keyer let go of, the link closed), then
// stops the keyer's threads and the message sender; after it returns no thread calls into the
// station or its view, and both may go.
//
// Everything a station is belongs to it: its settings (`settings_`), its keyer link (`keyer_`)
// and where its port is, its link to the other station (`net_`) with the backlog of text from
// it and the status it reports upstream, and its message sender (`sender_`). Its sockets are
// made on the socket loop it is given, whose owner runs their events on the window's thread.
// Two stations in one process share nothing. Nobody reaches past the station to its parts: a
// front end or a test asks the station what it wants to know and has it do what it wants
// done, so each part may change without its callers.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "keyer/keyer_link.h"
#include "keyer/keyer_listener.h"
#include "keyer/serial_port.h"
#include "messages/message_sender.h"
#include "net/allow_list.h"
#include "net/link_key.h"
#include "net/link_timing.h"
#include "net/logger_request.h"
#include "net/net_link.h"
#include "net/packet.h"
#include "net/paddle_playout.h"
#include "net/reconnect_schedule.h"
#include "net/round_trip_meter.h"
#include "net/socket_api.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"
#include "station/keying_budget.h"
#include "station/log_file.h"
#include "station/logger_port.h"
#include "station/name_lookups.h"
#include "station/ptt_watching_queue.h"
#include "station/receive_backlog.h"
#include "station/refusal_log.h"
#include "station/station_view.h"
#include "station/status_relay.h"
#include "station/unproved_peers.h"

// What the station itself keeps while it runs. Each is one word read and written whole.
struct StationState {
    std::atomic<int32_t> remote_busy{0};
    std::atomic<int32_t> local_keyer_open{0};
    // The speed pot sets the speed (a stored speed of 0, or "Pot Lock").
    std::atomic<int32_t> pot_speed_active{0};
    std::atomic<uint8_t> pot_wpm{0};
    std::atomic<uint8_t> pause_on{0};
    std::atomic<uint8_t> tune_on{0};
    std::atomic<uint8_t> heartbeat_count{0};
    // Received packets whose marker byte was not PKT_MARKER.
    std::atomic<int32_t> bad_packet_count{0};
    // Echoes of keyed characters (the far keyer's when linked, the local keyer's otherwise)
    // that the link timer's tick has not counted yet.
    std::atomic<uint32_t> keyed_echoes{0};
    // Set by the keyer reader when it gives the keyer up; the link timer's tick closes it.
    std::atomic<bool> keyer_lost{false};
};

// The local keyer's transmit queue, as the link's receive backlog feeds it.
class KeyerTransmitQueue final : public TransmitQueue {
  public:
    explicit KeyerTransmitQueue(KeyerLink& keyer) : keyer_(keyer) {}
    bool Queue(const uint8_t* bytes, int count) override;
    bool IsNearlyFull() override;

  private:
    KeyerLink& keyer_;
};

// How long Tune and paddle input that came over the link may hold the key at a RemoteSide, as
// the .ini says; 0 means no limit.
struct SafetyLimits {
    uint32_t tune_seconds;
    uint32_t paddle_seconds;
};

// What a station is made with besides its view. The program names only the configuration
// file, and the site its keyer's device; a test, the fuzzer or a bench may set the rest.
struct StationSetup {
    // Where its configuration file lives; a station that never reads or saves it needs none.
    std::string config_path;
    // The link's silence period and how it sends.
    LinkSetup link;
    // Carries out the stored messages that start, instead of the sender's thread (see
    // MessageSender).
    MessageSender::CarryOut carry_out_messages;
    // Holds the keyer's writer back while it answers true (see KeyerLink::WriterHold).
    KeyerLink::WriterHold keyer_writer_held;
    // How long a Net Client whose link ended waits before each try at its server.
    ReconnectWaits reconnect_waits = kReconnectWaits;
    // Where the keyer's port is. A device named here goes before the one the .ini names.
    KeyerPortPlace keyer_port = {};
    // What the configuration file is read from and saved to: this machine's disk, unless its
    // owner must leave the file as it is (the site, whose file only `config set` changes).
    Disk* config_disk = &MachineDisk();
};

// What the Setup dialog shows besides the record: what the station knows of its keyer.
struct SetupStart {
    // The keyer ports that exist, lowest first.
    std::vector<int> keyer_ports;
    // The keyer last attached is of the newer generation (version 20 or later), which names
    // its outputs differently and has the paddle-only sidetone.
    bool extended_keyer = false;
    bool keyer_open = false;
    // The speed pot sets the speed.
    bool pot_lock = false;
};

// How Scroll steps the speed: up, down, or the same speed sent again.
enum class SpeedStep { kUp, kDown, kRepeat };

class Station final : public KeyerListener, public MessageSink {
  public:
    // `sockets` is the loop the link's sockets are made on and whose events the owner hands
    // to OnSocketEvent; it outlives the station.
    Station(StationView& view, ConnectLog& log, SocketLoop& sockets, StationSetup setup = {});
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Reads the configuration file and shows the station as it starts: nothing open.
    void Start();
    // The opening the record may ask for at start. A Net Server waits 30 s first, so that a
    // remote site's network is up before it listens: its window shows the wait and holds the
    // operator's input, and the link timer's tick opens it once the wait is over.
    void OpenAtStartup();
    // Open when nothing is open; otherwise close the keyer (settings saved first) and the link.
    void OpenOrClose();
    // 1 when every stage the record asks for is done or under way; 0 when one failed, with
    // the reason in the Connect log and nothing left held by the failed stage.
    int OpenConnection();
    // The site's opening, with nobody there to open again: as OpenConnection, except that a
    // keyer device named outright that cannot be attached does not stop it (the network stage
    // goes on, and the keyer is tried again as a lost one is), and that a Net Client whose
    // server cannot be reached yet (a name that a network just up at boot cannot resolve yet)
    // tries it again as after a drop. A link key that is not usable still stops it.
    int OpenUnattended();
    // Releases the keyer and the link, then stops every thread of the station.
    void Exit();
    // A station stopped from outside, with nobody at it (the site's service stopped): closes
    // as Close does, the keyer released and out of host mode and the link closed, with
    // `cause` in the log file, then exits.
    void CloseAndExit(const char* cause);

    // The operator's commands. While linked a command goes to the other station, otherwise
    // to the local keyer.
    void TypeCharacter(unsigned int character_code);
    // Pasted text, typed character by character in order as the link or the keyer takes
    // each (see typing.cpp).
    void TypeText(const std::string& text);
    // The speed field's text, entered.
    void EnterSpeed(const std::string& field_text);
    void StepSpeed(SpeedStep step);
    void Clear();
    void ToggleTune();
    void TogglePause();
    // Stored message `number` (1..6), when none is going out and the role takes keying here;
    // true when it started.
    bool SendStoredMessage(int number);
    // The stored message going out stops at its next step. Any thread may stop it.
    void StopStoredMessage() { sender_.Stop(); }
    // Message `number`'s text as stored; empty for any other number.
    std::string StoredMessage(int number);
    // Stores `text` as message `number` (1..6), cut at 255 characters (see
    // MessageSender::StoreText).
    void StoreMessage(int number, const std::string& text);
    // The Message Editor's save: the message stored, then the configuration file saved; a
    // failed save is reported through the view.
    void SaveMessage(int number, const std::string& text);

    // The Setup dialog. Opening stops a message being sent and lets the pot's lock go while
    // no keyer is attached (the returned `pot_lock` is the lock as it was).
    SetupStart OpenSetup();
    // The pot's range as "Done" stores it: the keyer is asked for the pot's reading, and a
    // `speed_shown` above the new highest is shown as the highest.
    void SetSpeedPotRange(uint8_t lowest, uint8_t highest, uint32_t speed_shown);
    // Locked, the pot sets the speed and none may be typed. Released, the speed is the pot's
    // reading while a keyer is attached and has sent one, otherwise the stored speed (the
    // pot's lowest in place of none), and it may be typed.
    void LockSpeedToPot(bool locked);
    // After a "Done" that refused nothing: the record saved, and loaded into the keyer.
    void ApplySetup();

    // The link: one socket event, as the platform delivers it. 1 when handled, 0 after a
    // failed accept.
    int OnSocketEvent(const SocketEvent& event);
    void OnHeartbeatTick();
    // Text waiting for the keyer moves on, and a link that fell silent or lost its framing
    // ends.
    void OnLinkWatchTick();
    // Once the keyer reader has given the keyer up as lost, closes it as Close would and
    // says so. A link goes on; a Net Server tells the other station it has no keyer now.
    void CloseLocalKeyerIfLost();
    // A keyer lost, or missing at OpenUnattended, is tried again every 5 s until it attaches
    // or the operator opens or closes; the link timer's tick calls this. Back, it is shown
    // online, and a linked Net Server tells the other station its version unasked.
    void AttachKeyerAgainIfDue();
    // The period the link timer should run at now: quick while text from the link waits for
    // the keyer or pasted text waits its turn, slow otherwise. Asked again after every tick and
    // socket event.
    std::chrono::milliseconds LinkTimerPeriod() const;
    // Text from the link that waits for the local keyer moves on, as far as its queue takes
    // it; the link timer's tick does this first.
    void MoveLinkTextOn();
    // What of that text still waits, oldest first.
    std::vector<uint8_t> TextWaitingForKeyer() const;

    // One received packet.
    void processIPpacket(const Packet& packet);

    // Close's network part: the flags, the two status lines, and the link socket and socket
    // library whenever they are still held.
    void CloseNetworkFromButton();
    // Exit's network part: the keyer let go of (and emptied too when a link ends with the
    // program), then the data socket and the library when linked; the other side sees the
    // close.
    void CloseNetworkAtExit();

    // What a station does whenever the other station, or its own operator, loses control
    // of its keyer: nothing left keyed, pressed, paused or waiting to be sent.
    void ReleaseKeyerControl();
    // Loads the record's keyer block into the local keyer, adjusted for the role while
    // linked, and on a ControlPoint sends the other side its copy.
    void ApplyKeyerSettings();
    // While linked, whether the other station's keyer holds; otherwise whether the local
    // keyer's queue is nearly full (a station with neither link nor keyer counts as busy).
    bool IsLinkBusy() const;
    // Keying that starts at this station (typing, the message buttons, Tune) is taken while
    // unlinked, or linked as ControlPoint; linked in Converse or as RemoteSide the other
    // station does the keying.
    bool RoleAcceptsLocalKeying() const;
    // The device the keyer is opened on, as the set-up or else the .ini names it; empty when
    // the record's COM port number names the port.
    std::string KeyerDevice() const;
    // Whether COM port `port_number` is there to choose, where this station's ports are.
    bool HasKeyerPort(int port_number) const;

    SettingsStore& settings() { return settings_; }
    StationView& view() { return view_; }

    // What the station is doing now, as a front end or a test asks it. Any thread may ask,
    // unless it says otherwise.
    bool IsLinked() const { return net_.IsLinked(); }
    // A listen or a connect is under way, or a Net Client's failed connect waits for
    // Open/Close.
    bool IsLinkPending() const { return net_.IsPending(); }
    // The local port of the link's socket (where a Net Server listens); 0 without one.
    int LinkPort() const;
    bool IsKeyerAttached() const { return state_.local_keyer_open.load() == 1; }
    // The version the local keyer answered at its last attach; 0 before the first.
    uint8_t KeyerVersion() const { return keyer_.Version(); }
    bool IsTuneOn() const { return state_.tune_on.load() == 1; }
    bool IsPauseOn() const { return state_.pause_on.load() == 1; }
    // The other station's keyer said last that it holds.
    bool IsRemoteKeyerHolding() const { return state_.remote_busy.load() != 0; }
    bool IsSpeedFromPot() const { return state_.pot_speed_active.load() != 0; }
    // The speed pot's last reading, in WPM; 0 before the first.
    uint8_t PotSpeed() const { return state_.pot_wpm.load(); }
    // The stored message going out: its number when the operator started it, 1 when one of
    // the keyer's own buttons did; 0 while none is.
    int MessageGoingOut() const { return sender_.Sending(); }
    // Received packets whose marker byte was not PKT_MARKER.
    int BadPacketCount() const { return state_.bad_packet_count.load(); }
    // Bytes in the local keyer's transmit queue that have not gone to it yet.
    int QueuedForKeyer() const { return keyer_.QueueSnapshot().queue_count; }

    // The keyer reader's thread.
    void OnKeyerStatus(uint8_t status) override;
    void OnSpeedPot(uint8_t wpm) override;
    void OnKeyerEcho(uint8_t character) override;
    void OnPaddles(uint8_t paddles) override;
    void OnKeyerLost() override;

    // The message sender's thread.
    bool IsBusy() override;
    void HandOn(const uint8_t* bytes, int count) override;
    void OnMessageError(MessageError error) override;

  private:
    // The fuzz targets alone reach past the station: each input plays the keyer and the
    // other station on one thread, from states no operation leads to in a moment (a keyer
    // in host mode with neither port nor threads), and looks at what every part keeps.
    friend class StationFuzzAccess;

    // connection_sequence.cpp
    enum class AttachLog { kEveryStep, kNothing };
    int AttachLocalKeyer(AttachLog telling = AttachLog::kEveryStep);
    enum class Attendance { kOperator, kUnattended };
    int OpenStages(Attendance attendance);
    bool FindHost(bool server, HostEntry* entry);
    // Listens or starts the connect, as the record's mode says; 0 when that failed.
    int OpenNetworkStage();
    // The network stage's end on a Net Server, listening on `address` or, with none, on
    // every address; and on a Net Client, connecting to the first of the server's addresses
    // left that takes a connect.
    int ListenForClient(const std::optional<NetAddress>& address, uint16_t port);
    int StartConnect();
    // After a connect failed with `error`: the server's next address tried, when it has
    // one; false when none is left or none could be tried, and the client has failed.
    bool ConnectToNextServerAddress(uint16_t error);
    void TellNextServerAddress(int error);
    // A Net Client's next try at its server: the network stage alone, the keyer being
    // still attached.
    int ConnectAgain();
    // ini_settings.cpp: reads the .ini again and takes what it says, telling its mistakes.
    void ReadIniSettings();
    IniSettings ReadIniFileBeside() const;
    // Returns the Connect log's lines of what is wrong with who may connect.
    std::vector<std::string> TakeIniSettings(IniSettings& ini);
    // keying_limits.cpp: Tune, paddles and PTT from the link, timed from when they began and
    // counted against the keying budget. False for a press that must not key.
    bool TakeKeyingFromLink(uint8_t type, uint8_t value);
    bool MayPttFromLinkGoOn();
    void OnPttFromLink(bool on);
    bool IsKeyingFromLinkDown() const;
    void EnforceKeyingLimits();
    void EnforceKeyingBudget();
    // Key up, paddles released and PTT off, at once.
    void LetGoOfKeyingFromLink();
    // Whatever let go of the keyer let go of the link's keying too.
    void ForgetKeyingFromLink();
    // link_events.cpp
    // Net Server: `net_mode` bit 1 of the Settings record.
    bool IsServer() const;
    // A connection that will carry the link has come: its socket set up, nothing of an
    // earlier connection left to read or send.
    void StartConnection(SocketHandle data_socket);
    // The link starts: at once on a station without a key, when the exchange has ended on
    // one with a key.
    void BeginLinkSession();
    // A Net Server's client becomes its link, unless a live link holds the server; a keyed
    // client's `proof` goes out first and the link is sealed from then on.
    void LinkClient(SocketHandle accepted, const NetAddress& address, const KeyExchange* proved,
                    const std::vector<Packet>& proof);
    // A Net Client's link starts: its pause, version request, settings and speed.
    void BeginClientLink();
    // One packet from the link's data socket: through the exchange or the seal when keyed;
    // false when the link ended on it.
    bool TakeLinkPacket(const Packet& packet);
    // keyed_link.cpp: the link key's exchange at both ends, and the seal after it.
    void TakeUnprovedClient(SocketHandle accepted, const NetAddress& address);
    void ReadUnprovedClient(std::size_t index);
    void StepUnprovedClient(std::size_t index, const Packet& packet);
    // Closes the unproved connection; `refusal` (not empty) is logged.
    void DropUnprovedClient(std::size_t index, const std::string& refusal);
    void DropAllUnprovedClients();
    std::optional<std::size_t> FindUnprovedClient(SocketHandle socket) const;
    void BeginClientExchange();
    void StepClientExchange(const Packet& packet);
    void EndClientExchange(const std::string& refusal);
    void ExpireLinkKeyExchanges();
    void BeginSeal(const KeyExchange& proved);
    // A refusal for the peer at `address` whose exchange gave `step`.
    std::string ExchangeRefusal(const NetAddress& address, ExchangeStep step,
                                const KeyExchange& exchange) const;
    // The key's state at Open: false, with the reason logged, when no link may start.
    bool CheckLinkKeyAtOpen();
    // paddle_timing.cpp: paddle changes stamped with the link's time on their way out, and
    // played out on this station's clock when they come in stamped.
    uint32_t LinkMilliseconds(std::chrono::steady_clock::time_point now) const;
    void SendPaddleCode(uint8_t code);
    void SendHeartbeat();
    void AnswerHeartbeat(const Packet& packet);
    void TakePaddleDelay(const Packet& packet);
    void PlayPaddleFromLink(const Packet& packet);
    // Late paddle changes, told once a minute while there are any.
    void TellLatePaddles();
    // link_health.cpp: shows the health the link has now, when it changed.
    void RefreshLinkHealth();
    // allowed_names.cpp: AllowFrom's host names looked up at an Open and every 5 minutes,
    // and their answers taken into the list at the link timer's tick.
    void LookUpAllowedNames();
    void FollowAllowedNames();
    // reconnect.cpp: a Net Client whose link ended waits, then tries its server again.
    bool Reconnects() const;
    void ScheduleReconnect();
    void ReconnectIfDue();
    // False, with the client closed and the refusal counted (and logged, unless its address
    // has been refused too often of late), for one the allow list keeps out;
    // `address` gets the client's address.
    bool AdmitClient(SocketHandle accepted, NetAddress* address);
    void EndLinkAsLost(const char* reason);
    int OnAccept();
    void OnConnect(uint16_t error);
    void OnRead(SocketHandle socket);
    void OnClose(SocketHandle socket);
    // open_close.cpp
    bool StationClosed() const;
    // Close's work, with `cause` in the log file.
    void CloseStation(const char* cause);
    void OpenStation(int settle_ms);
    void OpenWhenStartupWaitEnds();
    // packet_handler.cpp
    void ApplyRemoteStatus(uint8_t status);
    void SendVersionReply();
    void AnswerVersionRequest();
    void RetellKeyerVersion();
    // keyer_release.cpp: a release with a keyer attached goes into the log file, with its cause.
    void LogRelease(const char* cause);
    // keyer_reattach.cpp
    // The keyer's device, or its COM port where the record's number names it.
    std::string KeyerPortName() const;
    void TryKeyerAgainLater();
    void TellKeyerRetries();
    void StopTryingKeyer();
    // keyer_events.cpp
    void OnKeyerButtons(uint8_t report);
    void ShowLocalStatus(uint8_t status);
    // typing.cpp
    void SendTypedCharacter(uint8_t character);
    // Text that waits its turn as pasted text does, whatever the busy flag says; false when
    // some of it found the queue full and was dropped.
    bool QueueTextInTurn(const std::string& text);
    // Pasted text waiting, sent as far as busy allows; the link timer's tick calls it.
    void FeedTypedAhead();
    // operator_commands.cpp
    void ApplySpeed();
    void SetTune(bool on);
    // logger_port.cpp: a logging program's requests on the logger port, open from an Open to
    // the Close. Returns the .ini's mistake in where it listens.
    std::optional<std::string> TakeLoggerPlace(IniSettings& ini);
    void OpenLoggerPort();
    // A reply still waiting goes at once.
    void CloseLoggerPort();
    void TellLoggerProblemOnce(const std::string& kind, const std::string& line);
    void OnLoggerDatagram();
    void TakeLoggerRequest(const LoggerRequest& request, const LoggerDatagram& datagram);
    void QueueLoggerText(const std::string& text);
    void SetLoggerSpeed(int wpm);
    // Tune on for `seconds` within the Tune limit; 0 ends a tune.
    void TuneFromLogger(int seconds);
    // A character on its way to the keyer whose echo the reply may wait for.
    void HandedOnForKeying();
    // The link timer's tick: the echoes counted, the reply sent once keyed, the tune ended.
    void FollowLoggerPort();
    // The text was aborted or will never be keyed: the reply goes now.
    void SendLoggerReplyNow();

    void Log(const std::string& text) { log_.Append(text); }

    SettingsRecord& record() { return settings_.record(); }

    StationView& view_;
    // The Connect log as the view shows it, kept in the log file too.
    LogFile log_;
    SocketLoop& sockets_;
    SettingsStore settings_;
    StationState state_;
    // Before what it feeds: its reader calls into the rest of the station only between an
    // open and a close or Exit, never while the station is made or goes.
    KeyerLink keyer_;
    KeyerTransmitQueue keyer_queue_;
    PttWatchingQueue link_text_queue_;
    // Where the set-up says the keyer's port is; a device it does not name, the .ini may.
    const KeyerPortPlace keyer_port_;
    NetLink net_;
    StatusRelay status_relay_;
    ReceiveBacklog receive_backlog_;
    // The receive side of the one connection; reset with each new link so that the partial
    // tail of an ended connection never joins the start of the next.
    PacketReassembler rx_packets_;
    // What the .ini says, as last read (as the station is made, at start and at each Open).
    AllowList allow_from_;
    // `[Network]` `Key`: the key, or what is wrong with it (and then no link starts).
    std::optional<LinkKey> link_key_;
    LinkKeyProblem link_key_problem_ = LinkKeyProblem::kNone;
    // A keyed Net Server's connections that have not proved yet; the window's thread's alone.
    std::vector<UnprovedPeer> unproved_clients_;
    WrongProofWatch wrong_proofs_;
    // A keyed Net Client's exchange while it runs, and when it began.
    std::optional<KeyExchange> client_exchange_;
    std::chrono::steady_clock::time_point client_exchange_since_{};
    // The peer's packets' tags on a sealed link.
    std::optional<PacketTagChecker> tag_checker_;
    SafetyLimits limits_{};
    std::string keyer_device_from_ini_;
    std::optional<std::chrono::steady_clock::time_point> tune_from_link_since_;
    std::optional<std::chrono::steady_clock::time_point> paddles_from_link_since_;
    // The link's text switched PTT on, as far as its queued commands tell.
    bool ptt_from_link_on_ = false;
    // Checked at each press and on the link's watch, whose tick may come half a period late;
    // a paddle change played out later than it came may hold the key that much longer.
    KeyingBudget keying_budget_{kLinkWatchPeriod * 3 / 2 + PaddlePlayout::kLongestDelay};
    // The link's own clock, which stamps paddle changes and heartbeats: when the link began,
    // and the next paddle change's number. The keyer's reader stamps as it reads.
    std::atomic<std::chrono::steady_clock::rep> link_began_{0};
    std::atomic<uint16_t> paddle_sequence_{0};
    // The other station's paddles as they are played out here; the window's thread's alone.
    PaddlePlayout paddle_playout_;
    // Paddle changes that came after their time, since the first of this minute's.
    int late_paddles_ = 0;
    std::optional<std::chrono::steady_clock::time_point> late_paddles_since_;
    // The delay that the other station plays this one's paddles out with, as it last said.
    std::optional<uint16_t> far_paddle_delay_ms_;
    // open_close.cpp: when a Net Server's start-up wait ends.
    std::optional<std::chrono::steady_clock::time_point> startup_open_due_;
    // Which refused clients the Connect log tells of, and the counts of the rest.
    RefusalLog refusals_;
    // The .ini's mistakes already told in the Connect log.
    std::set<std::string> told_ini_problems_;
    // Pasted text, and what was typed after it, not sent yet; the window's thread's alone.
    std::deque<uint8_t> typed_ahead_;
    // `[Network]` `Reconnect`, as last read.
    bool reconnect_enabled_ = true;
    ReconnectSchedule reconnect_;
    // When a Net Client whose link ended tries its server again; nothing while none is due.
    std::optional<std::chrono::steady_clock::time_point> reconnect_at_;
    RoundTripMeter round_trips_;
    // When a keyer that went is tried again; nothing while none is due. Whether the Connect
    // log was told of the tries since the keyer went.
    std::optional<std::chrono::steady_clock::time_point> keyer_retry_at_;
    bool keyer_retries_told_ = false;
    // A Net Client's server: the address being tried, those not tried yet and the port.
    NetAddress connecting_to_;
    std::vector<NetAddress> server_addresses_left_;
    uint16_t server_port_ = 0;
    // The other end of the link, as the station that only answers heartbeats shows it.
    NetAddress peer_address_;
    LinkHealth shown_health_;
    // What this link has shown of the other station, so that a peer repeating itself writes
    // no line; each new link starts afresh.
    std::optional<uint8_t> shown_remote_version_;
    bool told_mismatch_on_link_ = false;
    // The settings block and speed the other station last had the keyer take over this link,
    // so that a keyer that comes back keys as it was told; each new link starts afresh.
    std::optional<KeyerSettings> link_keyer_block_;
    std::optional<uint8_t> link_keyer_speed_;
    // What each of AllowFrom's names gave when last looked up (none: it did not resolve),
    // kept across a new reading of the list, whose names stand for nothing until looked up.
    NameLookups::Answers allowed_name_addresses_;
    std::optional<std::chrono::steady_clock::time_point> next_allowed_names_lookup_;
    // Its worker reaches only the socket loop, which outlives the station.
    NameLookups allowed_name_lookups_;
    LoggerPortState logger_;
    // Last, so that it is the first to go: its thread calls into the rest of the station.
    MessageSender sender_;
};
