// The logger protocol: one UDP datagram from a logging or contest program is one request,
// text to send or, after an ESC byte, a letter that names a setting and its value. Reading a
// datagram is pure; what each request does is the station's (station/logger_port.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A longer datagram is refused whole.
constexpr std::size_t kMostLoggerDatagram = 256;

struct LoggerRequest {
    enum class Kind {
        kText,           // `text`: what to send, line ends taken out
        kReset,          // back to the speed at start, a tune ended, the reply forgotten
        kSpeed,          // `value` WPM
        kAbort,          // as the Clear button
        kTune,           // `value` seconds of Tune; 0 ends one
        kReplyWhenDone,  // `text`: what the reply carries
        kIgnored,        // a request Pellmar takes no action on
        kRefused,        // `problem` says why, as the Connect log tells it
    };
    Kind kind = Kind::kIgnored;
    std::string text;
    int value = 0;
    // For kRefused: what kind of mistake it was, so that each kind is told once however many
    // datagrams repeat it, and the line that tells it.
    std::string problem_kind;
    std::string problem;
};

LoggerRequest ParseLoggerRequest(const uint8_t* bytes, std::size_t count);
// The refusal of a datagram over kMostLoggerDatagram bytes, which a socket may report without
// handing over its bytes.
LoggerRequest LoggerDatagramTooLong();
