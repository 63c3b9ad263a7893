// The packets both stations exchange, as the station acts on them: sending one on the data
// socket of the role, dispatching one that arrived, the busy test that paces typed and
// stored text, and the loading (and, on a ControlPoint, the sending) of the settings block.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/packet.h"

// Received packets whose marker byte was not PKT_MARKER.
extern std::atomic<int32_t> bad_packet_count;

// Builds the packet and puts its 20 bytes on the data socket of the role, whole or not at
// all; callable from any thread. `payload` is exactly 15 bytes, or null.
void SendPacket(uint8_t type, uint8_t value, uint8_t second_value, const uint8_t* payload);
// A PKT_TEXT_CHAR for each of `count` bytes (1 to kMaxTextPackets), all in one write: a
// packet sent meanwhile from another thread (a Clear) goes before them all or after them
// all, never between a buffered command and its argument.
constexpr int kMaxTextPackets = 3;
void SendTextPackets(const uint8_t* bytes, int count);
// One received packet, on the Main window's thread.
void processIPpacket(const Packet& packet);
// After the local keyer was lost while linked: a Net Server, the station that answers the
// version request, sends the answer again unasked, so the other station's remote keyer field
// reads "Remote Tarvel Ver:255", no keyer. A client was never asked, and sends nothing.
void RetellKeyerVersion();
// One character that a keyer sent, shown at the echo line's caret (replacing its
// selection): from the local keyer by its event dispatcher, from the other station's by
// its echo packet.
void InsertEchoCharacter(uint8_t character);
// remote_busy while linked; otherwise the local keyer's nearly-full flag (nonzero, -9,
// when no keyer is attached: a station with neither counts as busy).
int IsLinkBusy();
// Loads the Settings record's keyer block into the local keyer, adjusted for the role while
// linked, and on a ControlPoint sends the other side its copy; the record is left as it was.
void ApplyKeyerSettings();
