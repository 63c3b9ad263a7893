// Text from the other station on its way to the local keyer.
//
// The link brings text far faster than a keyer sends it, and the sender learns that this
// keyer is holding only one link delay after it began to. Put straight into the 64-byte
// transmit queue, what the queue could not take would be lost, and a buffered command could
// lose its argument to the refusal so that the next character took its place. So what the
// queue cannot take yet waits here, in arrival order, and moves on as the queue drains, a
// buffered command always together with its arguments. While text waits here for room in the
// queue, or the queue is above its high-water mark, this station holds: its status relay
// (status_relay.h) reports hold upstream on top of its keyer's own status bits, and the other
// station's busy test then paces its sender with no change to the packets.
//
// The backlog is the window's thread's alone: packets arrive there, and its link timer
// moves the waiting text on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Where the backlog's text goes: the local keyer's transmit queue.
class TransmitQueue {
  public:
    // All `count` bytes in order; false, with none of them taken, only when the queue has no
    // room for them (with no keyer attached to queue them for, they count as gone).
    virtual bool Queue(const uint8_t* bytes, int count) = 0;
    // Above its high-water mark.
    virtual bool IsNearlyFull() = 0;

  protected:
    ~TransmitQueue() = default;
};

// Generous: text a sender pours out before the first hold report reaches it, even over a
// slow link, and a good deal more.
constexpr std::size_t kReceiveBacklogSize = 4096;

class ReceiveBacklog {
  public:
    // `decide_hold` hears, after each move onwards, whether this station holds.
    ReceiveBacklog(TransmitQueue& queue, std::function<void(bool hold)> decide_hold);

    // A PKT_TEXT_CHAR's byte, for the local keyer. A byte below the buffered commands is one
    // the keyer would take as an immediate command, not text, and is dropped: from the
    // transmit queue it could key the transmitter (0B) or end host mode (00 03). True when
    // this byte found the backlog full and so began a spell of lost text, which the caller
    // tells the operator of once.
    bool Receive(uint8_t byte);
    // PKT_BACKSPACE: takes back the newest byte still waiting here; false when none waits,
    // so the keyer's own queue takes one back instead.
    bool TakeBack();
    // PKT_CLEAR and the end of a link: whatever waits here is gone at once.
    void Drop();
    // On the link timer: moves on what the queue can take now.
    void Feed() { MoveOn(); }
    std::size_t Count() const { return count_; }
    // What waits, oldest first.
    std::vector<uint8_t> Bytes() const;

  private:
    uint8_t At(std::size_t index) const;
    void DropFront(std::size_t count);
    void MoveOn();
    std::size_t LastUnitStart() const;
    int ArgumentsDue() const;

    TransmitQueue& queue_;
    const std::function<void(bool)> decide_hold_;
    uint8_t ring_[kReceiveBacklogSize] = {};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    // Argument bytes the newest buffered command here still waits for: those pass whatever
    // their value (PTT off's argument is 00).
    int arguments_due_ = 0;
    // The arguments still to come of a command dropped for want of room go the same way.
    bool discarding_ = false;
    // Said once for each spell of overflow, not once for every byte lost.
    bool overflow_reported_ = false;
};
