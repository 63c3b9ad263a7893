// Which refusals reach the Connect log. Every refused client used to write a line, so a
// stranger knocking thousands of times a second rotated the night's account out of the log
// file; now each address is told of in full for its first few refusals in a minute, and
// after that by one count a minute.
//
// Memory is bounded whatever the flood: at most kTrackedAddresses addresses are followed
// one by one. A refusal from any further address, while the table is full, is only counted
// towards one line for all of them ("from other addresses"), and nothing of its own is told;
// an address's row goes once a minute has passed with nothing left to tell of it.
//
// Time is given, never read, so that the rules are tested without waiting. The window's
// thread alone calls it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "net/net_address.h"

class RefusalLog {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kPeriod{60};
    static constexpr int kToldPerPeriod = 5;
    static constexpr std::size_t kTrackedAddresses = 1024;

    // A refusal of `address` whose Connect log line is `line`: the line,
    // when it is to be written; nothing when it is only counted.
    std::optional<std::string> Refused(const NetAddress& address, const std::string& line,
                                       Clock::time_point now);
    // The count lines of every address whose minute is over and which was refused more
    // often than was told.
    std::vector<std::string> Summaries(Clock::time_point now);

  private:
    struct Minute {
        Clock::time_point start;
        int told = 0;
        uint64_t untold = 0;
    };
    std::map<NetAddress, Minute> addresses_;
    // Refusals from addresses that found the table full.
    std::optional<Minute> others_;
};

// "2,140": a count as the log writes it, thousands apart.
std::string WithThousands(uint64_t count);
