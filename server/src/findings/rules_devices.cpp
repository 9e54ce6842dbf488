#include "findings/device_problems.h"
#include "findings/report_text.h"
#include "findings/rules.h"

namespace zeq::findings {

namespace {

// Problem codes are small numbers (cfg.h defines them below 64); larger text
// is not a code.
constexpr std::uint64_t kMaxProblemCode = 0xFFFF;

void deviceFinding(const SectionView& devices, std::size_t i, Findings& out) {
    RowView row = devices.row(i);
    std::optional<std::uint64_t> code = row.number("ConfigManagerErrorCode", kMaxProblemCode);
    if (!code || *code == 0 || *code == kDeviceNotConnected) {
        return;
    }
    std::optional<std::string_view> name = row.text("Name");
    std::string device = name ? inQuotes(*name) : "sin nombre";
    std::optional<DeviceProblem> problem = findDeviceProblem(*code);
    std::string meaning = problem ? std::string(problem->meaning)
                                  : "Código sin significado documentado por Microsoft.";
    Finding finding =
        *code == kDeviceDisabled
            ? makeFinding(Severity::Info, "device.disabled", "Dispositivo deshabilitado: " + device,
                          "Si no se deshabilitó a propósito, habilítelo en el Administrador de "
                          "dispositivos.")
            : makeFinding(Severity::Warning, "device.problem",
                          "Dispositivo con problemas: " + device + " (código " +
                              std::to_string(*code) + ")",
                          "Revise el dispositivo en el Administrador de dispositivos; instale o "
                          "actualice su controlador.");
    finding.evidence.push_back(
        devices.evidence(i, "ConfigManagerErrorCode", std::to_string(*code) + ": " + meaning));
    if (std::optional<std::string_view> cls = row.text("PNPClass")) {
        finding.evidence.push_back(devices.evidence(i, "PNPClass", plainText(*cls, 60)));
    }
    out.push_back(std::move(finding));
}

} // namespace

void deviceFindings(const ReportView& report, Findings& out) {
    eachRowFindings(report, Section::DeviceErrors, deviceFinding, out);
}

} // namespace zeq::findings
