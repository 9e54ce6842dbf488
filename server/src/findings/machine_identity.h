#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zeq::findings {

// Firmware fills identity fields it was never given with stock texts and
// UUIDs shared by thousands of machines. Such a value identifies nothing: two
// reports must never be taken for the same machine because of it.

// "To be filled by O.E.M.", "Default string", "System Serial Number", "0",
// blanks and the like, compared without regard to case or surrounding spaces.
bool isPlaceholderIdentity(std::string_view text);

// The machine's UUID in upper case when it is one (8-4-4-4-12 hexadecimal
// digits) and not a stock value (all zeros, all F, the well-known
// 03000200-0400-0500-0006-000700080009); nullopt otherwise.
std::optional<std::string> machineUuid(std::string_view text);

// A serial number without surrounding spaces, when it is not a placeholder;
// nullopt otherwise.
std::optional<std::string> machineSerial(std::string_view text);

} // namespace zeq::findings
