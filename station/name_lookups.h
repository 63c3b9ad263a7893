// Host names looked up away from the station's thread.
//
// A look-up can take seconds (a resolver that does not answer costs its whole time-out), and
// the station's thread keys, echoes and keeps the window alive, so it never waits for one. It
// hands the names to the one worker thread this object owns and goes on; the worker looks
// them up one after another and leaves the answers, which the station's thread takes when its
// timer next ticks. Asked again before it is done, the worker finishes the names in hand and
// then takes the newer ones. The worker starts at the first request (a station that names no
// host never has one) and is joined when the object goes, after the look-up in hand.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/net_address.h"

class NameLookups {
  public:
    // A name's addresses; none when it does not resolve. Called on the worker alone.
    using Resolve = std::function<std::vector<NetAddress>(const std::string& name)>;
    // Each name looked up, with its addresses (none: it did not resolve).
    using Answers = std::map<std::string, std::vector<NetAddress>>;

    explicit NameLookups(Resolve resolve);
    ~NameLookups();
    NameLookups(const NameLookups&) = delete;
    NameLookups& operator=(const NameLookups&) = delete;

    // Replaces the names that wait to be looked up.
    void LookUp(std::vector<std::string> names);
    // The answers that came since the last call, if any came.
    std::optional<Answers> TakeAnswers();

  private:
    void Run();

    const Resolve resolve_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<std::vector<std::string>> waiting_;
    std::optional<Answers> answers_;
    bool stopping_ = false;
    std::thread worker_;
};
