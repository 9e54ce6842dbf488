#include "findings/finding.h"

namespace zeq::findings {

std::string_view severityLabel(Severity severity) {
    switch (severity) {
    case Severity::Critical:
        return "crítico";
    case Severity::Warning:
        return "aviso";
    case Severity::Info:
        break;
    }
    return "info";
}

std::string evidencePlace(const Evidence& evidence) {
    return evidence.section + (evidence.row ? ", fila " + std::to_string(*evidence.row + 1) : "") +
           ", " + evidence.member;
}

} // namespace zeq::findings
