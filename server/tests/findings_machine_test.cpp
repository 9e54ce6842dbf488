#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/findings_report.h"

// Space, memory, battery, ACPI temperature and device rules, one table per
// rule, with values just inside and just outside each documented threshold.
namespace zeq::findings {
namespace {

using namespace test;

constexpr std::uint64_t GiB = 1024ULL * 1024 * 1024;

// C: with less than 10 % and less than 20 GiB free: warning; less than 3 % or
// less than 2 GiB: critical. Other volumes: only when both are low.
TEST(FindingsMachine, Space) {
    struct Case {
        const char* volume;
        std::uint64_t size;
        std::uint64_t free;
        std::optional<Severity> expected;
    };
    const Case cases[] = {
        {"C:", 100 * GiB, 10 * GiB, kNone},        // exactly 10 %
        {"C:", 100 * GiB, 10 * GiB - 1, kWarning}, // just under 10 %, under 20 GiB
        {"C:", 500 * GiB, 20 * GiB, kNone},        // 4 %, but exactly 20 GiB
        {"C:", 500 * GiB, 20 * GiB - 1, kWarning}, // 4 %, just under 20 GiB
        {"C:", 100 * GiB, 3 * GiB, kWarning},      // exactly 3 %
        {"C:", 100 * GiB, 3 * GiB - 1, kCritical}, // just under 3 %
        {"C:", 10 * GiB, 2 * GiB, kNone},          // 20 %, exactly 2 GiB
        {"C:", 10 * GiB, 2 * GiB - 1, kCritical},  // 20 %, just under 2 GiB
        {"C:", 1000 * GiB, 21 * GiB, kCritical},   // 2.1 %: the share alone
        {"c:", 100 * GiB, 3 * GiB - 1, kCritical},
        {"D:", 1000 * GiB, 21 * GiB, kNone},       // 2.1 % but 21 GiB: not both
        {"D:", 100 * GiB, 10 * GiB - 1, kWarning}, // both under 10 % and 20 GiB
        {"D:", 500 * GiB, 20 * GiB - 1, kWarning},
        {"D:", 500 * GiB, 20 * GiB, kNone},
        {"D:", 100 * GiB, 2 * GiB, kWarning},      // 2 %: under 3 % but not under 2 GiB
        {"D:", 100 * GiB, 2 * GiB - 1, kCritical}, // both under 3 % and 2 GiB
        {"D:", 10 * GiB, 2 * GiB - 1, kNone},      // under 2 GiB but 20 %
        {"E:", 0, 0, kNone},                       // no size: nothing to judge
        {"C:", 10 * GiB, 11 * GiB, kNone},         // more free than size
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::Volumes, {{"DeviceID", c.volume},
                                      {"FileSystem", "NTFS"},
                                      {"Size", std::to_string(c.size)},
                                      {"FreeSpace", std::to_string(c.free)},
                                      {"Status", nullptr}});
        EXPECT_EQ(onlySeverity(withRule(report.findings(), "space.low")), c.expected)
            << c.volume << " " << c.free << " of " << c.size;
    }
}

// Installed memory is the sum of the modules' Capacity: under 4 GiB warning;
// under 8 GiB on Windows 11 info. A module of unknown size, or a list that is
// not complete, says nothing about the total.
TEST(FindingsMachine, Memory) {
    struct Case {
        std::vector<const char*> capacities;
        const char* caption;
        const char* build;
        const char* error;
        std::optional<Severity> expected;
    };
    const char* win10 = "Microsoft Windows 10 Pro";
    const char* win11 = "Microsoft Windows 11 Pro";
    const char* partial = "Listado parcial: límite de registros o tiempo alcanzado.";
    const Case cases[] = {
        {{"4294967296"}, win10, "19045", nullptr, kNone},
        {{"4294967295"}, win10, "19045", nullptr, kWarning},
        {{"2147483648", "2147483648"}, win10, "19045", nullptr, kNone},
        {{"8589934591"}, win11, "26100", nullptr, kInfo},
        {{"8589934592"}, win11, "26100", nullptr, kNone},
        {{"4294967296"}, win11, "22000", nullptr, kInfo},
        {{"4294967295"}, win11, "22000", nullptr, kWarning},
        {{"4294967296"}, "Microsoft Windows Server 2025 Standard", "26100", nullptr, kNone},
        {{"4294967296"}, win10, "21996", nullptr, kNone},
        {{"4294967296"}, nullptr, "26100", nullptr, kNone},
        {{"2147483648", nullptr}, win10, "19045", nullptr, kNone},
        {{"2147483648", "0"}, win10, "19045", nullptr, kNone},
        {{}, win10, "19045", nullptr, kNone},
        {{"2147483648"}, win10, "19045", partial, kNone},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        for (const char* capacity : c.capacities) {
            report.row(Section::Memory, {{"Capacity", text(capacity)}, {"DeviceLocator", "DIMM"}});
        }
        if (c.error != nullptr) {
            report.error(Section::Memory, c.error);
        }
        report.row(Section::Windows, {{"Caption", text(c.caption)}, {"BuildNumber", c.build}});
        // What Windows can use is not what is installed.
        report.row(Section::Computer, {{"TotalPhysicalMemory", "1073741824"}});
        std::vector<Finding> found = withPrefix(report.findings(), "memory.");
        std::string label = std::to_string(c.capacities.size()) + " modules, " +
                            (c.capacities.empty() || !c.capacities[0] ? "-" : c.capacities[0]) +
                            ", " + c.build + (c.error ? ", partial" : "");
        EXPECT_EQ(onlySeverity(found), c.expected) << label;
    }
}

// Full-charge capacity under 60 % of the design capacity, both present and
// not zero.
TEST(FindingsMachine, Battery) {
    struct Case {
        const char* design;
        const char* full;
        std::optional<Severity> expected;
    };
    const Case cases[] = {
        {"50000", "30000", kNone},
        {"50000", "29999", kWarning},
        {nullptr, "30000", kNone},
        {"50000", nullptr, kNone},
        {"0", "100", kNone},
        {"100", "0", kNone},
        {"1000000", "599999", kWarning},
        {"4294967295", "40000", kNone}, // a common "unknown", not a capacity
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::Battery, {{"Name", "DELL 0MTJN13"},
                                      {"DesignCapacity", text(c.design)},
                                      {"FullChargeCapacity", text(c.full)}});
        EXPECT_EQ(onlySeverity(withRule(report.findings(), "battery.worn")), c.expected)
            << orNull(c.design) << "/" << orNull(c.full);
    }
}

