#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeq::findings {

// The longest a quoted report text gets in a finding, in bytes.
inline constexpr std::size_t kPlainTextMaxBytes = 160;

// A text from a report made fit to stand in a finding: tab, line feed and
// carriage return become a space; other control characters (U+0000 to U+001F,
// U+007F to U+009F), the bidirectional overrides and isolates (U+202A to U+202E,
// U+2066 to U+2069) and every byte that is not part of valid UTF-8 become
// U+FFFD; then the text is cut to at most `maxBytes` bytes at a character
// boundary, ending in "…" when it was cut. HTML stays as it is: escaping is the
// renderer's job.
std::string plainText(std::string_view text, std::size_t maxBytes = kPlainTextMaxBytes);

// `text` (valid UTF-8) cut to at most `maxBytes` bytes without splitting a
// character, with "…" (3 bytes, counted in `maxBytes`) when anything was cut.
std::string shortenUtf8(std::string_view text, std::size_t maxBytes);

} // namespace zeq::findings
