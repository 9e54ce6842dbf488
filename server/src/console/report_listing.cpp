#include "console/report_listing.h"

#include <algorithm>
#include <cctype>

namespace zeq::console {

std::string compactCode(std::string_view typed) {
    std::string compact;
    for (char c : typed) {
        auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte)) {
            compact += static_cast<char>(std::toupper(byte));
        }
    }
    return compact;
}

ListingPage listReports(ReportStore& store, std::string_view search, std::size_t page) {
    std::vector<ReportSummary> all = store.list();
    std::reverse(all.begin(), all.end());
    std::string wanted = compactCode(search);
    ListingPage result;
    std::size_t skip = page * kReportsPerPage;
    for (ReportSummary& report : all) {
        if (!wanted.empty() && compactCode(report.code).find(wanted) == std::string::npos) {
            continue;
        }
        if (skip > 0) {
            --skip;
        } else if (result.reports.size() < kReportsPerPage) {
            result.reports.push_back(std::move(report));
        } else {
            result.more = true;
            break;
        }
    }
    return result;
}

std::optional<ReportSummary> findReport(ReportStore& store, std::string_view code) {
    for (ReportSummary& report : store.list()) {
        if (report.code == code) {
            return std::move(report);
        }
    }
    return std::nullopt;
}

} // namespace zeq::console
