#pragma once

#include <string>
#include <string_view>

namespace zeq::findings {

// A stored report as plain text for a terminal (`zeq-server show CODE --text`):
// a header (receipt code, report_id, collection time, elevated), the findings
// most severe first with their evidence and advice, then all sections with
// their rows in readable units and their errors in plain words. Every text
// from the report passes through plainText, so no control character (no
// terminal escape sequence) reaches the terminal.
std::string textReport(std::string_view code, std::string_view reportBytes);

} // namespace zeq::findings
