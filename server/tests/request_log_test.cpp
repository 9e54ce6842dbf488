#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "base/request_log.h"

namespace zeq {
namespace {

TEST(RequestLog, LineHoldsTimeClientMethodPathStatusBytesAndMillis) {
    RequestRecord record;
    record.unixMillis = 1'709'805'600'123;
    record.client = "203.0.113.7";
    record.method = "POST";
    record.path = "/api/report.php";
    record.status = 200;
    record.bytesIn = 102400;
    record.bytesOut = 18;
    record.millis = 12;
    EXPECT_EQ(formatRequestLine(record),
              "2024-03-07T10:00:00.123Z 203.0.113.7 POST /api/report.php 200 in=102400 out=18 "
              "12ms");
}

TEST(RequestLog, HostileTextCannotBreakOrForgeALine) {
    struct Case {
        std::string text;
        std::size_t max;
        std::string expected;
    };
    const Case cases[] = {
        {"/api/token.php", 200, "/api/token.php"},
        {"/a b", 200, "/a%20b"},
        {"/x\n2024-01-01T00:00:00Z fake", 200, "/x%0A2024-01-01T00:00:00Z%20fake"},
        {"/\x1b[31m", 200, "/%1B[31m"},
        {"/100%", 200, "/100%25"},
        {"/\xC3\xA9", 200, "/%C3%A9"},
        {"", 200, "-"},
        {"/abcdefghij", 5, "/abcd..."},
        {"/\n\n", 5, "/%0A..."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sanitizeForLog(c.text, c.max), c.expected) << c.text;
    }
}

TEST(RequestLog, UtcTimesForTheListing) {
    EXPECT_EQ(formatUtcTime(0), "1970-01-01 00:00:00");
    EXPECT_EQ(formatUtcTime(1'709'805'600), "2024-03-07 10:00:00");
}

TEST(CommandLine, SplitsCommandArgumentsAndOptions) {
    CommandLine line = parseCommandLine({"show", "ZEQ-0000-0000-0000", "--db", "/x/r.db"}, {"db"});
    EXPECT_EQ(line.command, "show");
    ASSERT_EQ(line.arguments.size(), 1u);
    EXPECT_EQ(line.arguments[0], "ZEQ-0000-0000-0000");
    EXPECT_EQ(line.text("db", ""), "/x/r.db");

    CommandLine equals =
        parseCommandLine({"serve", "--port=0", "--operator=Ana María"}, {"port", "operator"});
    EXPECT_EQ(equals.integer("port", 443, 0, 65535), 0);
    EXPECT_EQ(equals.text("operator", ""), "Ana María");
    EXPECT_EQ(equals.integer("threads", 32, 2, 1024), 32);
}

TEST(CommandLine, RefusesMistakes) {
    const std::vector<std::vector<std::string>> cases = {
        {"serve", "--port"},
        {"serve", "--unknown", "1"},
        {"serve", "--port", "1", "--port", "2"},
    };
    for (const auto& args : cases) {
        EXPECT_THROW(parseCommandLine(args, {"port"}), UsageError) << args[1];
    }
    for (const char* value : {"", "-1", "65536", "12a", "1e3", "99999999999"}) {
        CommandLine line = parseCommandLine({"serve", std::string("--port=") + value}, {"port"});
        EXPECT_THROW(line.integer("port", 443, 0, 65535), UsageError) << value;
    }
}

} // namespace
} // namespace zeq
