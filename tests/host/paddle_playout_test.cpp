// The far paddles' playout on this station's clock: the mapping from the earliest arrivals,
// the delay sized to the jitter and moved only while the paddles are up, late and repeated
// changes, and the timed packets' bytes.
#include <chrono>
#include <cstdint>
#include <vector>

#include "gtest/gtest.h"
#include "net/paddle_playout.h"
#include "net/timed_packets.h"

namespace {

using namespace std::chrono_literals;
using Clock = PaddlePlayout::Clock;

// The other station's clock starts at `epoch`; each stamp travels `path` plus its jitter.
class PaddlePlayoutTest : public ::testing::Test {
  protected:
    Clock::time_point Arrival(uint32_t stamp_ms, std::chrono::microseconds jitter) const {
        return epoch_ + std::chrono::milliseconds(stamp_ms) + path_ + jitter;
    }
    // Heartbeats 100 ms apart from `first_ms`, their jitter from `jitters` in turn.
    uint32_t Heartbeats(uint32_t first_ms, int count, const std::vector<int>& jitters_ms) {
        uint32_t stamp = first_ms;
        for (int i = 0; i < count; ++i, stamp += 100) {
            playout_.NoteStamp(
                stamp,
                Arrival(stamp, std::chrono::milliseconds(jitters_ms[i % jitters_ms.size()])));
        }
        return stamp;
    }
    PaddlePlayout::Placed Place(uint8_t code, uint32_t stamp_ms, std::chrono::microseconds jitter) {
        return playout_.Place(code, stamp_ms, sequence_++, Arrival(stamp_ms, jitter));
    }
    // Where a change stamped `stamp_ms` plays with `delay` over the quickest path.
    Clock::time_point Due(uint32_t stamp_ms, std::chrono::milliseconds delay) const {
        return Arrival(stamp_ms, 0us) + delay;
    }

