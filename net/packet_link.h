// Packets from the data socket: the body of the read notification, and what it delivers is
// what the receive dispatcher gets.
#pragma once

#include <functional>

#include "net/packet.h"
#include "net/socket_api.h"

// One read notification: one read of at most one packet's worth of bytes, and each packet
// that this completes handed to `deliver`, oldest first. Reading no more than a packet per
// notification keeps one notification to one packet, as the stream was designed for; the
// platform raises another notification while bytes remain. Returns the read's result: the
// bytes read, 0 when the peer has closed (the caller resets the reassembler with the
// link), or kSocketError, which after a notification that found nothing left to read is
// kSocketErrorWouldBlock and harmless.
int ReadPacketsFrom(SocketLoop& sockets, SocketHandle socket, PacketReassembler* reassembler,
                    const std::function<void(const Packet&)>& deliver);
