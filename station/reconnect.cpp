// A Net Client comes back by itself: one whose link ended other than by Close or Exit (the
// server closed or fell silent, the stream broke, the connect failed) tries its server again
// after a wait, until it is linked or the operator closes. The keyer stays attached
// meanwhile, released as at every end of a link, so only the network stage is tried again.
// This holds for a RemoteSide too: a site behind an address nobody can reach dials out to
// home, and with no operator beside it, a site that gave up at the first drop would stay off
// the air. It tries only the server its settings name, the one a home's link key (or its
// operator's firewall) stands behind. A Net Server needs none of this, since it goes on
// listening.
#include <chrono>
#include <string>

#include "settings/settings_record.h"
#include "station/station.h"

bool Station::Reconnects() const {
    return reconnect_enabled_ && settings_.NetMode() == kNetModeClient;
}

// Nothing of the ended link is held while the client waits: the next try starts afresh.
void Station::ScheduleReconnect() {
    if (!Reconnects()) {
        return;
    }
    net_.ReleaseLinkSocket();
    net_.ReleaseSocketLibrary();
    const std::chrono::seconds wait = reconnect_.NextWait();
    reconnect_at_ = std::chrono::steady_clock::now() + wait;
    Log("\r\nTrying the server again in " + std::to_string(wait.count()) + " s.");
}

void Station::ReconnectIfDue() {
    if (!reconnect_at_ || std::chrono::steady_clock::now() < *reconnect_at_) {
        return;
    }
    reconnect_at_.reset();
    if (ConnectAgain() == 0) {
        ScheduleReconnect();
    }
}
