// The site's word to the service manager that started it, in the manager's notify datagram:
// "READY=1" once the site is on the air, and "WATCHDOG=1" from each pass of its loop, so that
// a loop that hangs is seen and the site restarted. The datagram goes to the Unix socket the
// manager names in $NOTIFY_SOCKET (a name beginning with '@' lives in the abstract namespace);
// a site started otherwise is given none, and tells nothing. A datagram that cannot go is
// let go: the manager's word is what counts, and a site must not stop for want of it.
//
// The site's main thread alone calls it.
#pragma once

#include <chrono>
#include <string>

class ServiceNotifier {
  public:
    // `socket_name` is where the datagrams go (empty: nowhere); the watchdog wants a word
    // every `watchdog_period` (zero: it does not watch).
    ServiceNotifier(const std::string& socket_name, std::chrono::microseconds watchdog_period);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    void Ready();
    // The loop still runs: tells the watchdog, at most twice in each of its periods.
    void Alive();

  private:
    void Send(const std::string& state);

    const std::string socket_name_;
    const std::chrono::microseconds watchdog_period_;
    int socket_ = -1;
    std::chrono::steady_clock::time_point next_watchdog_word_;
};

// Where the service manager that started this process wants its datagrams, and how often its
// watchdog wants a word, as its environment says; nowhere and never when it says nothing, or
// names another process for the watchdog.
std::string NotifySocketFromEnvironment();
std::chrono::microseconds WatchdogPeriodFromEnvironment();
