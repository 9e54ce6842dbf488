#include "findings/report_dates.h"
#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/thresholds.h"

namespace zeq::findings {

namespace {

namespace t = thresholds;

struct Newest {
    std::int64_t day = 0;
    std::size_t row = 0;
    CivilDate date;
};

} // namespace

void updateFindings(const ReportView& report, Findings& out) {
    SectionView updates = report.section(Section::Updates);
    std::optional<CivilDate> collected = report.collectedDate();
    // A partial list may lack the newest update: no finding of absence from it.
    if (!updates.complete() || !collected) {
        return;
    }
    std::int64_t today = daysFromCivil(*collected);
    std::optional<Newest> newest;
    for (std::size_t i = 0; i < updates.size(); ++i) {
        std::optional<std::string_view> text = updates.row(i).text("InstalledOn");
        std::optional<CivilDate> date = text ? parseInstalledOn(*text) : std::nullopt;
        if (!date || date->year < t::kUpdatesEarliestYear) {
            continue;
        }
        std::int64_t day = daysFromCivil(*date);
        if (day > today + t::kUpdatesFutureSlackDays) {
            continue;
        }
        if (!newest || day > newest->day) {
            newest = Newest{day, i, *date};
        }
    }
    if (!newest || today - newest->day <= t::kUpdatesStaleDays) {
        return;
    }
    std::int64_t age = today - newest->day;
    Finding finding =
        makeFinding(Severity::Warning, "updates.stale",
                    "Sin actualizaciones instaladas desde hace " + std::to_string(age) + " días",
                    "Ejecute Windows Update y compruebe que no esté pausado ni "
                    "bloqueado.");
    std::string_view installedOn = updates.row(newest->row).text("InstalledOn").value_or("");
    finding.evidence.push_back(
        updates.evidence(newest->row, "InstalledOn",
                         formatDate(newest->date) + " (" + plainText(installedOn, 40) + ")"));
    if (std::optional<std::string_view> id = updates.row(newest->row).text("HotFixID")) {
        finding.evidence.push_back(updates.evidence(newest->row, "HotFixID", plainText(*id, 40)));
    }
    out.push_back(std::move(finding));
}

} // namespace zeq::findings
