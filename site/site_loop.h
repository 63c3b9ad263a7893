// The site's life: the station opened at start, as a site has no Open button, and the service
// manager told that it is on the air; then the loop that plays the Main window's part (the socket
// events of `sockets`, the heartbeat timer and the link timer at the period the station asks for),
// until a stop is asked for; then the station closes as Close would (the keyer released and out of
// host mode, the link closed) and exits.
//
// The loop runs on the calling thread, which is the station's window thread. Between events
// it sleeps until the next timer is due; it looks at `stop_requested` after each wake, so a
// thread that asks for a stop wakes the loop (SocketLoop::Wake) for it to take effect at
// once. Each pass tells the manager's watchdog that the loop still runs.
#pragma once

#include <functional>
#include <string>

#include "net/socket_api.h"
#include "site/service_notifier.h"
#include "station/station.h"

// The exit status of a site that cannot work as configured, which no restart mends: the
// service manager shows it as "not configured".
constexpr int kSiteNotConfigured = 6;

// Why a site cannot work on the configuration file at `config_path`, in one line, found
// without writing a byte: the file is missing, unreadable or holds no record, or its record
// says Network Off or has the keyer's port switched off. Empty when nothing stands in the way.
std::string WhySiteCannotWork(const std::string& config_path);

// 0 once stopped, 1 when the station could not open (the Connect log says why; nothing is
// left held). A keyer device named but missing or not answering is no failure: the station
// runs on and tries it again. `station` has been made on `sockets` and not started.
int RunSite(Station& station, SocketLoop& sockets, const std::function<bool()>& stop_requested,
            ServiceNotifier& service);
