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

} // namespace zeq::findings
