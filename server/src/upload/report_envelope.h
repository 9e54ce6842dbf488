#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "findings/report_overview.h"

namespace zeq {

// Largest report the server takes, the same limit the client applies.
constexpr std::size_t kMaxReportBytes = 2 * 1024 * 1024;
constexpr std::size_t kReportSectionCount = 26;

// What is wrong with a report body, in the order the checks run. A body is
// valid UTF-8 first, starts without a byte-order mark (the tool never writes
// one, and stored bytes must be the report alone), is JSON next, then its
// envelope is checked member by member (a missing, repeated or mistyped member
// counts as wrong).
enum class ReportProblem {
    None,
    NotUtf8,
    ByteOrderMark,
    NotJson,
    NotObject,
    SchemaVersion,
    ClientVersion,
    Consent,
    ReportId,
    CollectedAt,
    Elevated,
    Sections,
};

struct EnvelopeCheck {
    ReportProblem problem = ReportProblem::None;
    std::string reportId; // set when problem is None
};

EnvelopeCheck checkReport(std::string_view body);
// The same check; a valid report's listing overview is read from the same
// parse of its bytes into overview (left alone when the report is refused).
EnvelopeCheck checkReport(std::string_view body, findings::ReportOverview& overview);

// The short text of a refusal, for the response body (None has none).
const char* describeProblem(ReportProblem problem);

// 36 characters, upper-case hexadecimal groups 8-4-4-4-12 joined by hyphens.
bool isReportId(std::string_view text);
// "YYYY-MM-DDTHH:MM:SSZ" naming a real UTC date and time.
bool isCollectedAt(std::string_view text);

} // namespace zeq
