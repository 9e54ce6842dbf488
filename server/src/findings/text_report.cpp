#include "findings/text_report.h"

#include <vector>

#include "findings/findings.h"
#include "findings/member_units.h"
#include "findings/report_dates.h"
#include "findings/report_text.h"
#include "findings/report_view.h"

namespace zeq::findings {

namespace {

using json = nlohmann::json;

constexpr std::size_t kValueBytes = 300;

std::string envelopeText(const json& report, const char* member) {
    auto found = report.find(member);
    if (found == report.end() || !found->is_string()) {
        return "(no disponible)";
    }
    return plainText(found->get_ref<const json::string_t&>(), 80);
}

std::string header(std::string_view code, const json& report) {
    ReportView view(report);
    std::string elevated = view.elevated() == true    ? "sí"
                           : view.elevated() == false ? "no"
                                                      : "(no disponible)";
    return "Informe " + plainText(code, 40) + "\n" +
           "  report_id: " + envelopeText(report, "report_id") + "\n" +
           "  Recogido (UTC): " + envelopeText(report, "collected_at") + "\n" +
           "  Ejecutado como administrador: " + elevated + "\n";
}

std::string findingsText(const std::vector<Finding>& findings) {
    std::string text = "\nHALLAZGOS: " + countsText(countFindings(findings)) + "\n";
    if (findings.empty()) {
        text += "  Nada que señalar.\n";
    }
    for (const Finding& finding : findings) {
        text += "\n[" + std::string(severityLabel(finding.severity)) + "] " + finding.title + "\n";
        for (const Evidence& e : finding.evidence) {
            text += "    " + evidencePlace(e) + ": " + e.value + "\n";
        }
        if (!finding.advice.empty()) {
            text += "  Qué hacer: " + finding.advice + "\n";
        }
    }
    return text;
}

std::string rowText(Section section, const json& row, std::size_t index) {
    std::string text = "  Fila " + std::to_string(index + 1) + "\n";
    if (!row.is_object()) {
        return text + "    (no es un objeto)\n";
    }
    for (const auto& [member, value] : row.items()) {
        text +=
            "    " + plainText(member, 80) + ": " + readableValue(section, member, value) + "\n";
    }
    return text;
}

std::string sectionNote(const SectionView& view) {
    switch (view.state()) {
    case SectionState::Missing:
        return "  (falta la sección o no se puede leer)\n";
    case SectionState::Unavailable:
    case SectionState::Partial:
        return "  Nota: " + plainText(view.errorText(), kValueBytes) + "\n";
    case SectionState::Unknown:
        return "  Nota desconocida: " +
               (view.errorText().empty() ? std::string("(no es un texto)")
                                         : plainText(view.errorText(), kValueBytes)) +
               "\n";
    case SectionState::Complete:
        break;
    }
    return view.section() == Section::Programs ? "  Nota: " + plainText(view.errorText()) + "\n"
                                               : "";
}

std::string sectionsText(const json& report) {
    ReportView view(report);
    std::string text = "\nSECCIONES\n";
    for (std::size_t i = 0; i < kSectionCount; ++i) {
        auto section = static_cast<Section>(i);
        SectionView sectionView = view.section(section);
        text += "\n== " + std::to_string(i + 1) + ". " + std::string(sectionTitle(section)) +
                " ==\n" + sectionNote(sectionView);
        const json* rows = sectionView.rows();
        if (rows != nullptr && rows->empty()) {
            text += "  (sin filas)\n";
        }
        for (std::size_t r = 0; rows != nullptr && r < rows->size(); ++r) {
            text += rowText(section, (*rows)[r], r);
        }
    }
    return text;
}

} // namespace

std::string textReport(std::string_view code, std::string_view reportBytes) {
    json report = parseReport(reportBytes);
    if (!report.is_object()) {
        return "Informe " + plainText(code, 40) + "\n" + findingsText(findingsOf(report));
    }
    return header(code, report) + findingsText(findingsOf(report)) + sectionsText(report);
}

} // namespace zeq::findings
