#include "findings/findings.h"

#include <algorithm>

#include "findings/report_text.h"
#include "findings/report_tree.h"
#include "findings/rules.h"

namespace zeq::findings {

namespace {

using RuleGroup = void (*)(const ReportView&, Findings&);

// In the order their findings are listed within one severity.
constexpr RuleGroup kRuleGroups[] = {
    diskFindings,    spaceFindings,  memoryFindings, batteryFindings,
    thermalFindings, deviceFindings, updateFindings, securityFindings,
    supportFindings, eventFindings,  unreadFindings,
};

// Values deeper than a row's members (an object or array where the report
// has a string) are dropped while parsing: no rule reads them, and a deeply
// nested value must not cost a deep tree.

} // namespace

std::string inQuotes(std::string_view text) {
    return "«" + plainText(text, 80) + "»";
}

std::string counted(std::size_t count, std::string_view singular, std::string_view plural,
                    bool atLeast) {
    return (atLeast ? "al menos " : "") + std::to_string(count) + " " +
           std::string(count == 1 ? singular : plural);
}

Finding makeFinding(Severity severity, std::string rule, std::string title, std::string advice) {
    Finding finding;
    finding.severity = severity;
    finding.rule = std::move(rule);
    finding.title = std::move(title);
    finding.advice = std::move(advice);
    return finding;
}

void eachRowFindings(const ReportView& report, Section section, RowRule rule, Findings& out) {
    SectionView rows = report.section(section);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rule(rows, i, out);
    }
}

namespace {

Finding unreadableReport() {
    return makeFinding(Severity::Info, "report.unreadable",
                       "El informe guardado no se puede leer como JSON",
                       "Descargue el informe y revíselo a mano.");
}

} // namespace

std::vector<Finding> findingsOf(const nlohmann::json& report) {
    if (!report.is_object()) {
        return {unreadableReport()};
    }
    ReportView view(report);
    Findings findings;
    for (RuleGroup group : kRuleGroups) {
        group(view, findings);
    }
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return static_cast<int>(a.severity) < static_cast<int>(b.severity);
    });
    return findings;
}

nlohmann::json parseReport(std::string_view reportBytes) {
    nlohmann::json parsed;
    ReportTreeBuilder tree(parsed);
    nlohmann::json::sax_parse(reportBytes.begin(), reportBytes.end(), &tree);
    // Two returns, not a conditional expression: that would copy the whole tree.
    if (!tree.complete()) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    return parsed;
}

std::vector<Finding> findingsOfBytes(std::string_view reportBytes) {
    return findingsOf(parseReport(reportBytes));
}

FindingCounts countFindings(const std::vector<Finding>& findings) {
    FindingCounts counts;
    for (const Finding& finding : findings) {
        switch (finding.severity) {
        case Severity::Critical:
            ++counts.critical;
            break;
        case Severity::Warning:
            ++counts.warning;
            break;
        case Severity::Info:
            ++counts.info;
            break;
        }
    }
    return counts;
}

std::string countsText(const FindingCounts& counts) {
    return std::to_string(counts.critical) + " críticos, " + std::to_string(counts.warning) +
           " avisos, " + std::to_string(counts.info) + " informativos";
}

} // namespace zeq::findings
