// Paddles across the link with their own times. A change of the operator's paddles is
// stamped with the link's clock as the keyer's reader takes it, and so is each heartbeat; the
// station at the other end plays the changes out on its own clock a steady delay later
// (net/paddle_playout.h) and says in each heartbeat's answer what that delay is, which this
// station's link field shows. A peer that knows only the plain packets ignores the stamps,
// and sends none: its changes are applied as they come, as they always were.
#include <chrono>
#include <string>

#include "keyer/keyer_link.h"
#include "net/timed_packets.h"
#include "station/station.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kLatePaddlesTold = std::chrono::minutes(1);

}  // namespace

uint32_t Station::LinkMilliseconds(Clock::time_point now) const {
    const Clock::duration since = now - Clock::time_point(Clock::duration(link_began_.load()));
    // Wraps after 49 days, which the other station expects.
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

// On the keyer reader's thread.
void Station::SendPaddleCode(uint8_t code) {
    const uint32_t time_ms = LinkMilliseconds(Clock::now());
    net_.Send(TimedPaddlePacket(code, {time_ms, paddle_sequence_.fetch_add(1)}));
}

void Station::SendHeartbeat() {
    const uint8_t count = state_.heartbeat_count.load();
    const Clock::time_point now = Clock::now();
    net_.Send(TimedHeartbeatPacket(count, LinkMilliseconds(now)));
    round_trips_.HeartbeatSent(count, now);
}

void Station::AnswerHeartbeat(const Packet& packet) {
    const std::optional<uint32_t> stamp = ReadHeartbeatTime(packet);
    if (!stamp) {
        net_.SendPacket(PKT_HEARTBEAT_REPLY, PacketValue(packet), 0, nullptr);
        return;
    }
    paddle_playout_.NoteStamp(*stamp, Clock::now());
    net_.Send(HeartbeatReplyWithDelay(PacketValue(packet),
                                      static_cast<uint16_t>(paddle_playout_.Delay().count())));
}

void Station::TakePaddleDelay(const Packet& packet) {
    if (const std::optional<uint16_t> delay = ReadPaddleDelay(packet)) {
        far_paddle_delay_ms_ = *delay;
    }
}

// After the keying limits have taken the change.
void Station::PlayPaddleFromLink(const Packet& packet) {
    const uint8_t code = PacketValue(packet);
    const std::optional<TimedPaddle> timed = ReadTimedPaddle(packet);
    if (!timed) {
        keyer_.SetPaddleInput(code);
        return;
    }
    const Clock::time_point now = Clock::now();
    const PaddlePlayout::Placed placed =
        paddle_playout_.Place(code, timed->time_ms, timed->sequence, now);
    if (placed.late) {
        if (late_paddles_ == 0) {
            late_paddles_since_ = now;
        }
        ++late_paddles_;
    }
    // More changes waiting than a fist makes in a delay's time: this one goes at once.
    if (keyer_.SetPaddleInputAt(code, placed.at) == kKeyerQueueFull) {
        keyer_.SetPaddleInput(code);
    }
}

void Station::TellLatePaddles() {
    if (late_paddles_ == 0 || Clock::now() - *late_paddles_since_ < kLatePaddlesTold) {
        return;
    }
    Log("\r\n" + std::to_string(late_paddles_) +
        (late_paddles_ == 1 ? " paddle change" : " paddle changes") + " came after the " +
        std::to_string(paddle_playout_.Delay().count()) +
        " ms paddle delay in the last minute and went out at once.");
    late_paddles_ = 0;
    late_paddles_since_.reset();
}
