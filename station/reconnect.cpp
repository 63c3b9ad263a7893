// A home station comes back by itself: a Net Client whose link ended other than by Close or
// Exit (the server closed or fell silent, the stream broke, the connect failed) tries its
// server again after a wait, until it is linked or the operator closes. The keyer stays
// attached meanwhile, released as at every end of a link, so only the network stage is tried
// again. A Net Server needs none of this, since it goes on listening; and a RemoteSide never
// goes looking for someone to key its transmitter: it links again when its operator opens it.
#include <chrono>
#include <string>

#include "settings/settings_record.h"
#include "station/station.h"

bool Station::Reconnects() const {
    return reconnect_enabled_ && settings_.NetMode() == kNetModeClient &&
           settings_.NetRole() != kNetRoleRemoteSide;
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
