#include <algorithm>

#include "findings/disk_identity.h"
#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/thresholds.h"
#include "findings/units.h"

namespace zeq::findings {

namespace {

namespace t = thresholds;

struct DiskSections {
    SectionView drives;
    SectionView health;
    SectionView counters;
    SectionView smart;
};

struct Signal {
    Severity severity;
    Evidence evidence;
};

void smartSignals(const DiskIdentity& disk, const SectionView& smart, std::vector<Signal>& out) {
    for (std::size_t row : disk.smartRows) {
        if (smart.row(row).text("PredictFailure") == "True") {
            out.push_back({Severity::Critical, smart.evidence(row, "PredictFailure",
                                                              "True (el disco prevé un fallo)")});
        }
    }
}

void healthSignals(const DiskIdentity& disk, const SectionView& health, std::vector<Signal>& out) {
    if (!disk.healthRow) {
        return;
    }
    std::optional<std::uint64_t> status =
        health.row(*disk.healthRow).number("HealthStatus", 0xFFFF);
    if (status == 1u) {
        out.push_back({Severity::Warning,
                       health.evidence(*disk.healthRow, "HealthStatus", "1 (advertencia)")});
    } else if (status == 2u) {
        out.push_back({Severity::Critical,
                       health.evidence(*disk.healthRow, "HealthStatus", "2 (en mal estado)")});
    }
}

void driveSignals(const DiskIdentity& disk, const SectionView& drives, std::vector<Signal>& out) {
    if (!disk.driveRow) {
        return;
    }
    std::optional<std::string_view> status = drives.row(*disk.driveRow).text("Status");
    if (status == "Pred Fail") {
        out.push_back({Severity::Critical,
                       drives.evidence(*disk.driveRow, "Status", "Pred Fail (fallo previsto)")});
    } else if (status == "Degraded" || status == "Error") {
        out.push_back(
            {Severity::Warning, drives.evidence(*disk.driveRow, "Status", std::string(*status))});
    }
}

// One finding per disk, however many of its sources say it is failing.
void healthFinding(const DiskIdentity& disk, const DiskSections& s, Findings& out) {
    std::vector<Signal> signals;
    smartSignals(disk, s.smart, signals);
    healthSignals(disk, s.health, signals);
    driveSignals(disk, s.drives, signals);
    if (signals.empty()) {
        return;
    }
    Severity worst = std::min_element(signals.begin(), signals.end(), [](auto& a, auto& b) {
                         return a.severity < b.severity;
                     })->severity;
    Finding finding =
        worst == Severity::Critical
            ? makeFinding(worst, "disk.health",
                          "El disco " + inQuotes(disk.name) + " anuncia un fallo",
                          "Copie los datos importantes cuanto antes y sustituya el disco.")
            : makeFinding(worst, "disk.health",
                          "El disco " + inQuotes(disk.name) + " informa de un problema de salud",
                          "Haga copia de seguridad y compruebe el disco con la herramienta del "
                          "fabricante.");
    for (Signal& signal : signals) {
        finding.evidence.push_back(std::move(signal.evidence));
    }
    out.push_back(std::move(finding));
}

void wearFinding(const DiskIdentity& disk, const SectionView& counters, Findings& out) {
    std::optional<std::uint64_t> wear = counters.row(*disk.counterRow).number("Wear", t::kWearMax);
    if (!wear || *wear < t::kWearWarning) {
        return;
    }
    bool critical = *wear >= t::kWearCritical;
    Finding finding =
        makeFinding(critical ? Severity::Critical : Severity::Warning, "disk.wear",
                    "El disco " + inQuotes(disk.name) + " ha gastado el " + std::to_string(*wear) +
                        " % de su vida útil",
                    critical ? "Sustituya el disco pronto y mantenga copias de seguridad."
                             : "Planifique su sustitución y mantenga copias de seguridad.");
    finding.evidence.push_back(
        counters.evidence(*disk.counterRow, "Wear", std::to_string(*wear) + " %"));
    out.push_back(std::move(finding));
}

void temperatureFinding(const DiskIdentity& disk, const SectionView& counters, Findings& out) {
    RowView row = counters.row(*disk.counterRow);
    std::optional<std::uint64_t> reading = row.number("Temperature", t::kDiskReadingMax);
    if (!reading || *reading == 0) {
        return; // 0: the drive does not report it
    }
    std::optional<std::uint64_t> limit = row.number("TemperatureMax", 0xFF);
    bool limitValid = limit && *limit >= t::kDiskLimitMin && *limit <= t::kDiskLimitMax;
    std::uint64_t threshold = limitValid                          ? *limit - t::kDiskLimitMargin
                              : disk.media == MediaKind::HardDisk ? t::kHardDiskHot
                                                                  : t::kSolidStateHot;
    if (*reading < threshold) {
        return;
    }
    Finding finding = makeFinding(Severity::Warning, "disk.temperature",
                                  "El disco " + inQuotes(disk.name) +
                                      " está caliente: " + std::to_string(*reading) + " °C",
                                  "Revise la ventilación del equipo y limpie el polvo.");
    finding.evidence.push_back(
        counters.evidence(*disk.counterRow, "Temperature", std::to_string(*reading) + " °C"));
    if (limitValid) {
        finding.evidence.push_back(counters.evidence(
            *disk.counterRow, "TemperatureMax", std::to_string(*limit) + " °C (límite del disco)"));
    }
    out.push_back(std::move(finding));
}

void errorTotalsFinding(const DiskIdentity& disk, const SectionView& counters, Findings& out) {
    Finding finding = makeFinding(
        Severity::Info, "disk.errors",
        "El disco " + inQuotes(disk.name) + " ha registrado errores de lectura o escritura",
        "Son totales que incluyen errores corregidos: vigile si aumentan.");
    for (std::string_view member : {"ReadErrorsTotal", "WriteErrorsTotal"}) {
        std::optional<std::uint64_t> total =
            counters.row(*disk.counterRow).number(member, t::kDiskErrorTotalMax);
        if (total && *total > 0) {
            finding.evidence.push_back(
                counters.evidence(*disk.counterRow, member, std::to_string(*total)));
        }
    }
    if (!finding.evidence.empty()) {
        out.push_back(std::move(finding));
    }
}

} // namespace

void diskFindings(const ReportView& report, Findings& out) {
    DiskSections sections{report.section(Section::PhysicalDisks),
                          report.section(Section::DiskHealth),
                          report.section(Section::DiskReliability), report.section(Section::Smart)};
    for (const DiskIdentity& disk : identifyDisks(report)) {
        healthFinding(disk, sections, out);
        if (disk.counterRow) {
            wearFinding(disk, sections.counters, out);
            temperatureFinding(disk, sections.counters, out);
            errorTotalsFinding(disk, sections.counters, out);
        }
    }
}

} // namespace zeq::findings
