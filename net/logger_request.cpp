#include "net/logger_request.h"

#include <optional>
#include <string_view>

namespace {

constexpr uint8_t kEscape = 0x1B;
// More digits than any value of the protocol has; beyond them a value is malformed rather
// than read into an overflow.
constexpr std::size_t kMostValueDigits = 6;

struct ValueRange {
    char letter;
    const char* name;
    int lowest;
    int highest;
    const char* unit;
    LoggerRequest::Kind kind;
};

constexpr ValueRange kRanges[] = {
    {'2', "speed", 4, 60, " WPM", LoggerRequest::Kind::kSpeed},
    {'c', "tune", 0, 10, " seconds", LoggerRequest::Kind::kTune},
};

// Decimal digits after an optional minus; nothing for anything else.
std::optional<int> ValueFromText(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > kMostValueDigits) {
        return std::nullopt;
    }
    int value = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        value = value * 10 + (digit - '0');
    }
    return negative ? -value : value;
}

LoggerRequest Refused(std::string kind, std::string problem) {
    LoggerRequest request;
    request.kind = LoggerRequest::Kind::kRefused;
    request.problem_kind = std::move(kind);
    request.problem = std::move(problem);
    return request;
}

LoggerRequest WithValue(const ValueRange& range, std::string_view text) {
    const std::optional<int> value = ValueFromText(text);
    if (!value || *value < range.lowest || *value > range.highest) {
        return Refused(std::string(1, range.letter),
                       "Logger port: a " + std::string(range.name) + " request of \"" +
                           std::string(text) + "\" was ignored; it takes " +
                           std::to_string(range.lowest) + " to " + std::to_string(range.highest) +
                           range.unit + ".");
    }
    LoggerRequest request;
    request.kind = range.kind;
    request.value = *value;
    return request;
}

LoggerRequest Setting(char letter, std::string_view rest) {
    for (const ValueRange& range : kRanges) {
        if (range.letter == letter) {
            return WithValue(range, rest);
        }
    }
    LoggerRequest request;
    switch (letter) {
        case '0':
            request.kind = LoggerRequest::Kind::kReset;
            break;
        case '4':
            request.kind = LoggerRequest::Kind::kAbort;
            break;
        case 'h':
            request.kind = LoggerRequest::Kind::kReplyWhenDone;
            request.text = rest;
            break;
        default:
            // Sidetone, weighting, PTT and the exit among them: a logger must not end the
            // station, and the keyers' own settings are the operator's.
            request.kind = LoggerRequest::Kind::kIgnored;
            break;
    }
    return request;
}

}  // namespace

LoggerRequest LoggerDatagramTooLong() {
    return Refused("long", "Logger port: a datagram over " + std::to_string(kMostLoggerDatagram) +
                               " bytes was dropped.");
}

LoggerRequest ParseLoggerRequest(const uint8_t* bytes, std::size_t count) {
    if (count > kMostLoggerDatagram) {
        return LoggerDatagramTooLong();
    }
    const std::string_view datagram(reinterpret_cast<const char*>(bytes), count);
    if (!datagram.empty() && static_cast<uint8_t>(datagram.front()) == kEscape) {
        return datagram.size() < 2 ? LoggerRequest{} : Setting(datagram[1], datagram.substr(2));
    }
    LoggerRequest request;
    request.kind = LoggerRequest::Kind::kText;
    for (const char character : datagram) {
        if (character != '\r' && character != '\n') {
            request.text.push_back(character);
        }
    }
    return request;
}
