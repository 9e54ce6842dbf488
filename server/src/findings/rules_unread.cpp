#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/units.h"

namespace zeq::findings {

namespace {

// The WMI failures docs/report-format.md lists, in plain Spanish.
struct WmiFailure {
    std::uint32_t hresult;
    const char* meaning;
    bool accessDenied;
};
constexpr WmiFailure kWmiFailures[] = {
    {0x80041003, "acceso denegado: hace falta ser administrador", true},
    {0x80070005, "acceso denegado", true},
    {0x8004100E, "este Windows no tiene ese espacio de nombres de WMI", false},
    {0x80041010, "este Windows no tiene esa clase de WMI", false},
    {0x8004100C, "el equipo no ofrece esa información", false},
    {0x80041013, "el proveedor de WMI no pudo arrancar", false},
    {0x800705B4, "WMI tardó demasiado en responder", false},
    {0x80041001, "fallo de WMI o de su proveedor", false},
};

const WmiFailure* findFailure(std::optional<std::uint32_t> hresult) {
    for (const WmiFailure& failure : kWmiFailures) {
        if (hresult == failure.hresult) {
            return &failure;
        }
    }
    return nullptr;
}

std::optional<Finding> sectionFinding(const SectionView& section) {
    std::string title(section.title());
    switch (section.state()) {
    case SectionState::Complete:
        return std::nullopt;
    case SectionState::Missing:
        return makeFinding(Severity::Info, "unread.missing",
                           "Falta la sección «" + title + "» o no se puede leer", "");
    case SectionState::Unavailable: {
        const WmiFailure* failure = findFailure(section.hresult());
        Finding finding =
            makeFinding(Severity::Info, "unread.error", "No se pudo leer «" + title + "»", "");
        finding.evidence.push_back(section.evidence(
            "error", formatHresult(section.hresult().value_or(0)) +
                         (failure ? std::string(" (") + failure->meaning + ")" : "")));
        return finding;
    }
    case SectionState::Partial: {
        Finding finding =
            makeFinding(Severity::Info, "unread.partial",
                        section.section() == Section::Programs
                            ? "La lista de programas instalados está incompleta"
                            : "«" + title + "» está incompleto: límite de filas o de tiempo",
                        "");
        finding.evidence.push_back(section.evidence("error", plainText(section.errorText())));
        return finding;
    }
    case SectionState::Unknown:
        break;
    }
    Finding finding = makeFinding(Severity::Info, "unread.unknown",
                                  "«" + title + "» lleva una nota desconocida", "");
    finding.evidence.push_back(section.evidence("error", section.errorText().empty()
                                                             ? "(no es un texto)"
                                                             : plainText(section.errorText())));
    return finding;
}

// Sections that failed with "access denied" while the tool ran without rights.
void administratorFinding(const ReportView& report, Findings& out) {
    if (report.elevated() != false) {
        return;
    }
    Finding finding = makeFinding(Severity::Info, "unread.administrator",
                                  "Algunas secciones necesitan permisos de administrador",
                                  "Pida que ejecuten ZEQHealth.exe con «Ejecutar como "
                                  "administrador» y envíen un informe nuevo.");
    for (std::size_t i = 0; i < kSectionCount; ++i) {
        SectionView section = report.section(static_cast<Section>(i));
        const WmiFailure* failure = findFailure(section.hresult());
        if (section.state() == SectionState::Unavailable && failure && failure->accessDenied) {
            finding.evidence.push_back(section.evidence("error", formatHresult(failure->hresult)));
        }
    }
    if (!finding.evidence.empty()) {
        out.push_back(std::move(finding));
    }
}

} // namespace

void unreadFindings(const ReportView& report, Findings& out) {
    for (std::size_t i = 0; i < kSectionCount; ++i) {
        SectionView section = report.section(static_cast<Section>(i));
        if (std::optional<Finding> finding = sectionFinding(section)) {
            out.push_back(std::move(*finding));
        }
    }
    administratorFinding(report, out);
}

} // namespace zeq::findings
