// Bringing the station on line and taking it off: Open/Close, the opening that the record may
// ask for at start, and the close of a keyer that was unplugged.
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "settings/settings_record.h"
#include "station/settings_file.h"
#include "station/station.h"

namespace {

constexpr auto kServerStartupWait = std::chrono::milliseconds(30000);
constexpr int kAfterStartupOpenMs = 250;
constexpr int kAfterButtonOpenMs = 100;

}  // namespace

Station::Station(StationView& view, ConnectLog& log, SocketLoop& sockets, StationSetup setup)
    : view_(view),
      // Before settings_ takes the path over: members are made in the order declared.
      log_(log, setup.config_path.empty() ? std::string() : LogPathFor(setup.config_path)),
      sockets_(sockets),
      settings_(std::move(setup.config_path), *setup.config_disk),
      keyer_(*this, std::move(setup.keyer_writer_held)),
      keyer_queue_(keyer_),
      link_text_queue_(
          keyer_queue_, [this] { return MayPttFromLinkGoOn(); },
          [this](bool on) { OnPttFromLink(on); }),
      keyer_port_(std::move(setup.keyer_port)),
      net_(sockets_, std::move(setup.link)),
      status_relay_(net_, settings_),
      receive_backlog_(link_text_queue_, [this](bool hold) { status_relay_.DecideHold(hold); }),
      reconnect_(std::move(setup.reconnect_waits)),
      allowed_name_lookups_([&sockets = sockets_](const std::string& name) {
          // Its own start of the library, so a Close meanwhile cannot stop it under the look-up.
          if (sockets.Start() != 0) {
              return std::vector<NetAddress>();
          }
          HostEntry entry;
          const bool found = sockets.LookupHostByName(name, &entry);
          sockets.Stop();
          return found ? entry.addresses : std::vector<NetAddress>();
      }),
      logger_(sockets_),
      sender_(*this, settings_.record(), std::move(setup.carry_out_messages)) {
    // What the .ini says holds from the start, so the keyer's device is known before Start;
    // its mistakes are told when Start reads it again.
    IniSettings ini = ReadIniFileBeside();
    TakeIniSettings(ini);
}

void Station::Start() {
    ReadSettingsFile(settings_, view_, log_);
    ReadIniSettings();

    // A stored speed of 0 means the keyer's speed pot sets the speed: the field then stays
    // empty and disabled until the pot reports.
    logger_.speed_at_start = record().keyer_settings.wpm;
    if (record().keyer_settings.wpm == 0) {
        view_.AllowSpeedEntry(false);
        state_.pot_speed_active = 1;
    } else {
        view_.ShowSpeed(record().keyer_settings.wpm);
        view_.AllowSpeedEntry(true);
        state_.pot_speed_active = 0;
    }

    net_.SetLinked(false);
    net_.SetPending(false);
    state_.remote_busy = 0;

    view_.ShowLocalKeyer(LocalKeyerState::kClosed, 0);
    view_.ShowRemoteKeyerClosed();
    view_.ShowNetworkStatus(NetworkStatus::kNoConnection);
}

// Nothing of the station is open: the next Open/Close opens it. A Net Server whose client has
// gone has both flags down but still listens, and is not closed; nor is a Net Client waiting
// to try its server again.
bool Station::StationClosed() const {
    return state_.local_keyer_open.load() == 0 && !net_.IsPending() && !net_.IsLinked() &&
           !net_.IsHeld() && !reconnect_at_;
}

void Station::OpenStation(int settle_ms) {
    if (OpenConnection() == 0) {
        return;  // Open stays on offer; the Connect log says why
    }
    view_.OfferClose();
    std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
    state_.pause_on = 0;
}

void Station::OpenAtStartup() {
    if (record().open_at_startup == 0) {
        return;
    }
    if ((settings_.NetFlags() & kNetModeServer) != 0) {
        startup_open_due_ = std::chrono::steady_clock::now() + kServerStartupWait;
        view_.ShowNetworkStatus(NetworkStatus::kWaitingToListen);
        view_.HoldInput(true);
        return;
    }
    OpenStation(kAfterStartupOpenMs);
}

void Station::OpenWhenStartupWaitEnds() {
    if (!startup_open_due_ || std::chrono::steady_clock::now() < *startup_open_due_) {
        return;
    }
    startup_open_due_.reset();
    view_.HoldInput(false);
    // A failed open leaves the status as a station that never opened shows it.
    view_.ShowNetworkStatus(NetworkStatus::kNoConnection);
    OpenStation(kAfterStartupOpenMs);
}

void Station::OpenOrClose() {
    // A listening Net Server without a client offers Close: that closes, or the next Open
    // could never bind the port.
    if (StationClosed()) {
        OpenStation(kAfterButtonOpenMs);
    } else {
        CloseStation("the operator pressed Close");
    }
    view_.FocusTyping();
}

void Station::CloseStation(const char* cause) {
    // Before the keyer's close: its writer puts key-up and paddle release on the wire ahead
    // of the host close, and the link's end finds nothing left to release.
    LogRelease(cause);
    ReleaseKeyerControl();
    if (state_.local_keyer_open.load() == 1) {
        SaveSettingsFileAtClose(settings_, view_);
        keyer_.SetBaseMode();
        keyer_.CloseHost();
        state_.local_keyer_open = 0;
        view_.ShowLocalKeyer(LocalKeyerState::kClosed, 0);
    }
    StopTryingKeyer();
    CloseNetworkFromButton();
    CloseLoggerPort();
    view_.OfferOpen();
}

void Station::CloseAndExit(const char* cause) {
    if (!StationClosed()) {
        CloseStation(cause);
    }
    Exit();
}

void Station::CloseLocalKeyerIfLost() {
    if (state_.local_keyer_open.load() != 1 || !state_.keyer_lost.load()) {
        return;
    }
    if (!net_.IsLinked()) {
        // Unlinked, all the station holds for a keyer is this one's: a stored message stops
        // rather than go on as if keyed, Tune and Pause read released, and the busy and wait
        // fields no longer show a keyer's last word. Linked, those belong to the link.
        ReleaseKeyerControl();
        view_.ShowBusy(false);
        view_.ShowWait(WaitState::kNone);
    } else if (settings_.NetRole() != kNetRoleRemoteSide) {
        // A paddle held when the keyer went would stay pressed at the other station.
        net_.SendPacket(PKT_PADDLE, 0, 0, nullptr);
        view_.ShowPaddles(false, false);
    }
    // The host close goes nowhere, but it stops the keyer's threads and gives the port back,
    // so that the keyer can be attached again once it is plugged back in.
    keyer_.CloseHost();
    state_.local_keyer_open = 0;
    view_.ShowLocalKeyer(LocalKeyerState::kLost, 0);
    Log("\r\nLocal Tarvel lost: COM" + std::to_string(static_cast<int>(record().com_port)) +
        " stopped answering.");
    TryKeyerAgainLater();
    RetellKeyerVersion();
    if (StationClosed()) {
        view_.OfferOpen();
    }
}

void Station::Exit() {
    CloseLoggerPort();
    CloseNetworkAtExit();
    // The keyer reader starts messages and sends packets; it stops before the sender ends.
    keyer_.StopAtExit();
    sender_.End();
}
