#include <algorithm>
#include <map>

#include "findings/event_sources.h"
#include "findings/report_dates.h"
#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/thresholds.h"

namespace zeq::findings {

namespace {

namespace t = thresholds;

constexpr std::uint64_t kMaxEventCode = 0xFFFFFFFF;

struct StorageCode {
    std::uint64_t code;
    const char* meaning;
};
constexpr StorageCode kStorageMeanings[] = {
    {7, "bloque dañado"},
    {11, "error del controlador"},
    {51, "error durante una paginación"},
    {129, "reinicio del dispositivo"},
    {153, "operación de E/S reintentada"},
    {157, "disco quitado de forma inesperada"},
};

struct Tally {
    std::vector<std::size_t> bugChecks;
    std::vector<std::size_t> reboots;                                    // 41
    std::vector<std::size_t> shutdowns;                                  // 6008
    std::map<std::string, std::map<std::uint64_t, std::size_t>> storage; // by source, code
    std::map<std::string, std::size_t> errorsBySource;
};

Tally tallyEvents(const SectionView& events) {
    Tally tally;
    for (std::size_t i = 0; i < events.size(); ++i) {
        RowView row = events.row(i);
        std::optional<std::uint64_t> code = row.number("EventCode", kMaxEventCode);
        std::optional<std::string_view> source = row.text("SourceName");
        if (source && row.text("Type") == "Error") {
            ++tally.errorsBySource[plainText(*source, 80)];
        }
        if (!code || !source) {
            continue;
        }
        switch (classifyEvent(*code, *source)) {
        case EventKind::BugCheck:
            tally.bugChecks.push_back(i);
            break;
        case EventKind::KernelPowerReboot:
            tally.reboots.push_back(i);
            break;
        case EventKind::UnexpectedShutdown:
            tally.shutdowns.push_back(i);
            break;
        case EventKind::StorageWarning:
            ++tally.storage[plainText(*source, 80)][*code];
            break;
        case EventKind::Other:
            break;
        }
    }
    return tally;
}

Evidence eventEvidence(const SectionView& events, std::size_t row) {
    RowView event = events.row(row);
    std::string value = std::to_string(event.number("EventCode", kMaxEventCode).value_or(0)) +
                        " de " + plainText(event.text("SourceName").value_or(""), 80);
    if (std::optional<std::string_view> when = event.text("TimeGenerated")) {
        if (std::optional<DmtfTime> time = parseDmtf(*when)) {
            value += ", " + formatDmtf(*time);
        }
    }
    return events.evidence(row, "EventCode", value);
}

void repeatedFinding(const SectionView& events, const std::vector<std::size_t>& rows, bool atLeast,
                     Finding finding, Findings& out) {
    std::size_t count = rows.size();
    if (count == 0) {
        return;
    }
    finding.severity = count >= t::kEventsRepeatedCritical ? Severity::Critical : Severity::Warning;
    finding.title += ": " + counted(count, "vez", "veces", atLeast) + " en los últimos 7 días";
    for (std::size_t row : rows) {
        finding.evidence.push_back(eventEvidence(events, row));
    }
    out.push_back(std::move(finding));
}

void storageFindings(const SectionView& events, const Tally& tally, bool atLeast, Findings& out) {
    for (const auto& [source, codes] : tally.storage) {
        std::size_t total = 0;
        Finding finding = makeFinding(Severity::Warning, "events.storage", "",
                                      "Pueden indicar un disco, un cable o una controladora "
                                      "defectuosos: haga copia de seguridad y revise el disco.");
        for (const auto& [code, count] : codes) {
            total += count;
            const char* meaning = "";
            for (const StorageCode& known : kStorageMeanings) {
                meaning = known.code == code ? known.meaning : meaning;
            }
            finding.evidence.push_back(events.evidence(
                "EventCode", std::to_string(code) + " de «" + source + "» (" + meaning +
                                 "): " + counted(count, "vez", "veces", atLeast)));
        }
        finding.title = "Avisos de disco o controladora de «" + source +
                        "»: " + counted(total, "evento", "eventos", atLeast);
        out.push_back(std::move(finding));
    }
}

void errorsFinding(const SectionView& events, const Tally& tally, bool atLeast, Findings& out) {
    if (tally.errorsBySource.empty()) {
        return;
    }
    std::vector<std::pair<std::string, std::size_t>> sources(tally.errorsBySource.begin(),
                                                             tally.errorsBySource.end());
    std::stable_sort(sources.begin(), sources.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::size_t total = 0;
    Finding finding = makeFinding(Severity::Info, "events.errors", "", "");
    for (const auto& [source, count] : sources) {
        total += count;
        finding.evidence.push_back(events.evidence(
            "SourceName", "«" + source + "»: " + counted(count, "error", "errores", atLeast)));
    }
    finding.title =
        "Errores en el registro del sistema: " + counted(total, "error", "errores", atLeast) +
        " de " + counted(sources.size(), "origen", "orígenes");
    out.push_back(std::move(finding));
}

} // namespace

void eventFindings(const ReportView& report, Findings& out) {
    SectionView events = report.section(Section::Events);
    if (events.size() == 0) {
        return;
    }
    // The tool keeps at most 80 events: a full or cut list counts "at least".
    bool atLeast = !events.complete() || events.size() >= t::kEventsKeptMax;
    Tally tally = tallyEvents(events);
    repeatedFinding(events, tally.bugChecks, atLeast,
                    makeFinding(Severity::Warning, "events.bugcheck",
                                "Pantallazos azules (Windows se detuvo por un error grave)",
                                "Revise los controladores instalados hace poco, la memoria RAM y "
                                "los volcados de memoria (minidump)."),
                    out);
    // Windows usually logs both 41 and 6008 for one shutdown: the larger count, not the sum.
    const std::vector<std::size_t>& shutdownRows =
        tally.reboots.size() >= tally.shutdowns.size() ? tally.reboots : tally.shutdowns;
    repeatedFinding(events, shutdownRows, atLeast,
                    makeFinding(Severity::Warning, "events.shutdown", "Apagados inesperados",
                                "Compruebe la alimentación, la temperatura y la batería; también "
                                "pueden deberse a cuelgues o cortes de luz."),
                    out);
    storageFindings(events, tally, atLeast, out);
    errorsFinding(events, tally, atLeast, out);
}

} // namespace zeq::findings
