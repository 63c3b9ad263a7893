#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "net/logger_request.h"

namespace {

using Kind = LoggerRequest::Kind;

LoggerRequest Parse(const std::string& datagram) {
    return ParseLoggerRequest(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size());
}

TEST(LoggerRequest, EachDatagramReadsAsThePageSays) {
    struct Case {
        std::string datagram;
        Kind kind;
        std::string text;
        int value;
        std::string problem_kind;
    };
    const Case cases[] = {
        {"CQ CQ DX DE N0CALL N0CALL K\n", Kind::kText, "CQ CQ DX DE N0CALL N0CALL K", 0, ""},
        {"tu\r\n5nn+-", Kind::kText, "tu5nn+-", 0, ""},
        {"", Kind::kText, "", 0, ""},
        {"\x1b"
         "0",
         Kind::kReset, "", 0, ""},
        {"\x1b"
         "224",
         Kind::kSpeed, "", 24, ""},
        {"\x1b"
         "24",
         Kind::kSpeed, "", 4, ""},
        {"\x1b"
         "260",
         Kind::kSpeed, "", 60, ""},
        {"\x1b"
         "261",
         Kind::kRefused, "", 0, "2"},
        {"\x1b"
         "23",
         Kind::kRefused, "", 0, "2"},
        {"\x1b"
         "2",
         Kind::kRefused, "", 0, "2"},
        {"\x1b"
         "22x",
         Kind::kRefused, "", 0, "2"},
        {"\x1b"
         "2-",
         Kind::kRefused, "", 0, "2"},
        {"\x1b"
         "29999999",
         Kind::kRefused, "", 0, "2"},
        {"\x1b"
         "4",
         Kind::kAbort, "", 0, ""},
        {"\x1b"
         "c10",
         Kind::kTune, "", 10, ""},
        {"\x1b"
         "c0",
         Kind::kTune, "", 0, ""},
        {"\x1b"
         "c-1",
         Kind::kRefused, "", 0, "c"},
        {"\x1b"
         "c11",
         Kind::kRefused, "", 0, "c"},
        {"\x1b"
         "hok",
         Kind::kReplyWhenDone, "ok", 0, ""},
        {"\x1b"
         "5",
         Kind::kIgnored, "", 0, ""},
        {"\x1b"
         "3600",
         Kind::kIgnored, "", 0, ""},
        {"\x1b"
         "g70",
         Kind::kIgnored, "", 0, ""},
        {"\x1b"
         "70",
         Kind::kIgnored, "", 0, ""},
        {"\x1b"
         "a1",
         Kind::kIgnored, "", 0, ""},
        {"\x1b"
         "d0",
         Kind::kIgnored, "", 0, ""},
        {"\x1b", Kind::kIgnored, "", 0, ""},
        {std::string(256, 'E'), Kind::kText, std::string(256, 'E'), 0, ""},
        {std::string(257, 'E'), Kind::kRefused, "", 0, "long"},
        {"\x1b"
         "h" +
             std::string(300, 'x'),
         Kind::kRefused, "", 0, "long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.datagram);
        const LoggerRequest request = Parse(c.datagram);
        EXPECT_EQ(request.kind, c.kind);
        EXPECT_EQ(request.text, c.text);
        EXPECT_EQ(request.value, c.value);
        EXPECT_EQ(request.problem_kind, c.problem_kind);
        EXPECT_EQ(request.problem.empty(), c.problem_kind.empty());
    }
}

}  // namespace
