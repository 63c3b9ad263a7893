// Text from the other station on its way to the local keyer, and the hold this station
// reports back while that text waits.
//
// The link brings text far faster than a keyer sends it, and the sender learns that this
// keyer is holding only one link delay after it began to. Put straight into the 64-byte
// transmit queue, what the queue could not take would be lost, and a buffered command could
// lose its argument to the refusal so that the next character took its place. So what the
// queue cannot take yet waits here, in arrival order, and moves on as the queue drains, a
// buffered command always together with its arguments. While text waits here for room in the
// queue, or the queue is above its high-water mark, the status this station sends upstream carries
// hold on top of its keyer's own bits: the other station's busy test then paces its sender with no
// change to the packets.
//
// The backlog is the Main window's thread's alone: packets arrive there, and its link timer
// moves the waiting text on. The status report is shared with the keyer reader thread, which
// sends the keyer's own status; one lock makes the last report sent always the latest state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class KeyerLink;

// Generous: text a sender pours out before the first hold report reaches it, even over a
// slow link, and a good deal more.
constexpr std::size_t kReceiveBacklogSize = 4096;

// A PKT_TEXT_CHAR's byte, for the local keyer. A byte below the buffered commands is one the
// keyer would take as an immediate command, not text, and is dropped: from the transmit
// queue it could key the transmitter (0B) or end host mode (00 03). True when this byte
// found the backlog full and so began a spell of lost text, which the caller tells the
// operator of once.
bool ReceiveTextByte(uint8_t byte, KeyerLink& keyer);
// PKT_BACKSPACE: takes back the newest byte still waiting here; false when none waits, so
// the keyer's own queue takes one back instead.
bool TakeBackReceivedByte(KeyerLink& keyer);
// PKT_CLEAR and the end of a link: whatever waits here is gone at once.
void DropReceiveBacklog();
// On the link timer: moves on what the queue can take now and reports a change of hold.
void FeedKeyerFromBacklog(KeyerLink& keyer);
// Text waits here, or hold is reported until the queue drains: the link timer has work.
bool ReceiveBacklogWantsFeeding();
std::size_t ReceiveBacklogCount();
// For tests: what waits, oldest first.
std::vector<uint8_t> ReceiveBacklogBytes();

// The keyer's own status bits, sent upstream with this station's hold on top. Called by
// the keyer event dispatcher while linked, in the roles that report their keyer's status.
void ReportKeyerStatus(uint8_t status);
// A new link: no hold has been reported on it.
void ForgetReportedHold();
