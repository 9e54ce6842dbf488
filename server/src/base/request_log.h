#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zeq {

// One request as the service log records it. Never a token, never report
// content: only what identifies the exchange and its cost.
struct RequestRecord {
    std::int64_t unixMillis = 0;
    std::string client;
    std::string method;
    std::string path;
    int status = 0;
    std::uint64_t bytesIn = 0;  // request body bytes received
    std::uint64_t bytesOut = 0; // response body bytes sent
    std::int64_t millis = 0;    // from the end of the request headers to the response
};

// "2025-03-07T10:00:00.123Z 203.0.113.7 POST /api/report.php 200 in=102400 out=18 12ms"
std::string formatRequestLine(const RequestRecord& record);

// Keeps printable ASCII, writes every other byte as %XX, and cuts at maxBytes,
// so a hostile path cannot forge or break log lines.
std::string sanitizeForLog(std::string_view text, std::size_t maxBytes);

// Writes one line to standard error in a single write, so lines from
// concurrent requests never interleave.
void writeLogLine(const std::string& line);

std::string formatUtcTime(std::int64_t unixSeconds); // "2025-03-07 10:00:00"

} // namespace zeq
