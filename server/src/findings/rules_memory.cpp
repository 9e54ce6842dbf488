#include "findings/rules.h"
#include "findings/thresholds.h"
#include "findings/units.h"
#include "findings/windows_releases.h"

namespace zeq::findings {

namespace {

namespace t = thresholds;

// Whether the report says Windows 11, and the evidence for it.
std::optional<Evidence> windows11Evidence(const ReportView& report) {
    SectionView windows = report.section(Section::Windows);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        std::optional<std::string_view> caption = windows.row(i).text("Caption");
        std::optional<std::uint64_t> build = windows.row(i).number("BuildNumber", 999999);
        if (caption && build && isWindows11(*caption, static_cast<std::uint32_t>(*build))) {
            return windows.evidence(i, "BuildNumber", std::to_string(*build) + " (Windows 11)");
        }
    }
    return std::nullopt;
}

} // namespace

void memoryFindings(const ReportView& report, Findings& out) {
    SectionView modules = report.section(Section::Memory);
    // A module missing from the list would make the sum too small.
    if (!modules.complete() || modules.size() == 0) {
        return;
    }
    std::uint64_t installed = 0;
    std::vector<Evidence> evidence;
    for (std::size_t i = 0; i < modules.size(); ++i) {
        std::optional<std::uint64_t> capacity =
            modules.row(i).number("Capacity", t::kMemoryModuleMax);
        if (!capacity || *capacity == 0) {
            return; // a module of unknown size: the total is unknown
        }
        installed += *capacity;
        evidence.push_back(modules.evidence(i, "Capacity", formatGibibytes(*capacity)));
    }
    std::optional<Evidence> windows11 = windows11Evidence(report);
    Finding finding;
    if (installed < t::kMemoryWarning) {
        finding = makeFinding(Severity::Warning, "memory.low",
                              "Poca memoria instalada: " + formatGibibytes(installed),
                              "Amplíe la memoria si la placa lo admite: con menos de 4 GiB "
                              "Windows va lento.");
    } else if (installed < t::kMemoryWindows11Info && windows11) {
        finding = makeFinding(Severity::Info, "memory.windows11",
                              "Memoria justa para Windows 11: " + formatGibibytes(installed),
                              "Con 8 GiB o más Windows 11 trabaja con holgura.");
        evidence.push_back(*windows11);
    } else {
        return;
    }
    finding.evidence = std::move(evidence);
    out.push_back(std::move(finding));
}

} // namespace zeq::findings
