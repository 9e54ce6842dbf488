#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "findings/device_problems.h"
#include "findings/windows_releases.h"

// The documented tables: Windows releases with their end of support, editions
// read from captions, and Device Manager problem codes. One row per edition
// and kind of lookup; the rule's own boundaries are in findings_software_test.
namespace zeq::findings {
namespace {

// Microsoft ends servicing on the second Tuesday of a month, and a release
// has one end per edition.
TEST(WindowsReleases, EveryEndIsAPatchTuesdayAndOnePerEdition) {
    std::set<std::pair<std::uint32_t, unsigned>> seen;
    for (const WindowsRelease* r = windowsReleasesBegin(); r != windowsReleasesEnd(); ++r) {
        EXPECT_TRUE(isValidDate(r->end)) << r->name;
        EXPECT_EQ(weekday(r->end), 2) << r->name << " " << r->build;
        EXPECT_GE(r->end.day, 8) << r->name;
        EXPECT_LE(r->end.day, 14) << r->name;
        EXPECT_NE(r->editions, 0u) << r->name;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (r->editions & (1u << bit)) {
                EXPECT_TRUE(seen.insert({r->build, bit}).second) << r->name << " " << bit;
            }
        }
    }
}

TEST(WindowsReleases, EndOfSupportDatesAsMicrosoftPublishesThem) {
    struct Case {
        std::uint32_t build;
        Edition edition;
        CivilDate end;
    };
    const Case cases[] = {
        {19045, Edition::HomePro, {2025, 10, 14}}, // Windows 10 ended on 14 October 2025
        {19044, Edition::HomePro, {2023, 6, 13}},
        {19044, Edition::EnterpriseEducation, {2024, 6, 11}},
        {19044, Edition::Unknown, {2024, 6, 11}}, // the later of the client dates
        {19044, Edition::Ltsc, {2027, 1, 12}},
        {19044, Edition::IotLtsc, {2032, 1, 13}},
        {10586, Edition::EnterpriseEducation, {2018, 4, 10}},
        {22631, Edition::HomePro, {2025, 11, 11}},
        {9600, Edition::Server, {2023, 10, 10}},
    };
    for (const Case& c : cases) {
        std::optional<WindowsRelease> release = findWindowsRelease(c.build, c.edition);
        ASSERT_TRUE(release) << c.build;
        EXPECT_EQ(release->end, c.end) << c.build << " " << static_cast<int>(c.edition);
    }
    EXPECT_FALSE(findWindowsRelease(26100, Edition::Server)); // Server 2025: not judged
    EXPECT_FALSE(findWindowsRelease(19045, Edition::Ltsc));
    EXPECT_FALSE(findWindowsRelease(27000, Edition::HomePro));
}

TEST(WindowsReleases, EditionsFromCaptions) {
    struct Case {
        const char* caption;
        std::optional<Edition> edition;
    };
    const Case cases[] = {
        {"Microsoft Windows 10 Pro", Edition::HomePro},
        {"Microsoft Windows 11 Home Single Language", Edition::HomePro},
        {"Microsoft Windows 10 Pro Education", Edition::HomePro},
        {"Microsoft Windows 7 Profesional", Edition::HomePro},
        {"Microsoft Windows 7 Ultimate", Edition::HomePro},
        {"Microsoft Windows 10 Enterprise", Edition::EnterpriseEducation},
        {"Microsoft Windows 10 Education", Edition::EnterpriseEducation},
        {"Microsoft Windows 10 IoT Enterprise", Edition::EnterpriseEducation},
        {"Microsoft Windows 10 Enterprise LTSC", Edition::Ltsc},
        {"Microsoft Windows 10 Enterprise 2016 LTSB", Edition::Ltsc},
        {"Microsoft Windows 10 IoT Enterprise LTSC", Edition::IotLtsc},
        {"Microsoft Windows Server 2019 Standard", Edition::Server},
        {"Microsoft Windows 10 S", Edition::Unknown},
        {"Linux", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(editionOf(c.caption), c.edition) << c.caption;
    }
}

TEST(DeviceProblems, EveryDocumentedCodeHasItsMeaning) {
    // The codes "Device Manager error messages" lists.
    std::set<std::uint64_t> documented = {1, 3, 9, 10, 12, 14, 16, 18, 19, 21, 22, 24, 28, 29};
    for (std::uint64_t code = 31; code <= 57; ++code) {
        documented.insert(code);
    }
    for (std::uint64_t code : documented) {
        std::optional<DeviceProblem> problem = findDeviceProblem(code);
        ASSERT_TRUE(problem) << code;
        EXPECT_EQ(problem->code, code);
        EXPECT_EQ(problem->constant.rfind("CM_PROB_", 0), 0u) << code;
        EXPECT_GT(problem->meaning.size(), 10u) << code;
        EXPECT_EQ(problem->meaning.back(), '.') << code;
    }
    EXPECT_EQ(findDeviceProblem(22)->constant, "CM_PROB_DISABLED");
    EXPECT_EQ(findDeviceProblem(45)->constant, "CM_PROB_PHANTOM");
    EXPECT_FALSE(findDeviceProblem(0));
    EXPECT_FALSE(findDeviceProblem(58));
    EXPECT_FALSE(findDeviceProblem(UINT64_MAX));
}

} // namespace
} // namespace zeq::findings
