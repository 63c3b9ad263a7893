// What this station tells the other of its keyer: the keyer's own status bits, with this
// station's hold on top, sent upstream in the roles whose keyer the other station keys
// (Converse and RemoteSide); a ControlPoint's keyer is its own operator's, and it reports
// nothing.
//
// Threads. The keyer reader reports the keyer's status; the window's thread decides hold
// (after each move of the receive backlog) and begins each link. One lock: the last report
// sent is always the latest state, whichever thread sent it.
#pragma once

#include <cstdint>
#include <mutex>

#include "net/net_link.h"
#include "settings/settings_store.h"

class StatusRelay {
  public:
    // `settings` says the role, which the Setup dialog may change at any moment.
    StatusRelay(NetLink& net, const SettingsStore& settings);
    StatusRelay(const StatusRelay&) = delete;
    StatusRelay& operator=(const StatusRelay&) = delete;

    // The keyer's own status bits, sent upstream with this station's hold on top. Called
    // while linked, in the roles that report their keyer's status.
    void ReportKeyerStatus(uint8_t status);
    // Whether this station holds, as the receive backlog finds after each move onwards; a
    // change goes upstream at once where the role reports.
    void DecideHold(bool hold);
    // A link has come up: no hold reported on it yet.
    void BeginLink();
    // Hold is reported until the keyer's queue drains: the link timer has work.
    bool IsHolding() const;

  private:
    bool ReportsStatus() const;
    void SendStatusLocked();

    NetLink& net_;
    const SettingsStore& settings_;
    mutable std::mutex mutex_;
    uint8_t keyer_bits_ = 0;      // the keyer's last status, under mutex_
    bool reported_hold_ = false;  // this station's hold as last decided, under mutex_
};
