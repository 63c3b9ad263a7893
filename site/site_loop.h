// The site's life: the station opened at start, as a site has no Open button, then the loop
// that plays the Main window's part (the socket events of `sockets`, the heartbeat timer and
// the link timer at the period the station asks for), until a stop is asked for; then the
// station closes as Close would (the keyer released and out of host mode, the link closed)
// and exits.
//
// The loop runs on the calling thread, which is the station's window thread. Between events
// it sleeps until the next timer is due; it looks at `stop_requested` after each wake, so a
// thread that asks for a stop wakes the loop (SocketLoop::Wake) for it to take effect at
// once.
#pragma once

#include <functional>

#include "net/socket_api.h"
#include "station/station.h"

// 0 once stopped, 1 when the station could not open (the Connect log says why; nothing is
// left held). A keyer device named but missing or not answering is no failure: the station
// runs on and tries it again. `station` has been made on `sockets` and not started.
int RunSite(Station& station, SocketLoop& sockets, const std::function<bool()>& stop_requested);
