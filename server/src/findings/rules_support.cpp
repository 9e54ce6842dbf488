#include "findings/report_dates.h"
#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/windows_releases.h"

namespace zeq::findings {

namespace {

constexpr std::uint64_t kMaxBuild = 999999;

void supportFinding(const SectionView& windows, std::size_t i, const CivilDate& collected,
                    Findings& out) {
    RowView row = windows.row(i);
    std::optional<std::string_view> caption = row.text("Caption");
    std::optional<std::uint64_t> build = row.number("BuildNumber", kMaxBuild);
    std::optional<Edition> edition = caption ? editionOf(*caption) : std::nullopt;
    if (!build || !edition) {
        return;
    }
    std::optional<WindowsRelease> release =
        findWindowsRelease(static_cast<std::uint32_t>(*build), *edition);
    if (!release || daysFromCivil(collected) <= daysFromCivil(release->end)) {
        return;
    }
    bool server = *edition == Edition::Server;
    Finding finding = makeFinding(
        Severity::Warning, "windows.unsupported",
        std::string(release->name) + " no recibe actualizaciones de seguridad desde el " +
            formatDate(release->end),
        server ? "Migre el servidor a una versión de Windows Server con soporte."
               : "Actualice a una versión con soporte (la última de Windows 11 si el equipo la "
                 "admite) o, si no es posible, contrate las actualizaciones de seguridad "
                 "extendidas (ESU).");
    finding.evidence.push_back(windows.evidence(i, "Caption", plainText(*caption, 80)));
    finding.evidence.push_back(windows.evidence(i, "BuildNumber", std::to_string(*build)));
    out.push_back(std::move(finding));
}

} // namespace

void supportFindings(const ReportView& report, Findings& out) {
    std::optional<CivilDate> collected = report.collectedDate();
    if (!collected) {
        return;
    }
    SectionView windows = report.section(Section::Windows);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        supportFinding(windows, i, *collected, out);
    }
}

} // namespace zeq::findings
