#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "findings/findings.h"
#include "support/findings_report.h"

// Updates, security, Windows support, events and unread sections, one table
// per rule, with values just inside and just outside each
// documented threshold. Reports are collected on 10 March 2026 unless a case says otherwise.
namespace zeq::findings {
namespace {

using json = nlohmann::json;
using namespace test;

constexpr const char* kPartial = "Listado parcial: límite de registros o tiempo alcanzado.";

// The newest InstalledOn that parses unambiguously more than 60 days before
// collected_at: warning. 8 January 2026 is 61 days before 10 March 2026.
TEST(FindingsSoftware, Updates) {
    struct Case {
        std::vector<const char*> installedOn;
        std::optional<Severity> expected;
        const char* error = nullptr;
        const char* collectedAt = "2026-03-10T10:00:00Z";
    };
    const Case cases[] = {
        {{"1/9/2026"}, kNone},
        {{"1/8/2026"}, kWarning},
        {{"1/8/2026", "3/1/2026"}, kNone},
        {{"1/8/2026", "13/2/2026"}, kWarning}, // day first: not the form Windows writes
        {{"1/8/2026", "3/11/2026"}, kNone},    // a day after collection: time zones
        {{"1/8/2026", "3/12/2026"}, kWarning}, // later: not believed
        {{"1/8/1999"}, kNone},
        {{"", nullptr}, kNone},
        {{}, kNone},
        {{"1/8/2026"}, kNone, kPartial},
        {{"1/8/2026"}, kNone, nullptr, "2026-13-10T10:00:00Z"},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.collectedAt(c.collectedAt);
        std::string label;
        for (const char* date : c.installedOn) {
            report.row(Section::Updates, {{"HotFixID", "KB5034441"},
                                          {"Description", "Security Update"},
                                          {"InstalledOn", text(date)}});
            label += std::string(orNull(date)) + " ";
        }
        if (c.error != nullptr) {
            report.error(Section::Updates, c.error);
        }
        EXPECT_EQ(onlySeverity(withRule(report.findings(), "updates.stale")), c.expected) << label;
    }
}

// Judged across all products: one on and up to date is enough; none on is
// critical; on but out of date is a warning; an empty complete list a warning.
TEST(FindingsSoftware, Security) {
    struct Product {
        const char* name;
        const char* state;
    };
    struct Case {
        std::vector<Product> products;
        std::optional<Severity> expected;
        const char* rule;
        const char* error = nullptr;
    };
    const char* unavailable =
        "No disponible: WMI 0x8004100E. Puede requerir permisos o un proveedor compatible.";
    const Case cases[] = {
        {{{"Windows Defender", "397568"}}, kNone, nullptr},                // 0x61100 on, current
        {{{"Windows Defender", "393472"}}, kCritical, "security.off"},     // 0x60100 off
        {{{"Windows Defender", "397584"}}, kWarning, "security.outdated"}, // 0x61110
        {{{"Windows Defender", "401664"}}, kCritical, "security.off"},     // 0x62100 snoozed
        {{{"Windows Defender", "393472"}, {"Avast Antivirus", "266240"}}, kNone, nullptr},
        {{{"Windows Defender", "393472"}, {"Avast Antivirus", "266256"}},
         kWarning,
         "security.outdated"},
        {{}, kWarning, "security.none"},
        {{}, kNone, nullptr, unavailable},
        {{{"Windows Defender", "393472"}}, kNone, nullptr, kPartial},
        {{{"Windows Defender", "393472"}, {"Otro", "abc"}}, kNone, nullptr},
        {{{"Windows Defender", nullptr}}, kNone, nullptr},
        {{{"Windows Defender", "16777215"}}, kCritical, "security.off"}, // 0xFFFFFF: not on
        {{{"Windows Defender", "16777216"}}, kNone, nullptr},            // above 24 bits
        {{{"Windows Defender", "0"}}, kNone, nullptr}, // no kind of product: not a state
    };
    for (const Case& c : cases) {
        FindingsReport report;
        std::string label;
        for (const Product& p : c.products) {
            report.row(Section::Security,
                       {{"displayName", p.name}, {"productState", text(p.state)}});
            label += std::string(orNull(p.state)) + " ";
        }
        if (c.error != nullptr) {
            report.error(Section::Security, c.error);
        }
        std::vector<Finding> found = withPrefix(report.findings(), "security.");
        EXPECT_EQ(onlySeverity(found), c.expected) << label;
        if (!found.empty() && c.rule != nullptr) {
            EXPECT_EQ(found.front().rule, c.rule) << label;
        }
    }
}

// Out of support after the last day of security updates of the release and
// edition: Windows 10 ended on 14 October 2025.
TEST(FindingsSoftware, WindowsSupport) {
    struct Case {
        const char* caption;
        const char* build;
        const char* collectedAt;
        bool outOfSupport;
    };
    const Case cases[] = {
        {"Microsoft Windows 10 Pro", "19045", "2025-10-14T23:59:59Z", false},
        {"Microsoft Windows 10 Pro", "19045", "2025-10-15T00:00:00Z", true},
        // The edition the caption names picks the date (Pro 13 June 2023,
        // Enterprise 11 June 2024).
        {"Microsoft Windows 10 Pro", "19044", "2023-06-14T12:00:00Z", true},
        {"Microsoft Windows 10 Enterprise", "19044", "2024-06-11T12:00:00Z", false},
        {"Microsoft Windows 11 Pro", "27000", "2040-01-01T10:00:00Z", false}, // unknown build
        {nullptr, "19045", "2026-03-10T10:00:00Z", false},
        {"Microsoft Windows 10 Pro", nullptr, "2026-03-10T10:00:00Z", false},
        {"Microsoft Windows 10 Pro", "19045", "2026-02-30T10:00:00Z", false},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.collectedAt(c.collectedAt);
        report.row(
            Section::Windows,
            {{"Caption", text(c.caption)}, {"BuildNumber", text(c.build)}, {"Version", "10.0"}});
        std::vector<Finding> found = withRule(report.findings(), "windows.unsupported");
        EXPECT_EQ(onlySeverity(found), c.outOfSupport ? kWarning : kNone)
            << orNull(c.caption) << " " << orNull(c.build) << " " << c.collectedAt;
    }
}

struct Event {
    const char* code;
    const char* source;
    const char* type;
    int times;
};

// Bug checks and unexpected shutdowns: warning, critical from three; disk and
// controller warnings: warning with source and count; errors by source: info.
// A full or cut list counts "al menos".
TEST(FindingsSoftware, Events) {
    const char* wer = "Microsoft-Windows-WER-SystemErrorReporting";
    const char* power = "Microsoft-Windows-Kernel-Power";
    struct Case {
        std::vector<Event> events;
        const char* rule;
        std::optional<Severity> expected;
        const char* title; // expected title, when one finding is expected
        const char* error = nullptr;
    };
    const Case cases[] = {
        {{{"1001", wer, "Error", 1}},
         "events.bugcheck",
         kWarning,
         "Pantallazos azules (Windows se detuvo por un error grave): 1 vez en los últimos 7 días"},
        {{{"1001", wer, "Error", 2}}, "events.bugcheck", kWarning, nullptr},
        {{{"1001", wer, "Error", 3}}, "events.bugcheck", kCritical, nullptr},
        {{{"1001", "BugCheck", "Error", 3}}, "events.bugcheck", kCritical, nullptr},
        {{{"1001", "Microsoft-Windows-Kernel-General", "Error", 3}},
         "events.bugcheck",
         kNone,
         nullptr},
        // One shutdown usually logs both events: the larger count, not the sum.
        {{{"41", power, "Error", 1}, {"6008", "EventLog", "Error", 1}},
         "events.shutdown",
         kWarning,
         "Apagados inesperados: 1 vez en los últimos 7 días"},
        {{{"41", power, "Error", 2}, {"6008", "EventLog", "Error", 1}},
         "events.shutdown",
         kWarning,
         "Apagados inesperados: 2 veces en los últimos 7 días"},
        {{{"41", power, "Error", 3}}, "events.shutdown", kCritical, nullptr},
        {{{"6008", "EventLog", "Error", 3}}, "events.shutdown", kCritical, nullptr},
        {{{"41", "Microsoft-Windows-Kernel-Boot", "Error", 3}}, "events.shutdown", kNone, nullptr},
        {{{"41", power, "Error", 1}},
         "events.shutdown",
         kWarning,
         "Apagados inesperados: al menos 1 vez en los últimos 7 días",
         kPartial},
        {{{"153", "disk", "Warning", 1}},
         "events.storage",
         kWarning,
         "Avisos de disco o controladora de «disk»: 1 evento"},
        {{{"7", "disk", "Error", 1}, {"51", "disk", "Warning", 2}, {"11", "disk", "Error", 1}},
         "events.storage",
         kWarning,
         "Avisos de disco o controladora de «disk»: 4 eventos"},
        {{{"129", "iaStorAC", "Warning", 4}},
         "events.storage",
         kWarning,
         "Avisos de disco o controladora de «iaStorAC»: 4 eventos"},
        {{{"157", "disk", "Warning", 1}}, "events.storage", kWarning, nullptr},
        {{{"153", "Microsoft-Windows-Kernel-General", "Warning", 5}},
         "events.storage",
         kNone,
         nullptr},
        {{{"55", "disk", "Error", 5}}, "events.storage", kNone, nullptr}, // not a storage code
        {{{"10016", "Microsoft-Windows-DistributedCOM", "Error", 2}},
         "events.errors",
         kInfo,
         "Errores en el registro del sistema: 2 errores de 1 origen"},
        {{{"10016", "Microsoft-Windows-DistributedCOM", "Warning", 2}},
         "events.errors",
         kNone,
         nullptr},
        {{{"7000", "Service Control Manager", "Error", 80}},
         "events.errors",
         kInfo,
         "Errores en el registro del sistema: al menos 80 errores de 1 origen"},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        for (const Event& e : c.events) {
            for (int i = 0; i < e.times; ++i) {
                report.row(Section::Events, {{"EventCode", e.code},
                                             {"SourceName", e.source},
                                             {"TimeGenerated", "20260308101500.000000-000"},
                                             {"Type", e.type}});
            }
        }
        if (c.error != nullptr) {
            report.error(Section::Events, c.error);
        }
        std::vector<Finding> found = withRule(report.findings(), c.rule);
        std::string label = std::string(c.rule) + " " + c.events.front().code + " " +
                            c.events.front().source + " x" + std::to_string(c.events.front().times);
        EXPECT_EQ(onlySeverity(found), c.expected) << label;
        if (!found.empty() && c.title != nullptr) {
            EXPECT_EQ(found.front().title, c.title) << label;
        }
    }
}

// Each section with an error text, the partial programs note, and "run as
// administrator" when access is denied to a report that is not elevated: info.
TEST(FindingsSoftware, WhatCouldNotBeRead) {
    auto unavailable = [](const char* hresult) {
        return std::string("No disponible: WMI 0x") + hresult +
               ". Puede requerir permisos o un proveedor compatible.";
    };
    struct Case {
        Section section;
        json error;
        bool elevated;
        std::vector<std::string> rules; // expected, in order
    };
    const Case cases[] = {
        {Section::Smart, unavailable("80041003"), false, {"unread.error", "unread.administrator"}},
        {Section::Smart, unavailable("80041003"), true, {"unread.error"}},
        {Section::AcpiTemperature,
         unavailable("80070005"),
         false,
         {"unread.error", "unread.administrator"}},
        {Section::DiskHealth, unavailable("8004100E"), false, {"unread.error"}},
        {Section::Drivers, kPartial, false, {"unread.partial"}},
        {Section::Programs,
         "Listado parcial. Se consultan programas del equipo (HKLM); no aplicaciones de otros "
         "usuarios ni todas las apps de Microsoft Store.",
         true,
         {"unread.partial"}},
        {Section::Programs,
         "Inventario HKLM: puede incluir duplicados entre vistas. No incluye todos los programas "
         "por usuario ni todas las apps de Microsoft Store.",
         true,
         {}},
        {Section::Smart, unavailable("8004100e"), false, {"unread.unknown"}}, // not as written
        {Section::Smart, 5, true, {"unread.unknown"}},
        {Section::Smart, nullptr, true, {"unread.unknown"}},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.elevated(c.elevated).error(c.section, c.error);
        std::vector<Finding> found = withPrefix(report.findings(), "unread.");
        std::vector<std::string> rules;
        for (const Finding& f : found) {
            rules.push_back(f.rule);
            EXPECT_EQ(f.severity, Severity::Info);
        }
        EXPECT_EQ(rules, c.rules) << c.error.dump() << "\n" << describe(found);
    }
}

TEST(FindingsSoftware, UnknownNotesAreKeptAsPlainText) {
    FindingsReport report;
    report.error(Section::Smart, "<img src=x onerror=alert(1)>\u0007\nfin");
    std::vector<Finding> found = withRule(report.findings(), "unread.unknown");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().evidence.front().value, "<img src=x onerror=alert(1)>\xEF\xBF\xBD fin");
}

TEST(FindingsSoftware, MissingSectionsAreSaid) {
    FindingsReport report;
    nlohmann::json broken = report.json();
    broken["sections"][13]["name"] = "SMART (otro)";
    broken["sections"][14].erase("rows");
    std::vector<Finding> found = withRule(findingsOf(broken), "unread.missing");
    ASSERT_EQ(found.size(), 2u) << describe(found);
    EXPECT_EQ(found[0].title, "Falta la sección «SMART» o no se puede leer");
}

} // namespace
} // namespace zeq::findings
