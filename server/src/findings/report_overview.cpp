#include "findings/report_overview.h"

#include "findings/findings.h"
#include "findings/machine_identity.h"
#include "findings/report_text.h"
#include "findings/report_view.h"

namespace zeq::findings {

namespace {

// The first row's member of a section, whatever the section's state: a
// partial identity is still the machine's.
std::optional<std::string_view> firstRowText(const ReportView& report, Section section,
                                             std::string_view member) {
    SectionView view = report.section(section);
    return view.size() > 0 ? view.row(0).text(member) : std::nullopt;
}

// The first of the members that holds a text other than a placeholder, as
// plain text; else the first that holds any text (a machine called "To be
// filled by O.E.M." is shown as such).
struct MemberRef {
    Section section;
    std::string_view member;
};

std::optional<std::string> shownText(const ReportView& report,
                                     std::initializer_list<MemberRef> members) {
    std::optional<std::string_view> fallback;
    for (const MemberRef& ref : members) {
        std::optional<std::string_view> text = firstRowText(report, ref.section, ref.member);
        if (text && !isPlaceholderIdentity(*text)) {
            return plainText(*text);
        }
        if (text && !fallback) {
            fallback = text;
        }
    }
    return fallback ? std::optional<std::string>(plainText(*fallback)) : std::nullopt;
}

std::optional<std::string> identity(const ReportView& report,
                                    std::initializer_list<MemberRef> members,
                                    std::optional<std::string> (*read)(std::string_view)) {
    for (const MemberRef& ref : members) {
        std::optional<std::string_view> text = firstRowText(report, ref.section, ref.member);
        std::optional<std::string> value = text ? read(*text) : std::nullopt;
        if (value) {
            return plainText(*value);
        }
    }
    return std::nullopt;
}

} // namespace

ReportOverview overviewOf(std::string_view reportBytes) {
    return overviewOfParsed(parseReport(reportBytes));
}

ReportOverview overviewOfParsed(const nlohmann::json& report) {
    ReportOverview overview;
    overview.rulesVersion = kRulesVersion;
    FindingCounts counts = countFindings(findingsOf(report));
    overview.critical = static_cast<std::int64_t>(counts.critical);
    overview.warning = static_cast<std::int64_t>(counts.warning);
    if (!report.is_object()) {
        return overview;
    }
    ReportView view(report);
    // A self-built PC's firmware names no maker or model ("System Product
    // Name"); its motherboard's maker and product are the best name it has.
    overview.manufacturer = shownText(view, {{Section::Computer, "Manufacturer"},
                                             {Section::Identification, "Vendor"},
                                             {Section::Baseboard, "Manufacturer"}});
    overview.model = shownText(view, {{Section::Computer, "Model"},
                                      {Section::Identification, "Name"},
                                      {Section::Baseboard, "Product"}});
    overview.serial = identity(
        view, {{Section::Identification, "IdentifyingNumber"}, {Section::Bios, "SerialNumber"}},
        machineSerial);
    overview.machineUuid = identity(view, {{Section::Identification, "UUID"}}, machineUuid);
    overview.windowsCaption = shownText(view, {{Section::Windows, "Caption"}});
    return overview;
}

} // namespace zeq::findings
