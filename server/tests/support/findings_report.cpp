#include "findings_report.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "findings/findings.h"
#include "upload/section_titles.h"

namespace zeq::test {

FindingsReport::FindingsReport() {
    report_ = {{"schema_version", 1},
               {"client_version", "1.0.0"},
               {"consent", true},
               {"report_id", "5EED0000-0000-4000-8000-00000000F1D0"},
               {"collected_at", "2026-03-10T10:00:00Z"},
               {"elevated", true},
               {"sections", nlohmann::json::array()}};
    for (std::string_view title : kSectionTitles) {
        report_["sections"].push_back(
            {{"name", std::string(title)}, {"rows", nlohmann::json::array()}});
    }
    report_["sections"].back()["error"] =
        "Inventario HKLM: puede incluir duplicados entre vistas. No incluye todos los programas "
        "por usuario ni todas las apps de Microsoft Store.";
}

nlohmann::json& FindingsReport::section(Section which) {
    return report_["sections"][static_cast<std::size_t>(which)];
}

FindingsReport& FindingsReport::row(Section which, nlohmann::json row) {
    section(which)["rows"].push_back(std::move(row));
    return *this;
}

FindingsReport& FindingsReport::rows(Section which, nlohmann::json rows) {
    section(which)["rows"] = std::move(rows);
    return *this;
}

FindingsReport& FindingsReport::error(Section which, nlohmann::json error) {
    section(which)["error"] = std::move(error);
    return *this;
}

FindingsReport& FindingsReport::collectedAt(std::string text) {
    report_["collected_at"] = std::move(text);
    return *this;
}

FindingsReport& FindingsReport::elevated(bool elevated) {
    report_["elevated"] = elevated;
    return *this;
}

FindingsReport& FindingsReport::member(const std::string& name, nlohmann::json value) {
    if (value.is_discarded()) {
        report_.erase(name);
    } else {
        report_[name] = std::move(value);
    }
    return *this;
}

std::vector<findings::Finding> FindingsReport::findings() const {
    return findings::findingsOf(report_);
}

std::vector<findings::Finding> withRule(const std::vector<findings::Finding>& all,
                                        std::string_view rule) {
    std::vector<findings::Finding> matching;
    for (const findings::Finding& finding : all) {
        if (finding.rule == rule) {
            matching.push_back(finding);
        }
    }
    return matching;
}

std::vector<findings::Finding> withPrefix(const std::vector<findings::Finding>& all,
                                          std::string_view prefix) {
    std::vector<findings::Finding> matching;
    for (const findings::Finding& finding : all) {
        if (finding.rule.compare(0, prefix.size(), prefix) == 0) {
            matching.push_back(finding);
        }
    }
    return matching;
}

std::string describe(const std::vector<findings::Finding>& all) {
    std::string text;
    for (const findings::Finding& finding : all) {
        text += std::string(findings::severityLabel(finding.severity)) + " " + finding.rule + ": " +
                finding.title + "\n";
        for (const findings::Evidence& e : finding.evidence) {
            text += "    " + e.section +
                    (e.row ? " fila " + std::to_string(*e.row + 1) : std::string()) + " " +
                    e.member + " = " + e.value + "\n";
        }
    }
    return text;
}

std::string fixtureText(const std::string& name) {
    std::ifstream file(std::string(ZEQ_FIXTURES_DIR) + "/" + name, std::ios::binary);
    if (!file) {
        throw std::runtime_error("no fixture " + name);
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace zeq::test
