// Whether the link is still there. TCP tells a station nothing when the other machine loses
// power or its line drops: no close ever arrives, and a server would turn every new client
// away for ever. So each station watches what arrives instead. The heartbeat makes a live
// link never quiet for long: a station that sends heartbeats hears their answers, and one
// that hears heartbeats hears them every period, so three periods without any packet at all
// mean the link is dead. A link on which neither happens (a peer that sends no heartbeat) is
// not ended for its quiet, but a new client may take it over once it has been quiet as long.
//
// A packet that went out only in part is the other way a link dies: the peer reads every
// later packet shifted by the missing bytes, and nothing in the stream can put it right.
//
// All of it runs on the Main window's thread, except NoteCutShortSend, which a packet's
// sender calls from whatever thread it runs on.
#pragma once

#include <chrono>

#include "net/link_timing.h"
#include "net/packet.h"
#include "net/socket_api.h"

constexpr std::chrono::milliseconds kLinkSilencePeriod{3 * kHeartbeatPeriod};

// Tests only: a shorter period, so that a dead link shows within a moment; zero restores
// kLinkSilencePeriod.
void SetLinkSilencePeriodForTest(std::chrono::milliseconds period);

// A link has come up: it counts as heard from now, with no heartbeat heard yet and its
// framing intact.
void StartLinkWatch();
// Every packet that arrives on the link, whatever it is.
void NoteLinkPacket(const Packet& packet);
// Something arrived within the period.
bool IsLinkHeardFrom();
// Nothing arrived for the period on a link that should never be that quiet: this station
// sends heartbeats, or has heard them.
bool IsLinkSilent(bool sends_heartbeats);

// A send on `socket` put part of a packet into the stream and no more.
void NoteCutShortSend(SocketHandle socket);
// The link on `socket` has lost its framing: nothing more may be sent on it.
bool IsFramingLost(SocketHandle socket);
