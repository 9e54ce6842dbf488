#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zeq::findings {

// What the technician's list shows of a report without reading it again: the
// machine, its Windows and how many findings need attention, with the version
// of the rules that counted them. Texts are plain text (report_text.h); the
// serial number and UUID are absent when the firmware left a placeholder
// (machine_identity.h), so that they can be compared between reports.
struct ReportOverview {
    std::optional<std::string> manufacturer;
    std::optional<std::string> model;
    std::optional<std::string> serial;
    std::optional<std::string> machineUuid;
    std::optional<std::string> windowsCaption;
    std::int64_t critical = 0;
    std::int64_t warning = 0;
    int rulesVersion = 0;
};

// The overview of stored bytes; never throws on what the report holds.
ReportOverview overviewOf(std::string_view reportBytes);
// The same from the bytes already parsed by parseReport (or as it parses).
ReportOverview overviewOfParsed(const nlohmann::json& report);

} // namespace zeq::findings
