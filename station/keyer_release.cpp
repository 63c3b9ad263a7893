// The one rule behind every end of a link and every lost keyer: nothing is left keyed,
// pressed, paused or waiting to be sent, and what the operator sees says so. Keyer requests
// made here do nothing when no keyer is attached.
#include <string>

#include "keyer/keyer_link.h"
#include "messages/message_sender.h"
#include "station/station.h"

void Station::ReleaseKeyerControl() {
    SendLoggerReplyNow();
    sender_.Stop();
    typed_ahead_.clear();
    // Whatever the other station last said about its keyer says nothing about the next link.
    state_.remote_busy = 0;
    receive_backlog_.Drop();
    keyer_.ClearBuffer();
    // A `[P]` from a stored message or the link would otherwise hold the transmitter on.
    keyer_.EndPtt();
    keyer_.Release();
    ForgetKeyingFromLink();
    keyer_.SetPause(0);
    state_.tune_on = 0;
    state_.pause_on = 0;
    view_.ShowTune(false);
    view_.ShowPause(false);
}

void Station::LogRelease(const char* cause) {
    if (state_.local_keyer_open.load() == 1) {
        log_.AppendToFileOnly(std::string("Keyer released: ") + cause + ".");
    }
}
