#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/report_store.h"

namespace zeq::console {

// What the console asks of the store about stored reports, in one place so
// that a faster source (columns kept per report, a read-only connection) can
// replace it without touching the pages.

inline constexpr std::size_t kReportsPerPage = 50;

struct ListingPage {
    std::vector<ReportSummary> reports; // newest first
    bool more = false;                  // a later page exists
};

// Page `page` (0-based) of the reports whose receipt code holds the search
// text, however it was typed (case, hyphens and spaces do not matter); all
// reports for an empty search.
ListingPage listReports(ReportStore& store, std::string_view search, std::size_t page);

// The stored report under the code, without its bytes.
std::optional<ReportSummary> findReport(ReportStore& store, std::string_view code);

// The letters and digits of a typed code, upper-case: "zeq 1a2b-3c4d" is
// "ZEQ1A2B3C4D".
std::string compactCode(std::string_view typed);

} // namespace zeq::console
