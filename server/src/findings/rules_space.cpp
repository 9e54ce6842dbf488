#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/thresholds.h"
#include "findings/units.h"

namespace zeq::findings {

namespace {

namespace t = thresholds;

// free / size < percent / 100, exactly.
bool shareBelow(std::uint64_t free, std::uint64_t size, std::uint64_t percent) {
    using wide = unsigned __int128;
    return static_cast<wide>(free) * 100 < static_cast<wide>(size) * percent;
}

bool isSystemVolume(std::string_view deviceId) {
    return deviceId == "C:" || deviceId == "c:";
}

std::optional<Severity> spaceSeverity(std::uint64_t free, std::uint64_t size, bool system) {
    bool lowShare = shareBelow(free, size, t::kSystemCriticalPercent);
    bool lowAmount = free < t::kSystemCriticalFree;
    if (system ? (lowShare || lowAmount) : (lowShare && lowAmount)) {
        return Severity::Critical;
    }
    if (shareBelow(free, size, t::kSystemWarningPercent) && free < t::kSystemWarningFree) {
        return Severity::Warning;
    }
    return std::nullopt;
}

void volumeFinding(const SectionView& volumes, std::size_t i, Findings& out) {
    RowView row = volumes.row(i);
    std::optional<std::uint64_t> size = row.number("Size", t::kVolumeSizeMax);
    std::optional<std::uint64_t> free = row.number("FreeSpace", t::kVolumeSizeMax);
    if (!size || !free || *size == 0 || *free > *size) {
        return;
    }
    std::optional<std::string_view> deviceId = row.text("DeviceID");
    bool system = deviceId && isSystemVolume(*deviceId);
    std::optional<Severity> severity = spaceSeverity(*free, *size, system);
    if (!severity) {
        return;
    }
    std::string name = deviceId ? plainText(*deviceId, 40) : "un volumen sin letra";
    long double percent =
        static_cast<long double>(*free) * 100.0L / static_cast<long double>(*size);
    Finding finding = makeFinding(
        *severity, "space.low",
        (*severity == Severity::Critical ? "Espacio libre crítico en " : "Poco espacio libre en ") +
            name + ", quedan " + formatGibibytes(*free),
        system ? "Libere espacio (Liberador de espacio en disco, archivos temporales, descargas) "
                 "o amplíe el disco: Windows necesita espacio para actualizarse."
               : "Libere espacio en el volumen o amplíelo.");
    finding.evidence.push_back(volumes.evidence(
        i, "FreeSpace", formatGibibytes(*free) + " (" + formatPercent(percent) + ")"));
    finding.evidence.push_back(volumes.evidence(i, "Size", formatGibibytes(*size)));
    out.push_back(std::move(finding));
}

} // namespace

void spaceFindings(const ReportView& report, Findings& out) {
    eachRowFindings(report, Section::Volumes, volumeFinding, out);
}

} // namespace zeq::findings
