#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zeq {

// Whether `text` has exactly the shape: as many bytes as the shape, and byte
// for byte either the literal byte of the shape or one of the class its
// placeholder stands for:
//   'X'  an upper-case hexadecimal digit, 0-9 or A-F
//   'x'  a lower-case hexadecimal digit, 0-9 or a-f
//   'D'  a decimal digit, 0-9
// Every other byte of the shape stands for itself. So "ZEQ-XXXX-XXXX-XXXX" is a
// receipt code, "DDDD-DD-DD" a date's digits and punctuation. No byte outside
// ASCII, and no NUL, belongs to any class.
bool matchesShape(std::string_view text, std::string_view shape);

// `text` without the spaces and tabs (or other `blanks`) at either end.
std::string_view trimmed(std::string_view text, std::string_view blanks = " \t");

// A decimal number of digits 0-9 alone (no sign, no spaces, no other
// characters; leading zeros allowed) whose value is at most `max`. nullopt for
// empty text, any other character, or a value above `max` (never overflows).
std::optional<std::uint64_t> parseDecimal(std::string_view text, std::uint64_t max);

// The same for hexadecimal digits 0-9, a-f and A-F alone (no "0x", no sign).
std::optional<std::uint64_t> parseHexadecimal(std::string_view text, std::uint64_t max);

} // namespace zeq
