#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "findings/disk_identity.h"
#include "support/findings_report.h"

// The disk rules, one table per rule, with values just inside and just outside
// each threshold in docs/findings.md: SMART PredictFailure "True" critical;
// HealthStatus 1 warning, 2 critical; Win32_DiskDrive Status "Pred Fail"
// critical, "Degraded"/"Error" warning; one finding per disk; Wear >= 80
// warning, >= 95 critical; temperature within 5 °C of a limit between 50 and
// 100 °C, otherwise >= 70 °C (SSD, NVMe, unknown) or >= 55 °C (hard disk);
// read/write error totals info only.
namespace zeq::findings {
namespace {

using json = nlohmann::json;
using namespace test;

TEST(FindingsDisks, HealthBySource) {
    struct Case {
        const char* predictFailure; // SMART
        const char* healthStatus;   // MSFT_PhysicalDisk
        const char* status;         // Win32_DiskDrive
        std::optional<Severity> expected;
        std::size_t evidence;
    };
    const Case cases[] = {
        {"False", "0", "OK", kNone, 0},
        {"True", "0", "OK", kCritical, 1},
        {"true", "0", "OK", kNone, 0}, // Windows writes "True"
        {"False", "1", "OK", kWarning, 1},
        {"False", "2", "OK", kCritical, 1},
        {"False", "5", "OK", kNone, 0}, // unknown
        {"False", "3", "OK", kNone, 0},
        {"False", "0", "Pred Fail", kCritical, 1},
        {"False", "0", "Degraded", kWarning, 1},
        {"False", "0", "Error", kWarning, 1},
        {"False", "0", "Unknown", kNone, 0},
        {nullptr, nullptr, nullptr, kNone, 0},
        // Several sources saying the same of one disk: one finding, the worst severity.
        {"True", "2", "Pred Fail", kCritical, 3},
        {"False", "1", "Pred Fail", kCritical, 2},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::PhysicalDisks, {{"Index", "0"},
                                            {"Model", "WDC WD10EZEX-08WN4A0"},
                                            {"SerialNumber", "WD-WCC6Y0ABCDEF"},
                                            {"Status", text(c.status)}});
        report.row(Section::DiskHealth, {{"FriendlyName", "WDC WD10EZEX-08WN4A0"},
                                         {"SerialNumber", "WD-WCC6Y0ABCDEF"},
                                         {"MediaType", "3"},
                                         {"HealthStatus", text(c.healthStatus)}});
        report.row(Section::Smart,
                   {{"InstanceName", "IDE\\DiskWDC_WD10EZEX-08WN4A0_______________01.01A01\\"
                                     "5&2f3a1b&0&0.0.0_0"},
                    {"PredictFailure", text(c.predictFailure)},
                    {"Reason", "0"}});
        std::vector<Finding> found = withRule(report.findings(), "disk.health");
        std::string label = std::string(orNull(c.predictFailure)) + "/" + orNull(c.healthStatus) +
                            "/" + orNull(c.status);
        EXPECT_EQ(onlySeverity(found), c.expected) << label;
        if (!found.empty()) {
            EXPECT_EQ(found.front().evidence.size(), c.evidence) << label;
            EXPECT_NE(found.front().title.find("«WDC WD10EZEX-08WN4A0»"), std::string::npos);
        }
    }
}

TEST(FindingsDisks, SourcesJoinOnlyWhereIdentifiersMatch) {
    struct Case {
        const char* what;
        json drives;   // Discos físicos
        json health;   // Salud de discos
        json smart;    // SMART
        json counters; // Fiabilidad de discos
        std::size_t disks;
        const char* drivesError = nullptr;
    };
    json drive0 = {{"Index", "0"},
                   {"Model", "Samsung SSD 970 EVO Plus 500GB"},
                   {"SerialNumber", "0025_3852_81B2_1C4D."}};
    json drive1 = {{"Index", "1"},
                   {"Model", "Samsung SSD 970 PRO 512GB"},
                   {"SerialNumber", "S463NF0M123456A"}};
    json smart970 = {
        {"InstanceName", "SCSI\\Disk&Ven_NVMe&Prod_Samsung_SSD_970\\5&1b6e4a1&0&000000_0"}};
    json noProduct = {{"InstanceName", "ROOT\\STORAGE\\0000_0"}};
    json zeros = {
        {"Index", "0"}, {"Model", "Virtual Disk"}, {"SerialNumber", "0000_0000_0000_0000."}};
    json none = json::array();
    const Case cases[] = {
        {"serial trimmed, case ignored",
         json::array({{{"Index", "0"}, {"Model", "A"}, {"SerialNumber", "  ab12  "}}}),
         json::array({{{"SerialNumber", "AB12"}}}), none, none, 1},
        {"serials differ",
         json::array({{{"Index", "0"}, {"Model", "A"}, {"SerialNumber", "AB12"}}}),
         json::array({{{"SerialNumber", "AB13"}}}), none, none, 2},
        {"placeholder serial", json::array({zeros}),
         json::array({{{"SerialNumber", "0000_0000_0000_0000."}}}), none, none, 2},
        {"counter by disk number", json::array({drive0, drive1}), none, none,
         json::array({{{"DeviceId", "1"}}}), 2},
        {"counter without a drive of that number", json::array({drive0}), none, none,
         json::array({{{"DeviceId", "1"}}}), 2},
        {"SMART product begins one model", json::array({drive0}), none, json::array({smart970}),
         none, 1},
        {"SMART product begins two models", json::array({drive0, drive1}), none,
         json::array({smart970}), none, 3},
        {"one SMART row naming no product, one drive", json::array({drive1}), none,
         json::array({noProduct}), none, 1},
        {"one SMART row naming another product, one drive", json::array({drive1}), none,
         json::array({{{"InstanceName", "SCSI\\Disk&Ven_&Prod_Other\\4&1&0_0"}}}), none, 2},
        {"one SMART row naming no product, two drives", json::array({drive0, drive1}), none,
         json::array({noProduct}), none, 3},
        // A list of drives cut short by an error may lack the SMART row's disk.
        {"one SMART row naming no product, drives cut short", json::array({drive1}), none,
         json::array({noProduct}), none, 2, "No disponible: WMI 0x800705B4."},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.rows(Section::PhysicalDisks, c.drives)
            .rows(Section::DiskHealth, c.health)
            .rows(Section::Smart, c.smart)
            .rows(Section::DiskReliability, c.counters);
        if (c.drivesError != nullptr) {
            report.error(Section::PhysicalDisks, c.drivesError);
        }
        EXPECT_EQ(identifyDisks(ReportView(report.json())).size(), c.disks) << c.what;
    }
    // A report with more disks than any PC: the first 64 rows of a section are
    // joined, the others stand alone but are still read.
    json manyDrives = json::array(), manyHealth = json::array();
    for (int i = 0; i < 100; ++i) {
        std::string serial = "S" + std::to_string(i);
        manyDrives.push_back(
            {{"Index", std::to_string(i)}, {"Model", "M"}, {"SerialNumber", serial}});
        manyHealth.push_back({{"SerialNumber", serial}, {"HealthStatus", i == 99 ? "2" : "0"}});
    }
    FindingsReport many;
    many.rows(Section::PhysicalDisks, manyDrives).rows(Section::DiskHealth, manyHealth);
    EXPECT_EQ(identifyDisks(ReportView(many.json())).size(), 64u + 36u + 36u);
    EXPECT_EQ(onlySeverity(withRule(many.findings(), "disk.health")), kCritical);
}

TEST(FindingsDisks, SmartProductsFromInstanceNames) {
    using Products = std::vector<std::string>;
    EXPECT_EQ(smartProducts("SCSI\\Disk&Ven_Samsung&Prod_SSD_860_EVO_500G\\4&2a3c5b9f&0&000000_0"),
              (Products{"SAMSUNG SSD 860 EVO 500G", "SSD 860 EVO 500G"}));
    EXPECT_EQ(smartProducts("SCSI\\Disk&Ven_&Prod_ST2000DM008-2FR1\\4&3a1f2c9d&0&020000_0"),
              (Products{"ST2000DM008-2FR1", "ST2000DM008-2FR1"}));
    EXPECT_EQ(
        smartProducts("IDE\\DiskST1000DM003-1ER162______________________CC45____\\5&1&0&0.0.0_0"),
        (Products{"ST1000DM003-1ER162"}));
    EXPECT_EQ(smartProducts(""), Products{});
    EXPECT_EQ(smartProducts("USBSTOR\\Disk&Ven_SanDisk"), Products{});
}

TEST(FindingsDisks, Wear) {
    struct Case {
        const char* wear;
        std::optional<Severity> expected;
    };
    const Case cases[] = {
        {"79", kNone},     {"80", kWarning},   {"94", kWarning},
        {"95", kCritical}, {"255", kCritical}, {"256", kNone}, // not a UInt8
        {nullptr, kNone},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::PhysicalDisks, {{"Index", "0"}, {"Model", "KINGSTON SA400S37240G"}});
        report.row(Section::DiskReliability, {{"DeviceId", "0"}, {"Wear", text(c.wear)}});
        EXPECT_EQ(onlySeverity(withRule(report.findings(), "disk.wear")), c.expected)
            << orNull(c.wear);
    }
}