// ACPI zones in tenths of a kelvin, (value - 2731.5) / 10 °C. Readings between
// 0 and 110 °C count; a trip point counts when above the reading and between
// 60 and 130 °C. >= 85 °C warning; within 5 °C of a valid trip point critical.
TEST(FindingsMachine, AcpiTemperature) {
    struct Case {
        const char* current;
        const char* trip;
        std::optional<Severity> expected;
    };
    const Case cases[] = {
        {"3581", nullptr, kNone},    // 84.95 °C
        {"3582", nullptr, kWarning}, // 85.05 °C
        {"3831", nullptr, kWarning}, // 109.95 °C
        {"3832", nullptr, kNone},    // 110.05 °C: not a believable reading
        {"3300", "3350", kCritical}, // 56.85 °C, trip 61.85 °C: 5.0 °C away
        {"3300", "3351", kNone},     // 5.1 °C away
        {"3290", "3331", kNone},     // trip 59.95 °C: not a valid trip point
        {"3290", "3332", kCritical}, // trip 60.05 °C, 4.2 °C away
        {"3990", "4031", kNone},     // reading 125.95 °C: not believed
        {"3700", "3650", kWarning},  // trip below the reading: not valid
        {"3700", "3700", kWarning},  // trip equal to the reading: not above it
        {"3700", "3750", kCritical}, // 96.85 °C, trip 101.85 °C
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::AcpiTemperature, {{"InstanceName", "ACPI\\ThermalZone\\THM0_0"},
                                              {"CurrentTemperature", text(c.current)},
                                              {"CriticalTripPoint", text(c.trip)}});
        EXPECT_EQ(onlySeverity(withPrefix(report.findings(), "thermal.")), c.expected)
            << orNull(c.current) << " trip " << orNull(c.trip);
    }
}

// Each device row with its Device Manager meaning: 22 info, 45 ignored, the
// rest warning.
TEST(FindingsMachine, DevicesWithErrors) {
    struct Case {
        const char* code;
        std::optional<Severity> expected;
        const char* meaningPart; // in the evidence
    };
    const Case cases[] = {
        {"0", kNone, nullptr},
        {"45", kNone, nullptr},
        {"22", kInfo, "deshabilitado"},
        {"28", kWarning, "no están instalados"},
        {"58", kWarning, "sin significado documentado"},
        {"65535", kWarning, "sin significado documentado"},
        {"65536", kNone, nullptr},
        {nullptr, kNone, nullptr},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::DeviceErrors, {{"Name", "Dispositivo desconocido"},
                                           {"PNPClass", nullptr},
                                           {"ConfigManagerErrorCode", text(c.code)},
                                           {"Status", "Error"}});
        std::vector<Finding> found = withPrefix(report.findings(), "device.");
        EXPECT_EQ(onlySeverity(found), c.expected) << orNull(c.code);
        if (!found.empty() && c.meaningPart != nullptr) {
            EXPECT_NE(found.front().evidence.front().value.find(c.meaningPart), std::string::npos)
                << orNull(c.code) << ": " << found.front().evidence.front().value;
        }
    }
}

} // namespace
} // namespace zeq::findings
