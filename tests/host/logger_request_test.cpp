#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "net/logger_request.h"

namespace {

// What a request holds, in one line: its kind, then its text, value or mistake. A `^` first
// stands for ESC.
std::string Read(std::string datagram) {
    if (!datagram.empty() && datagram.front() == '^') {
        datagram.front() = '\x1b';
    }
    const LoggerRequest request =
        ParseLoggerRequest(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size());
    const char* const kinds[] = {"text", "reset", "speed",   "abort",
                                 "tune", "reply", "ignored", "refused"};
    const std::string kind = kinds[static_cast<int>(request.kind)];
    if (request.kind == LoggerRequest::Kind::kRefused) {
        return kind + " " + request.problem_kind + (request.problem.empty() ? "" : " told");
    }
    return kind + " " + (request.text.empty() ? std::to_string(request.value) : request.text);
}

TEST(LoggerRequest, EachDatagramReadsAsTheProtocolHasIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"CQ CQ DX DE N0CALL N0CALL K\n", "text CQ CQ DX DE N0CALL N0CALL K"},
        {"tu\r\n5nn+-", "text tu5nn+-"},
        {std::string(256, 'E'), "text " + std::string(256, 'E')},
        {std::string(257, 'E'), "refused long told"},
        {"^h" + std::string(300, 'x'), "refused long told"},
        {"^0", "reset 0"},
        {"^224", "speed 24"},
        {"^260", "speed 60"},
        {"^261", "refused 2 told"},
        {"^23", "refused 2 told"},
        {"^2", "refused 2 told"},
        {"^22x", "refused 2 told"},
        {"^29999999", "refused 2 told"},
        {"^4", "abort 0"},
        {"^c10", "tune 10"},
        {"^c0", "tune 0"},
        {"^c11", "refused c told"},
        {"^hok", "reply ok"},
        {"^5", "ignored 0"},
        {"^3600", "ignored 0"},
        {"^g70", "ignored 0"},
        {"^", "ignored 0"},
    };
    for (const auto& [datagram, expected] : cases) {
        EXPECT_EQ(Read(datagram), expected) << datagram;
    }
}

}  // namespace
