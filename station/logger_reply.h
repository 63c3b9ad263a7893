// The logger's "reply when done": a text the logger asks to have sent back once everything
// it sends after the request has been keyed, so that it knows when its message has gone out.
// Keyed means echoed: by the far keyer when linked, by the local keyer otherwise. Pure: the
// station tells it what was handed on and what echoed, and sends what it gives back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/net_address.h"

struct LoggerReplyTo {
    std::string datagram;
    NetAddress address;
    uint16_t port = 0;
};

class LoggerReply {
  public:
    // A reply asked for, while `in_flight` characters handed on before it have not echoed
    // yet; one asked for before replaces it. It waits for at least one character after it,
    // so that a tick between the request and the logger's text does not answer too soon.
    void Ask(const std::string& text, const NetAddress& address, uint16_t port, uint32_t in_flight);
    // One more character handed on, with `in_flight` not echoed yet, itself among them.
    void HandedOn(uint32_t in_flight);
    // `count` more echoes came back.
    void Echoed(uint32_t count);
    // The reply, once everything handed on after the request has echoed.
    std::optional<LoggerReplyTo> TakeIfKeyed();
    // The reply now, keyed or not: its text was aborted or will never be keyed.
    std::optional<LoggerReplyTo> TakeNow();
    void Forget() { reply_.reset(); }
    bool IsWaiting() const { return reply_.has_value(); }

  private:
    std::optional<LoggerReplyTo> reply_;
    uint32_t owed_ = 0;
    bool handed_on_after_ = false;
};
