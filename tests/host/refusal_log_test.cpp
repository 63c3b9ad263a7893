#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "station/refusal_log.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

constexpr uint32_t kStranger = 0xCB007107;  // 203.0.113.7
const RefusalLog::Clock::time_point kStart{};

// Refusals of `address` at `at`, `count` times; the lines told.
int ToldOf(RefusalLog& log, uint32_t address, RefusalLog::Clock::time_point at, int count) {
    int told = 0;
    for (int i = 0; i < count; ++i) {
        told += log.Refused(NetAddress::Ipv4(address), "refused " + std::to_string(address), at)
                    .has_value();
    }
    return told;
}

TEST(RefusalLog, FiveAMinuteAreToldAndTheRestCountedOnceTheMinuteIsOver) {
    struct Case {
        int refusals;
        Lines summaries;
    };
    const Case cases[] = {
        {5, {}},
        {6, {"Refused 1 more connection from 203.0.113.7 in the last minute."}},
        {2145, {"Refused 2,140 more connections from 203.0.113.7 in the last minute."}},
    };
    for (const Case& c : cases) {
        RefusalLog log;
        EXPECT_EQ(log.Refused(NetAddress::Ipv4(kStranger), "the line", kStart), "the line");
        EXPECT_EQ(ToldOf(log, kStranger, kStart + 10s, c.refusals - 1), 4) << c.refusals;
        EXPECT_EQ(log.Summaries(kStart + 59s), Lines{}) << "not before the minute is over";
        EXPECT_EQ(log.Summaries(kStart + 60s), c.summaries) << c.refusals;
        EXPECT_EQ(log.Summaries(kStart + 200s), Lines{}) << "told once";
        EXPECT_EQ(ToldOf(log, kStranger, kStart + 61s, 6), 5) << "a new minute tells again";
    }
}

TEST(RefusalLog, CountsAreWrittenWithThousandsApart) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {2140, "2,140"}, {1234567, "1,234,567"}};
    for (const auto& [count, text] : cases) {
        EXPECT_EQ(WithThousands(count), text);
    }
}

// A flood from many addresses follows only so many of them; the rest are one count.
TEST(RefusalLog, AddressesBeyondTheTableAreCountedTogether) {
    RefusalLog log;
    const uint32_t first = 0x0A000000;
    const auto beyond = static_cast<uint32_t>(RefusalLog::kTrackedAddresses);
    for (uint32_t address = first; address < first + beyond; ++address) {
        ASSERT_EQ(ToldOf(log, address, kStart, 1), 1);
    }
    for (uint32_t address = first + beyond; address < first + beyond + 1500; ++address) {
        ASSERT_EQ(ToldOf(log, address, kStart + 1s, 2), 0);
    }
    EXPECT_EQ(ToldOf(log, first, kStart + 2s, 1), 1) << "a followed address goes on";
    EXPECT_EQ(log.Summaries(kStart + 60s), Lines{});
    EXPECT_EQ(log.Summaries(kStart + 61s),
              Lines{"Refused 3,000 more connections from other addresses in the last minute."});
    EXPECT_EQ(ToldOf(log, first + beyond, kStart + 62s, 1), 1) << "the table has room again";
}

}  // namespace
