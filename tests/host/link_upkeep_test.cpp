// The client's waits between tries at its server, and the heartbeat's round trip with its
// rule for a silent link.
#include <gtest/gtest.h>

#include <chrono>

#include "net/reconnect_schedule.h"
#include "net/round_trip_meter.h"

namespace {

using namespace std::chrono_literals;

TEST(ReconnectSchedule, WaitsLongerEachTimeUpToAMinuteAndAfreshOnceRestarted) {
    ReconnectSchedule schedule(kReconnectWaits);
    for (const auto wait : {5s, 10s, 20s, 60s, 60s}) {
        EXPECT_EQ(schedule.NextWait(), wait);
    }
    schedule.Restart();
    EXPECT_EQ(schedule.NextWait(), 5s);
}

// Heartbeats 2 s apart, each answered after `trips` ms (-1: never) and read 1 s after it went.
TEST(RoundTripMeter, TellsTheMedianOfTheLastFiveAndNothingOnceTwoPeriodsPassUnanswered) {
    const int trips[] = {-1, 40, 10, 70, 20, 90, 30, -1, -1, 50};
    const int shown[] = {-1, 40, 25, 40, 30, 40, 30, 30, -1, 50};
    RoundTripMeter meter;
    const RoundTripMeter::Clock::time_point start{};
    for (int beat = 0; beat < 10; ++beat) {
        const auto sent = start + beat * 2s;
        meter.HeartbeatSent(static_cast<uint8_t>(254 + beat), sent);
        if (trips[beat] >= 0) {
            meter.AnswerHeard(static_cast<uint8_t>(254 + beat), sent + trips[beat] * 1ms);
        }
        EXPECT_EQ(meter.RoundTrip(sent + 1s).value_or(-1ms).count(), shown[beat]) << beat;
    }
    // A new link forgets the old one; an answer later than the next heartbeat finds its own.
    meter.Restart();
    meter.HeartbeatSent(1, start + 20s);
    meter.HeartbeatSent(2, start + 22s);
    meter.AnswerHeard(1, start + 22500ms);
    EXPECT_EQ(meter.RoundTrip(start + 23s), 2500ms);
}

}  // namespace
