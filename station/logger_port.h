// What the station keeps for the logger port: a logging or contest program's requests over
// UDP (net/logger_request.h), carried out as the operator's own commands
// (station/logger_port.cpp). The window's thread's alone.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "net/logger_socket.h"
#include "net/net_address.h"
#include "net/socket_api.h"
#include "station/logger_reply.h"

struct LoggerPortState {
    explicit LoggerPortState(SocketLoop& sockets) : socket(sockets) {}

    LoggerSocket socket;
    // Where it listens, as the .ini last said; a port of 0 is no logger port.
    NetAddress address = NetAddress::Ipv4(0x7F000001);
    uint16_t port = 0;
    LoggerReply reply;
    // Characters handed on for keying whose echo has not come back.
    uint32_t in_flight = 0;
    // When a tune the logger asked for ends.
    std::optional<std::chrono::steady_clock::time_point> tune_ends;
    // The speed the Main window showed at start, which a reset goes back to.
    uint8_t speed_at_start = 0;
    // The kinds of mistake already told in the Connect log.
    std::set<std::string> told;
};