// The counters join the drive by its number and take the media type from the
// health row joined by serial, so the hard disk's 55 °C threshold shows both joins.
TEST(FindingsDisks, Temperature) {
    struct Case {
        const char* temperature;
        const char* limit;     // TemperatureMax
        const char* mediaType; // MSFT_PhysicalDisk: 3 HDD, 4 SSD, 0 unknown; null: no row
        const char* busType;
        bool warns;
    };
    const Case cases[] = {
        // A drive's limit between 50 and 100 °C: within 5 °C of it.
        {"64", "70", "4", "11", false},
        {"65", "70", "4", "11", true},
        {"45", "50", "3", "11", true},
        {"94", "100", "4", "17", false},
        // No usable limit: 70 °C for SSD, NVMe and unknown media, 55 °C for hard disks.
        {"69", "49", "4", "11", false},
        {"70", "101", "4", "11", true},
        {"54", "0", "3", "11", false},
        {"55", "0", "3", "11", true},
        {"69", nullptr, "0", "17", false},
        {"69", nullptr, "0", "11", false},
        {"69", nullptr, nullptr, nullptr, false},
        {"70", nullptr, nullptr, nullptr, true},
        // Above 125 °C is not believed.
        {"125", "0", "3", "11", true},
        {"126", "0", "3", "11", false},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::PhysicalDisks,
                   {{"Index", "0"}, {"Model", "Disco de prueba"}, {"SerialNumber", "SN-1"}});
        if (c.mediaType != nullptr) {
            report.row(
                Section::DiskHealth,
                {{"SerialNumber", "SN-1"}, {"MediaType", c.mediaType}, {"BusType", c.busType}});
        }
        report.row(
            Section::DiskReliability,
            {{"DeviceId", "0"}, {"Temperature", c.temperature}, {"TemperatureMax", text(c.limit)}});
        EXPECT_EQ(onlySeverity(withRule(report.findings(), "disk.temperature")),
                  c.warns ? kWarning : kNone)
            << c.temperature << " limit " << orNull(c.limit) << " media " << orNull(c.mediaType)
            << " bus " << orNull(c.busType);
    }
}

TEST(FindingsDisks, ErrorTotalsAreInfoOnly) {
    struct Case {
        const char* read;
        const char* write;
        std::size_t evidence; // 0: no finding
    };
    const Case cases[] = {
        {"0", "0", 0},
        {nullptr, nullptr, 0},
        {"1", "0", 1},
        {"4", "9", 2},
        {"4294967294", "0", 1},
        {"4294967295", "0", 0}, // all bits set: "not reported"
        {"18446744073709551615", "0", 0},
    };
    for (const Case& c : cases) {
        FindingsReport report;
        report.row(Section::PhysicalDisks, {{"Index", "0"}, {"Model", "Disco"}});
        report.row(Section::DiskReliability, {{"DeviceId", "0"},
                                              {"ReadErrorsTotal", text(c.read)},
                                              {"WriteErrorsTotal", text(c.write)}});
        std::vector<Finding> found = withRule(report.findings(), "disk.errors");
        ASSERT_EQ(found.size(), c.evidence == 0 ? 0u : 1u) << describe(found);
        if (!found.empty()) {
            EXPECT_EQ(found.front().severity, Severity::Info);
            EXPECT_EQ(found.front().evidence.size(), c.evidence);
        }
    }
}

} // namespace
} // namespace zeq::findings
