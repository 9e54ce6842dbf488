#include "sample_report.h"

#include <cstdio>
#include <stdexcept>

#include "base/crypto.h"
#include "upload/section_titles.h"

namespace zeq::test {

std::string newReportId() {
    std::vector<unsigned char> bytes = randomBytes(16);
    std::string hex = toHex(bytes.data(), bytes.size(), HexCase::Upper);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

std::string reportIdFor(unsigned long long n) {
    char text[40];
    std::snprintf(text, sizeof text, "5EED0000-0000-4000-8000-%012llX", n);
    return text;
}

namespace {

std::string document(const std::string& reportId, const std::string& padding) {
    std::string json =
        R"({"schema_version":1,"client_version":"1.0.0","consent":true,"report_id":")" + reportId +
        R"(","collected_at":"2024-03-07T10:00:00Z","elevated":false,"sections":[)";
    for (std::size_t i = 0; i + 1 < kSectionTitles.size(); ++i) {
        json += R"({"name":")" + std::string(kSectionTitles[i]) +
                R"(","rows":[{"Name":"Dispositivo \u00e9 \"citado\"","Size":"512110190592",)"
                R"("Status":"OK","Index":null}]},)";
    }
    json += R"({"name":"Programas instalados","rows":[{"DisplayName":"Navegador",)"
            R"("DisplayVersion":"124.0","Publisher":"Ejemplo S.L."},{"DisplayName":")" +
            padding + R"("}],"error":null}]})";
    return json;
}

} // namespace

std::string sampleReport(const std::string& reportId, std::size_t size) {
    std::string natural = document(reportId, "");
    if (size == 0) {
        return natural;
    }
    if (size < natural.size()) {
        throw std::invalid_argument("sample report smaller than its natural size");
    }
    std::string padding;
    padding.reserve(size - natural.size());
    static const char filler[] = "Programa de ejemplo ";
    while (padding.size() < size - natural.size()) {
        padding += filler[padding.size() % (sizeof filler - 1)];
    }
    return document(reportId, padding);
}

} // namespace zeq::test
