#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "findings/finding.h"

namespace zeq::findings {

// The version of the rules. The store records it beside the columns it
// computes from findings, and recomputes them when it changes: raise it with
// every change of a rule, threshold or table that changes what is found, or
// of how the listing's columns are read (2: the motherboard names a machine
// whose firmware gives placeholders; SMART rows joined only by what they name;
// Windows 10 1511 Enterprise and Education dates; more storage drivers; a
// productState of 0 unread).
inline constexpr int kRulesVersion = 2;

// The findings of a stored report, most severe first (in rule order within a
// severity). The report is untrusted: missing, null, mistyped or absurd values
// produce no finding, and no input throws.
std::vector<Finding> findingsOf(const nlohmann::json& report);
// The same from the stored bytes. Bytes that are not a JSON object give one
// informational finding saying so.
std::vector<Finding> findingsOfBytes(std::string_view reportBytes);

// Stored bytes parsed for reading: values nested deeper than a row's members
// are dropped (no rule reads them, and deep nesting must not cost a deep
// tree); a discarded value when the bytes are not JSON.
nlohmann::json parseReport(std::string_view reportBytes);

struct FindingCounts {
    std::size_t critical = 0;
    std::size_t warning = 0;
    std::size_t info = 0;
};
FindingCounts countFindings(const std::vector<Finding>& findings);
// "1 críticos, 2 avisos, 0 informativos".
std::string countsText(const FindingCounts& counts);

} // namespace zeq::findings
