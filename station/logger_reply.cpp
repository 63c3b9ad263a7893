#include "station/logger_reply.h"

#include <algorithm>
#include <utility>

void LoggerReply::Ask(const std::string& text, const NetAddress& address, uint16_t port,
                      uint32_t in_flight) {
    reply_ = LoggerReplyTo{"h" + text + "\r\n", address, port};
    owed_ = in_flight;
    handed_on_after_ = false;
}

void LoggerReply::HandedOn(uint32_t in_flight) {
    if (reply_) {
        owed_ = in_flight;
        handed_on_after_ = true;
    }
}

void LoggerReply::Echoed(uint32_t count) {
    owed_ -= std::min(owed_, count);
}

std::optional<LoggerReplyTo> LoggerReply::TakeIfKeyed() {
    if (!handed_on_after_ || owed_ > 0) {
        return std::nullopt;
    }
    return TakeNow();
}

std::optional<LoggerReplyTo> LoggerReply::TakeNow() {
    std::optional<LoggerReplyTo> taken = std::move(reply_);
    reply_.reset();
    return taken;
}
