// The keying budget played on its own clock: a peer's presses, and the station's checks on
// every tick of the link's watch.
#include "station/keying_budget.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace {

using namespace std::chrono_literals;
using Clock = KeyingBudget::Clock;
using Verdict = KeyingBudget::Verdict;

constexpr auto kStep = 10ms;
constexpr auto kTick = 500ms;

struct Peer {
    const char* what;
    std::chrono::seconds allowance;
    std::chrono::milliseconds hold;  // each press, unless a check lets go first
    std::chrono::milliseconds gap;   // before the next press, which the peer then tries again
    std::chrono::seconds most_down;  // in any minute, within the last second
};

class KeyingBudgetPlay : public ::testing::TestWithParam<Peer> {};

TEST_P(KeyingBudgetPlay, KeysAtMostTheAllowanceInAnyMinute) {
    const Peer peer = GetParam();
    SCOPED_TRACE(peer.what);
    KeyingBudget budget(kTick * 3 / 2);
    budget.SetAllowance(peer.allowance);
    std::vector<int> down_steps;
    bool down = false;
    auto changed = Clock::time_point{};
    for (auto t = 0ms; t < 2min; t += kStep) {
        const Clock::time_point now = Clock::time_point{} + t;
        if (t % kTick == 0ms && budget.Check(now) != Verdict::kWithin) {
            down = false;
            changed = now;
        }
        if (down && now - changed >= peer.hold) {
            budget.Note(down = false, changed = now);
        } else if (!down && now - changed >= peer.gap && budget.HasRoom(now)) {
            budget.Note(down = true, changed = now);
        }
        down_steps.push_back(down ? 1 : 0);
    }
    const std::size_t minute = 1min / kStep;
    ASSERT_GE(down_steps.size(), minute);
    int in_window = std::count(down_steps.begin(), down_steps.begin() + minute, 1);
    int most = in_window;
    for (std::size_t end = minute; end < down_steps.size(); ++end) {
        in_window += down_steps[end] - down_steps[end - minute];
        most = std::max(most, in_window);
    }
    EXPECT_LE(most * kStep, peer.most_down);
    EXPECT_GT(most * kStep, peer.most_down - 1s);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, KeyingBudgetPlay,
    ::testing::Values(Peer{"Tune toggled just under its limit", 30s, 29900ms, 100ms, 30s},
                      Peer{"paddles pressed again and again", 30s, 950ms, 50ms, 30s},
                      Peer{"keying within the budget", 30s, 200ms, 400ms, 20s},
                      Peer{"no budget", 0s, 29900ms, 100ms, 60s}));

TEST(KeyingBudget, ThreeTripsWithinTenMinutesEndTheLink) {
    for (const auto& [apart, ends] : {std::pair{240s, true}, std::pair{330s, false}}) {
        KeyingBudget budget(kTick);
        budget.SetAllowance(2s);
        std::vector<Verdict> verdicts;
        for (int trip = 0; trip < 3; ++trip) {
            const Clock::time_point press = Clock::time_point{} + trip * apart;
            budget.Note(true, press);
            verdicts.push_back(budget.Check(press + 2s));
        }
        EXPECT_EQ(verdicts,
                  (std::vector<Verdict>{Verdict::kTripped, Verdict::kTripped,
                                        ends ? Verdict::kTrippedTooOften : Verdict::kTripped}));
    }
}

}  // namespace
