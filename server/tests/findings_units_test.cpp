#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

#include "base/calendar.h"
#include "findings/member_units.h"
#include "findings/report_dates.h"
#include "findings/report_text.h"
#include "findings/units.h"

// Readable units, report dates, plain text and the calendar beneath them.
namespace zeq::findings {
namespace {

TEST(FindingsUnits, Decimals) {
    EXPECT_EQ(formatDecimal(12.34L, 1), "12,3");
    EXPECT_EQ(formatDecimal(1.96L, 1), "2,0");
    EXPECT_EQ(formatDecimal(-3.14159L, 2), "-3,14");
    EXPECT_EQ(formatDecimal(0, 1), "0,0");
    EXPECT_EQ(formatDecimal(-0.04L, 1), "0,0");
    EXPECT_EQ(formatDecimal(7, 0), "7");
    EXPECT_EQ(formatDecimal(0.5L, 3), "0,500");
    EXPECT_EQ(formatDecimal(1e30L, 1), "?");
    EXPECT_EQ(formatDecimal(std::numeric_limits<long double>::quiet_NaN(), 1), "?");
    EXPECT_EQ(formatDecimal(1, 4), "?");
}

TEST(FindingsUnits, Bytes) {
    EXPECT_EQ(formatGibibytes(0), "0,0 GiB");
    EXPECT_EQ(formatBytes(512), "512 B");
    EXPECT_EQ(formatBytes(1000), "1,0 KB (1000 B)");
    EXPECT_EQ(formatBytes(1048576), "1,0 MB (1,0 MiB)");
    EXPECT_EQ(formatBytes(500107862016), "500,1 GB (465,8 GiB)");
    EXPECT_EQ(formatBytes(1000000000000), "1,0 TB (931,3 GiB)");
    EXPECT_EQ(formatBytes(UINT64_MAX), "18446744,1 TB (16777216,0 TiB)");
    EXPECT_EQ(formatKilobytes(UINT64_MAX), "18446744073709551615 KB");
}

TEST(FindingsUnits, OtherUnitsProductStateAndBattery) {
    EXPECT_EQ(formatMegahertz(800), "800 MHz");
    EXPECT_EQ(formatPercent(12.5L), "12,5 %");
    EXPECT_EQ(formatCelsius(45.25L), "45,3 °C");
    EXPECT_EQ(formatTenthsOfKelvin(3732), "100,05 °C");
    EXPECT_EQ(formatTenthsOfKelvin(0), "-273,15 °C");
    EXPECT_EQ(formatYesNo("False"), "no");
    EXPECT_EQ(formatYesNo("true"), std::nullopt);
    EXPECT_EQ(formatYesNo(""), std::nullopt);
    EXPECT_EQ(describeProductState(393472), "desactivado, firmas al día");       // 0x60100
    EXPECT_EQ(describeProductState(397584), "activado, firmas desactualizadas"); // 0x61110
    EXPECT_EQ(describeBatteryHealth(std::nullopt, 41000), "no disponible");
    EXPECT_EQ(describeBatteryHealth(50000, std::nullopt), "no disponible");
    EXPECT_EQ(describeBatteryHealth(0, 41000), "no disponible");
    EXPECT_EQ(describeBatteryHealth(50000, 0), "no disponible");
    EXPECT_EQ(describeBatteryHealth(50000, 41000), "82,0 % de la capacidad de diseño");
}

TEST(FindingsDates, Dmtf) {
    // A positive offset and a driver date without one: MembersInReadableUnits.
    std::optional<DmtfTime> west = parseDmtf("20231231235959.999999-300");
    ASSERT_TRUE(west);
    EXPECT_EQ(formatDmtf(*west), "31/12/2023 23:59 (UTC-05:00)");
    for (const char* bad :
         {"", "20241307101500.000000+060", "2024030710150.000000+060", "20240307101500.000000+06",
          "20240307101500,000000+060", "20240307251500.000000+060", "20240307101500.000000*060",
          "20240230101500.000000+000", "20240307101500.00000a+000", "20240307101500.000000+999",
          "20240307101500.000000+060 "}) {
        EXPECT_EQ(parseDmtf(bad).has_value(), false) << bad;
    }
}

TEST(FindingsDates, InstalledOn) {
    struct Case {
        const char* text;
        std::optional<CivilDate> date;
    };
    const Case cases[] = {
        {"3/7/2024", CivilDate{2024, 3, 7}}, // month first, as Windows writes it
        {"03/07/2024", CivilDate{2024, 3, 7}},       {"12/31/2023", CivilDate{2023, 12, 31}},
        {"2/29/2024", CivilDate{2024, 2, 29}},       {"20240307", CivilDate{2024, 3, 7}},
        {"01d9820939fecd15", CivilDate{2023, 5, 9}}, // FILETIME
        {"1d9820939fecd15", CivilDate{2023, 5, 9}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseInstalledOn(c.text), c.date) << c.text;
    }
    for (const char* bad : {"13/1/2024", "2/29/2023", "3/7/24", "3/7/2024 ", "3//2024", "/3/7/2024",
                            "3/7/2024/1", "003/7/2024", "2024-03-07", "07.03.2024", "20241307",
                            "2024030", "ffffffffffffffff", "01d9820939fecd1g", ""}) {
        EXPECT_EQ(parseInstalledOn(bad), std::nullopt) << bad;
    }
}

TEST(FindingsDates, CollectedAt) {
    EXPECT_EQ(parseCollectedAt("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseCollectedAt("2026-03-10T10:00:00Z"), 1773136800);
    EXPECT_EQ(parseCollectedAt("2026-02-29T10:00:00Z"), std::nullopt);
    EXPECT_EQ(parseCollectedAt("2026-03-10 10:00:00Z"), std::nullopt);
    EXPECT_EQ(parseCollectedAt("2026-03-10T10:00:00"), std::nullopt);
    EXPECT_EQ(formatDate({2025, 10, 14}), "14/10/2025");
}

TEST(FindingsText, PlainText) {
    EXPECT_EQ(plainText("a\tb\nc\rd"), "a b c d");
    EXPECT_EQ(plainText(std::string("a\0b", 3)), "a\xEF\xBF\xBD"
                                                 "b");
    EXPECT_EQ(plainText("\x7f\xC2\x85"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(plainText("\xff\xfe"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(plainText("\xC3"), "\xEF\xBF\xBD");                                 // cut character
    EXPECT_EQ(plainText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
    EXPECT_EQ(plainText("\xE2\x80\xAE"
                        "abc"),
              "\xEF\xBF\xBD"
              "abc"); // RIGHT-TO-LEFT OVERRIDE
    EXPECT_EQ(plainText("<script>alert(\"x\")</script>"), "<script>alert(\"x\")</script>");
    EXPECT_EQ(plainText("Tecnología Intel® Smart Sound"), "Tecnología Intel® Smart Sound");
}

TEST(FindingsText, ShorteningKeepsWholeCharacters) {
    std::string enes;
    for (int i = 0; i < 100; ++i) {
        enes += "ñ"; // two bytes each
    }
    EXPECT_EQ(plainText(enes, 11), "ññññ…");
    EXPECT_EQ(plainText(enes, 10), "ñññ…");
    EXPECT_EQ(plainText("ñññ", 6), "ñññ");
    EXPECT_EQ(shortenUtf8("a😀b", 6), "a😀b"); // fits exactly
    EXPECT_EQ(shortenUtf8("a😀b", 5), "a…");  // the emoji is four bytes
    EXPECT_EQ(shortenUtf8("😀😀😀", 10), "😀…");
    EXPECT_EQ(shortenUtf8("abcdef", 2), "");
    EXPECT_EQ(plainText(std::string(100000, 'x')).size(), kPlainTextMaxBytes);
}

TEST(FindingsUnits, MembersInReadableUnits) {
    using S = Section;
    using json = nlohmann::json;
    struct Case {
        Section section;
        const char* member;
        json value;
        const char* shown;
    };
    const Case cases[] = {
        {S::Computer, "TotalPhysicalMemory", "17058840576", "17,1 GB (15,9 GiB)"},
        {S::Windows, "TotalVisibleMemorySize", "16659024", "17,1 GB (15,9 GiB)"},
        {S::Windows, "LastBootUpTime", "20260309074512.500000+060", "09/03/2026 07:45 (UTC+01:00)"},
        {S::Processor, "MaxClockSpeed", "3600", "3,60 GHz"},
        {S::Memory, "Speed", "2400", "2400 MHz"},
        {S::Memory, "MemoryType", "99", "99"},
        {S::Drivers, "DriverDate", "20230609000000.******+***", "09/06/2023 00:00"},
        {S::Drivers, "IsSigned", "True", "sí"},
        {S::AcpiTemperature, "CurrentTemperature", "3010", "27,85 °C"},
        {S::DiskReliability, "Temperature", "38", "38 °C"},
        {S::DiskReliability, "Wear", "3", "3 %"},
        {S::DiskHealth, "MediaType", "4", "SSD [4]"},
        {S::Battery, "EstimatedRunTime", "71582788", "conectada a la corriente"},
        {S::Battery, "EstimatedRunTime", "95", "95 min"},
        {S::Battery, "DesignVoltage", "11400", "11,40 V"},
        {S::Network, "Speed", "1000000000", "1,0 Gbit/s"},
        {S::Network, "Speed", "144400000", "144,4 Mbit/s"},
        {S::DeviceErrors, "ConfigManagerErrorCode", "28",
         "Los controladores del dispositivo no están instalados. [28]"},
        {S::Updates, "InstalledOn", "10/14/2025", "14/10/2025"},
        {S::Updates, "InstalledOn", "14/10/2025", "14/10/2025"}, // not a date: shown as written
        {S::Security, "productState", "397568", "activado, firmas al día [397568]"},
        {S::Security, "productState", "4294967295", "4294967295"},
        {S::Volumes, "FreeSpace", "abc", "abc"},
        {S::Volumes, "FreeSpace", nullptr, "(sin valor)"},
        {S::Volumes, "FreeSpace", 5, "(no es un texto)"},
        {S::Computer, "Model", "<b>\x1b[2J</b>", "<b>\xEF\xBF\xBD[2J</b>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(readableValue(c.section, c.member, c.value), c.shown)
            << c.member << " " << c.value.dump();
    }
}

TEST(Calendar, Days) {
    EXPECT_EQ(daysFromCivil({1970, 1, 1}), 0);
    EXPECT_EQ(daysFromCivil({2000, 3, 1}), 11017);
    EXPECT_EQ(daysFromCivil({1969, 12, 31}), -1);
    EXPECT_EQ(daysFromCivil({1601, 1, 1}), -134774);
    for (std::int64_t day = -200000; day <= 200000; day += 37) {
        EXPECT_EQ(daysFromCivil(civilFromDays(day)), day);
    }
    EXPECT_EQ(weekday({2025, 10, 14}), 2); // a Tuesday
    EXPECT_EQ(weekday({1970, 1, 1}), 4);
    EXPECT_EQ(weekday({1969, 12, 28}), 0);
    EXPECT_TRUE(isValidDate({2024, 2, 29}));
    EXPECT_TRUE(isValidDate({2000, 2, 29}));
    EXPECT_FALSE(isValidDate({2023, 2, 29}));
    EXPECT_FALSE(isValidDate({1900, 2, 29}));
    EXPECT_FALSE(isValidDate({2024, 13, 1}));
    EXPECT_FALSE(isValidDate({2024, 4, 31}));
    EXPECT_FALSE(isValidDate({0, 1, 1}));
}

} // namespace
} // namespace zeq::findings
