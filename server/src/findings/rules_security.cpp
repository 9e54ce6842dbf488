#include "findings/report_text.h"
#include "findings/rules.h"
#include "findings/units.h"

namespace zeq::findings {

namespace {

// productState uses 24 bits (product type, state, definitions); larger values
// are not a productState.
constexpr std::uint64_t kMaxProductState = 0xFFFFFF;

struct Products {
    bool anyOnAndCurrent = false;
    bool anyOn = false;
    bool anyUnreadable = false;
    std::vector<Evidence> evidence;
};

Products readProducts(const SectionView& security) {
    Products products;
    for (std::size_t i = 0; i < security.size(); ++i) {
        RowView row = security.row(i);
        std::optional<std::uint64_t> state = row.number("productState", kMaxProductState);
        // The top byte names the kind of product and is never 0 in a state
        // Windows reports: "0" is a value that says nothing.
        if (!state || (*state >> 16) == 0) {
            products.anyUnreadable = true;
            continue;
        }
        auto bits = static_cast<std::uint32_t>(*state);
        ProductState decoded = decodeProductState(bits);
        products.anyOnAndCurrent = products.anyOnAndCurrent || (decoded.on && decoded.upToDate);
        products.anyOn = products.anyOn || decoded.on;
        std::string name = plainText(row.text("displayName").value_or("sin nombre"), 80);
        products.evidence.push_back(security.evidence(i, "productState",
                                                      std::to_string(*state) + " (" + name + ": " +
                                                          describeProductState(bits) + ")"));
    }
    return products;
}

} // namespace

void securityFindings(const ReportView& report, Findings& out) {
    SectionView security = report.section(Section::Security);
    // An error (Windows Server has no Security Center) or a partial list says
    // nothing about what is missing.
    if (!security.complete()) {
        return;
    }
    if (security.size() == 0) {
        Finding finding = makeFinding(Severity::Warning, "security.none",
                                      "Ningún antivirus registrado en el Centro de seguridad",
                                      "Compruebe que Microsoft Defender u otro antivirus esté "
                                      "instalado y activo.");
        finding.evidence.push_back(security.evidence("rows", "ninguna fila"));
        out.push_back(std::move(finding));
        return;
    }
    Products products = readProducts(security);
    // One product on and current is enough (Defender turns itself off when
    // another is on); a row that cannot be read might be that product.
    if (products.anyOnAndCurrent || products.anyUnreadable) {
        return;
    }
    Finding finding =
        products.anyOn
            ? makeFinding(Severity::Warning, "security.outdated",
                          "El antivirus activo tiene las firmas desactualizadas",
                          "Actualice las firmas del antivirus y compruebe su suscripción.")
            : makeFinding(Severity::Critical, "security.off", "Ningún antivirus activo",
                          "Active Microsoft Defender o el antivirus instalado.");
    finding.evidence = std::move(products.evidence);
    out.push_back(std::move(finding));
}

} // namespace zeq::findings
