// The site's life: the station opened at start, as a site has no Open button, then the loop
// that plays the Main window's part (the socket events, the heartbeat timer and the link
// timer at the period the station asks for), until a stop is asked for; then the station
// closes as Close would (the keyer released and out of host mode, the link closed) and exits.
//
// The loop runs on the calling thread, which is the station's window thread. It looks at
// `stop_requested` at least every 50 ms (the socket wait's longest slice), so a stop takes
// effect well within a second.
#pragma once

#include <functional>

#include "station/station.h"

// 0 once stopped, 1 when the station could not open (the Connect log says why; nothing is
// left held). `station` has been made and not started.
int RunSite(Station& station, const std::function<bool()>& stop_requested);
