#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/thresholds.h"
#include "findings/units.h"

namespace zeq::findings {

namespace {

namespace t = thresholds;

void batteryFinding(const SectionView& batteries, std::size_t i, Findings& out) {
    RowView row = batteries.row(i);
    std::optional<std::uint64_t> design = row.number("DesignCapacity", t::kBatteryCapacityMax);
    std::optional<std::uint64_t> full = row.number("FullChargeCapacity", t::kBatteryCapacityMax);
    std::optional<long double> health = batteryHealthPercent(design, full);
    // full / design < 60 %, in integers.
    if (!health || *full * 100 >= *design * t::kBatteryWornPercent) {
        return;
    }
    Finding finding = makeFinding(Severity::Warning, "battery.worn",
                                  "Batería desgastada: carga completa al " +
                                      formatPercent(*health) + " de su capacidad de diseño",
                                  "La batería dura mucho menos que nueva: considere sustituirla.");
    finding.evidence.push_back(
        batteries.evidence(i, "DesignCapacity", std::to_string(*design) + " mWh"));
    finding.evidence.push_back(
        batteries.evidence(i, "FullChargeCapacity", std::to_string(*full) + " mWh"));
    out.push_back(std::move(finding));
}

} // namespace

void batteryFindings(const ReportView& report, Findings& out) {
    eachRowFindings(report, Section::Battery, batteryFinding, out);
}

} // namespace zeq::findings
