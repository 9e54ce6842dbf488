#pragma once

#include <cstddef>
#include <string>

namespace zeq::test {

// The answers as the Windows tool checks them (docs/operations.md, "The wire
// contract"), for the suites that talk to the server over the wire.

// The largest report the tool sends, and every server must take: 2 MiB.
constexpr std::size_t kClientMaxReportBytes = 2 * 1024 * 1024;
// The tool refuses a longer answer body.
constexpr std::size_t kClientResponseLimit = 4096;

// 80 to 200 bytes of 0-9, a-f and '.', nothing before or after.
bool isClientToken(const std::string& body);
// Exactly ZEQ-XXXX-XXXX-XXXX, X an upper-case hexadecimal digit.
bool isClientReceipt(const std::string& body);

} // namespace zeq::test