    const Clock::time_point epoch_ = Clock::now();
    const std::chrono::milliseconds path_{57};
    PaddlePlayout playout_;
    uint16_t sequence_ = 0;
};

TEST_F(PaddlePlayoutTest, MapsFromTheQuickestArrivalAndCoversTheJittersNinetyNinthPercentile) {
    // 200 stamps, one in a hundred 90 ms late and the rest within 0..30 ms: the delay covers
    // the 99th percentile, so the two slowest are left out.
    std::vector<int> jitters;
    for (int i = 0; i < 100; ++i) {
        jitters.push_back(i == 50 ? 90 : i % 31);
    }
    uint32_t stamp = Heartbeats(0, 200, jitters);
    EXPECT_EQ(playout_.Delay(), 30ms);
    // A dit: press and release 40 ms apart, played exactly 40 ms apart, each 30 ms after the
    // quickest path would have brought it, whatever jitter each met.
    const PaddlePlayout::Placed press = Place(2, stamp, 12ms);
    const PaddlePlayout::Placed release = Place(0, stamp + 40, 25ms);
    EXPECT_EQ(press.at, Due(stamp, 30ms));
    EXPECT_EQ(release.at - press.at, 40ms);
    EXPECT_FALSE(press.late || release.late);
}

TEST_F(PaddlePlayoutTest, TheDelayMovesOnlyWhileThePaddlesAreUp) {
    uint32_t stamp = Heartbeats(0, 100, {0, 10});
    ASSERT_EQ(playout_.Delay(), 10ms);
    const PaddlePlayout::Placed press = Place(1, stamp, 0ms);
    // The path worsens while the paddle is down: the element keeps its length.
    stamp = Heartbeats(stamp + 10, 150, {0, 60});
    EXPECT_EQ(playout_.Delay(), 10ms);
    const PaddlePlayout::Placed release = Place(0, stamp, 5ms);
    EXPECT_EQ(release.at - press.at, 15010ms);
    EXPECT_EQ(release.at, Due(stamp, 10ms));
    // Up, and the release applied: the next stamp moves it.
    playout_.NoteStamp(stamp + 100, Arrival(stamp + 100, 0us));
    EXPECT_EQ(playout_.Delay(), 60ms);
    EXPECT_EQ(Place(2, stamp + 200, 0ms).at, Due(stamp + 200, 60ms));
}

TEST_F(PaddlePlayoutTest, LateRepeatedAndUnsizedChangesGoAtOnce) {
    uint32_t stamp = Heartbeats(0, 100, {0, 5});
    // Later than its time: at once, and counted late.
    const Clock::time_point late_arrival = Arrival(stamp, 40ms);
    PaddlePlayout::Placed placed = playout_.Place(2, stamp, 7, late_arrival);
    EXPECT_EQ(placed.at, late_arrival);
    EXPECT_TRUE(placed.late);
    // A sequence number that is not newer: at once, not late.
    placed = playout_.Place(0, stamp + 40, 7, Arrival(stamp + 40, 0us));
    EXPECT_EQ(placed.at, Arrival(stamp + 40, 0us));
    EXPECT_FALSE(placed.late);
    // A delay fixed at 0: each change as it comes, however early.
    playout_.SetFixedDelay(0ms);
    placed = playout_.Place(2, stamp + 100, 8, Arrival(stamp + 100, 3ms));
    EXPECT_EQ(placed.at, Arrival(stamp + 100, 3ms));
    EXPECT_FALSE(placed.late);
    // Fixed at 20, on a new link: 20 ms over the quickest path, whatever the jitter.
    playout_.SetFixedDelay(20ms);
    playout_.Restart();
    stamp = Heartbeats(0, 10, {0, 35});
    EXPECT_EQ(Place(2, stamp, 0us).at, Due(stamp, 20ms));
    EXPECT_EQ(playout_.Delay(), 20ms);
}

TEST_F(PaddlePlayoutTest, StampsRunOnAcrossTheirWrap) {
    const uint32_t before_wrap = 0xFFFFFFFFu - 50;
    playout_.NoteStamp(before_wrap, Arrival(before_wrap, 0us));
    playout_.NoteStamp(before_wrap + 20, Arrival(before_wrap + 20, 20ms));
    // 100 ms on, past the wrap: on time, 100 ms on and the 20 ms delay behind.
    const PaddlePlayout::Placed placed =
        playout_.Place(1, before_wrap + 100, 0, Arrival(before_wrap, 0us) + 100ms);
    EXPECT_FALSE(placed.late);
    EXPECT_EQ(placed.at, Arrival(before_wrap, 0us) + 120ms);
}

TEST(TimedPackets, CarryTheirTimesInTheBytesThePlainPacketsLeaveAtZero) {
    struct Row {
        Packet packet;
        uint8_t bytes[kPacketSize];
    };
    const Row rows[] = {
        {TimedPaddlePacket(2, {0x01020304, 0xA0B0}),
         {0xA5, 0x38, 2, 'T', 1, 2, 3, 4, 0xA0, 0xB0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {TimedHeartbeatPacket(7, 0xFFFFFFFE),
         {0xA5, 0x26, 7, 'T', 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {HeartbeatReplyWithDelay(9, 250),
         {0xA5, 0x37, 9, 'T', 0, 250, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(std::vector<uint8_t>(row.packet.bytes, row.packet.bytes + kPacketSize),
                  std::vector<uint8_t>(row.bytes, row.bytes + kPacketSize));
    }
    EXPECT_EQ(ReadTimedPaddle(rows[0].packet)->time_ms, 0x01020304u);
    EXPECT_EQ(ReadTimedPaddle(rows[0].packet)->sequence, 0xA0B0);
    EXPECT_EQ(ReadHeartbeatTime(rows[1].packet), 0xFFFFFFFEu);
    EXPECT_EQ(ReadPaddleDelay(rows[2].packet), 250);
    // The plain packets, and a mark on another type, carry nothing.
    EXPECT_FALSE(ReadTimedPaddle(BuildPacket(PKT_PADDLE, 2)));
    EXPECT_FALSE(ReadHeartbeatTime(BuildPacket(PKT_HEARTBEAT, 7)));
    EXPECT_FALSE(ReadPaddleDelay(BuildPacket(PKT_HEARTBEAT_REPLY, 9)));
    EXPECT_FALSE(ReadTimedPaddle(rows[1].packet));
}

}  // namespace
