#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "findings/findings.h"
#include "findings/report_overview.h"
#include "support/findings_report.h"
#include "upload/report_envelope.h"

// Reports written by hand in the shape of real Windows 10 and 11 PCs (forms
// and values as Windows writes them: DMTF dates, M/D/YYYY InstalledOn,
// placeholder identities, productState numbers, padded serial numbers), and
// the findings the documented thresholds give for them.
namespace zeq::findings {
namespace {

using test::describe;
using test::fixtureText;

struct Expected {
    Severity severity;
    std::string rule;
    std::string title;
};

// The fixture's findings in order, and its overview: the one an upload reads
// while checking the envelope equals the one read again from the stored bytes
// (an import, a stored report), counts the findings and names the machine by
// its maker and model (from the motherboard when the firmware gives only
// placeholders, placeholders when nothing else names it).
void expectFindings(const std::string& fixture, const char* manufacturer, const char* model,
                    const std::vector<Expected>& expected) {
    std::string bytes = fixtureText(fixture);
    ReportOverview read;
    ASSERT_EQ(checkReport(bytes, read).problem, ReportProblem::None) << fixture;
    std::vector<Finding> found = findingsOfBytes(bytes);
    ASSERT_EQ(found.size(), expected.size()) << fixture << ":\n" << describe(found);
    std::int64_t critical = 0, warning = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(found[i].severity, expected[i].severity) << i << "\n" << describe(found);
        EXPECT_EQ(found[i].rule, expected[i].rule) << i << "\n" << describe(found);
        EXPECT_EQ(found[i].title, expected[i].title) << i << "\n" << describe(found);
        critical += expected[i].severity == Severity::Critical;
        warning += expected[i].severity == Severity::Warning;
    }
    auto fields = [](const ReportOverview& o) {
        return std::tie(o.manufacturer, o.model, o.serial, o.machineUuid, o.windowsCaption,
                        o.critical, o.warning, o.rulesVersion);
    };
    ReportOverview again = overviewOf(bytes);
    EXPECT_EQ(fields(read), fields(again)) << fixture;
    EXPECT_EQ(read.manufacturer, manufacturer) << fixture;
    EXPECT_EQ(read.model, model) << fixture;
    EXPECT_EQ(read.critical, critical) << fixture;
    EXPECT_EQ(read.warning, warning) << fixture;
    EXPECT_EQ(read.rulesVersion, kRulesVersion) << fixture;
}

// Windows 10 Pro 22H2 on a Dell OptiPlex, run without administrator rights,
// collected on 10 March 2026: Windows 10 is out of support, C: is low, the
// last update is from 15 October 2025, one device lacks its driver.
TEST(FindingsFixtures, Windows10OfficeDesktop) {
    expectFindings(
        "windows10_office_desktop.json", "Dell Inc.", "OptiPlex 7050",
        {
            {Severity::Warning, "space.low", "Poco espacio libre en C:, quedan 15,0 GiB"},
            {Severity::Warning, "device.problem",
             "Dispositivo con problemas: «Controladora de comunicaciones simple PCI» (código 28)"},
            {Severity::Warning, "updates.stale",
             "Sin actualizaciones instaladas desde hace 146 días"},
            {Severity::Warning, "windows.unsupported",
             "Windows 10 versión 22H2 no recibe actualizaciones de seguridad desde el 14/10/2025"},
            {Severity::Warning, "events.shutdown",
             "Apagados inesperados: 1 vez en los últimos 7 días"},
            {Severity::Warning, "events.storage",
             "Avisos de disco o controladora de «disk»: 2 eventos"},
            {Severity::Info, "device.disabled",
             "Dispositivo deshabilitado: «Microsoft Wi-Fi Direct Virtual Adapter #2»"},
            {Severity::Info, "events.errors",
             "Errores en el registro del sistema: 6 errores de 5 orígenes"},
            {Severity::Info, "unread.error", "No se pudo leer «SMART»"},
            {Severity::Info, "unread.error",
             "No se pudo leer «Fiabilidad de discos (Windows moderno)»"},
            {Severity::Info, "unread.error",
             "No se pudo leer «Temperatura ACPI (no necesariamente CPU)»"},
            {Severity::Info, "unread.administrator",
             "Algunas secciones necesitan permisos de administrador"},
        });
}

// Windows 11 Home 24H2 on a budget laptop with placeholder identities, run as
// administrator on 15 September 2026: three blue screens, a worn SSD and
// battery, C: nearly full, 4 GiB of memory.
TEST(FindingsFixtures, Windows11BudgetLaptop) {
    expectFindings(
        "windows11_budget_laptop.json", "To be filled by O.E.M.", "To be filled by O.E.M.",
        {
            {Severity::Critical, "space.low", "Espacio libre crítico en C:, quedan 1,4 GiB"},
            {Severity::Critical, "events.bugcheck",
             "Pantallazos azules (Windows se detuvo por un error grave): 3 veces en los últimos 7 "
             "días"},
            {Severity::Critical, "events.shutdown",
             "Apagados inesperados: 3 veces en los últimos 7 días"},
            {Severity::Warning, "disk.wear",
             "El disco «SAMSUNG MZVLB128HBHQ-000L7» ha gastado el 84 % de su vida útil"},
            {Severity::Warning, "battery.worn",
             "Batería desgastada: carga completa al 56,8 % de su capacidad de diseño"},
            {Severity::Warning, "events.storage",
             "Avisos de disco o controladora de «stornvme»: 1 evento"},
            {Severity::Info, "memory.windows11", "Memoria justa para Windows 11: 4,0 GiB"},
            {Severity::Info, "events.errors",
             "Errores en el registro del sistema: 7 errores de 3 orígenes"},
        });
}

// A healthy Windows 11 Pro 25H2 desktop with a USB stick and placeholder
// identities: nothing but the thermal zone the board does not offer.
TEST(FindingsFixtures, Windows11GamingDesktopIsHealthy) {
    expectFindings("windows11_gaming_desktop.json", "ASUSTeK COMPUTER INC.", "TUF GAMING B550-PLUS",
                   {
                       {Severity::Info, "unread.error",
                        "No se pudo leer «Temperatura ACPI (no necesariamente CPU)»"},
                   });
}

// What the tool writes under Wine (one line, as the tool writes it): few
// classes answer, most sections end in "No disponible". Errors are reported as
// such and never become findings of absence (no antivirus, no events, no
// updates); what the rows do say is judged like any other report.
TEST(FindingsFixtures, SparseReportFromWine) {
    auto unread = [](const char* title) {
        return Expected{Severity::Info, "unread.error",
                        std::string("No se pudo leer «") + title + "»"};
    };
    expectFindings("wine_sparse.json", "The Wine Project", "Wine",
                   {
                       {Severity::Warning, "memory.low", "Poca memoria instalada: 3,8 GiB"},
                       {Severity::Warning, "windows.unsupported",
                        "Windows 10 versión 21H1 no recibe actualizaciones de seguridad desde el "
                        "13/12/2022"},
                       unread("Bancos de memoria"),
                       unread("Pantallas"),
                       unread("Particiones"),
                       unread("SMART"),
                       unread("Salud de discos (Windows moderno)"),
                       unread("Fiabilidad de discos (Windows moderno)"),
                       unread("Batería"),
                       unread("Temperatura ACPI (no necesariamente CPU)"),
                       unread("Dispositivos con errores"),
                       unread("Controladores"),
                       unread("Seguridad"),
                       unread("Eventos del sistema (últimos 7 días, máximo 80)"),
                   });
}

} // namespace
} // namespace zeq::findings
