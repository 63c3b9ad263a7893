// What the fuzz targets share.
//
// A target runs millions of inputs in one process. Each input gets a fresh Station, and with
// it fresh settings, a fresh link and keyer link, so that a finding reproduces from its file
// alone.
//
// The keyer a target attaches is the station's link opened without a writer thread or a
// port: host mode counts as open, so every entry point takes its request, and queued bytes
// stay in the transmit queue until the target lets the keyer take them (TakeQueuedBytes), as
// a keyer that keys slowly would. Nothing in a target runs on another thread, so an input
// runs the same way every time.
//
// A broken invariant ends the run through FuzzCheck, which libFuzzer reports as a crash with
// the input that broke it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The input, read from the front; a byte past its end reads as 0.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ == size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to `count` bytes; how many there were.
    std::size_t Take(std::size_t count, const uint8_t** bytes);

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Prints `what` and aborts when `condition` is false.
void FuzzCheck(bool condition, const char* what);

#include "station/station.h"

// A station's parts, which only the fuzz targets reach.
class StationFuzzAccess {
  public:
    static KeyerLink& Keyer(Station& station) { return station.keyer_; }
    static NetLink& Net(Station& station) { return station.net_; }
    static MessageSender& Sender(Station& station) { return station.sender_; }
    static StationState& State(Station& station) { return station.state_; }
};

// Host mode as if `station` had opened it with a keyer of `version`, but with no writer and
// no port; the keyer's bytes go to `station`.
void OpenStalledKeyer(uint8_t version, Station& station);

// The bytes a keyer would have taken from the transmit queue, oldest first; the queue is
// left empty, as after the keyer has keyed them.
std::vector<uint8_t> TakeQueuedBytes(KeyerLink& keyer);
// The bytes waiting in the transmit queue, oldest first, without taking them; and how many.
std::vector<uint8_t> QueuedBytes(KeyerLink& keyer);
std::size_t QueuedCount(KeyerLink& keyer);
// The newest `count` bytes in the transmit queue are `bytes`.
bool QueueEndsWith(KeyerLink& keyer, const uint8_t* bytes, std::size_t count);
