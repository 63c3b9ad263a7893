// The link's text on its way to the keyer's queue, watched for the PTT that its buffered
// commands switch. The keyer carries a PTT command out only when its turn in the buffer comes,
// which nobody here sees; so PTT counts as on from the moment its command is queued, which is
// never later than the keyer switches it. The backlog hands on whole commands, so a PTT
// command and its argument always arrive here together.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "station/receive_backlog.h"

class PttWatchingQueue final : public TransmitQueue {
  public:
    // `may_switch_on` is asked before a PTT-on goes to `queue`: one it refuses is dropped, as
    // if taken. `switched` hears of each PTT command `queue` took.
    PttWatchingQueue(TransmitQueue& queue, std::function<bool()> may_switch_on,
                     std::function<void(bool on)> switched)
        : queue_(queue), may_switch_on_(std::move(may_switch_on)), switched_(std::move(switched)) {}

    bool Queue(const uint8_t* bytes, int count) override;
    bool IsNearlyFull() override { return queue_.IsNearlyFull(); }

  private:
    TransmitQueue& queue_;
    const std::function<bool()> may_switch_on_;
    const std::function<void(bool)> switched_;
};
