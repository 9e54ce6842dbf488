#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/thresholds.h"
#include "findings/units.h"

namespace zeq::findings {

namespace {

namespace t = thresholds;

// Twenty times the temperature in °C of a value in tenths of a kelvin:
// 20 * (v - 2731.5) / 10 = 2v - 5463, an exact integer to compare thresholds with.
std::int64_t twentiethsOfCelsius(std::uint64_t tenthsOfKelvin) {
    return 2 * static_cast<std::int64_t>(tenthsOfKelvin) - 5463;
}

constexpr std::int64_t twenty(std::uint64_t celsius) {
    return 20 * static_cast<std::int64_t>(celsius);
}

std::string kelvinEvidence(std::uint64_t tenths) {
    return formatTenthsOfKelvin(tenths) + " (" + std::to_string(tenths) + " décimas de kelvin)";
}

void zoneFinding(const SectionView& zones, std::size_t i, Findings& out) {
    RowView row = zones.row(i);
    // Larger values are far outside every range below; the cap keeps the arithmetic small.
    std::optional<std::uint64_t> current = row.number("CurrentTemperature", 100000);
    if (!current) {
        return;
    }
    std::int64_t reading = twentiethsOfCelsius(*current);
    if (reading < twenty(t::kZoneReadingMin) || reading > twenty(t::kZoneReadingMax)) {
        return;
    }
    std::optional<std::uint64_t> trip = row.number("CriticalTripPoint", 100000);
    std::int64_t limit = trip ? twentiethsOfCelsius(*trip) : 0;
    bool tripValid = trip && limit > reading && limit >= twenty(t::kZoneTripMin) &&
                     limit <= twenty(t::kZoneTripMax);
    bool nearTrip = tripValid && limit - reading <= twenty(t::kZoneTripMargin);
    if (!nearTrip && reading < twenty(t::kZoneHot)) {
        return;
    }
    std::string zone = row.text("InstanceName") ? " " + inQuotes(*row.text("InstanceName")) : "";
    std::string celsius = formatTenthsOfKelvin(*current);
    Finding finding =
        nearTrip ? makeFinding(Severity::Critical, "thermal.trip",
                               "La zona térmica" + zone +
                                   " está cerca de su temperatura crítica: " + celsius,
                               "Al llegar a ella el equipo se apaga: revise ventiladores, polvo y "
                               "pasta térmica cuanto antes.")
                 : makeFinding(Severity::Warning, "thermal.hot",
                               "Temperatura alta en la zona térmica" + zone + ": " + celsius,
                               "Revise ventiladores y polvo. La zona de ACPI no es necesariamente "
                               "el procesador.");
    finding.evidence.push_back(zones.evidence(i, "CurrentTemperature", kelvinEvidence(*current)));
    if (tripValid) {
        finding.evidence.push_back(zones.evidence(i, "CriticalTripPoint", kelvinEvidence(*trip)));
    }
    out.push_back(std::move(finding));
}

} // namespace

void thermalFindings(const ReportView& report, Findings& out) {
    eachRowFindings(report, Section::AcpiTemperature, zoneFinding, out);
}

} // namespace zeq::findings
