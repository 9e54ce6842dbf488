#include "findings/windows_releases.h"

#include <iterator>

namespace zeq::findings {

namespace {

constexpr unsigned bit(Edition edition) {
    return 1u << static_cast<unsigned>(edition);
}
constexpr unsigned kHomePro = bit(Edition::HomePro);
constexpr unsigned kEnterprise = bit(Edition::EnterpriseEducation);
constexpr unsigned kClient = kHomePro | kEnterprise;
constexpr unsigned kLtsc = bit(Edition::Ltsc);
constexpr unsigned kIotLtsc = bit(Edition::IotLtsc);
constexpr unsigned kAnyLtsc = kLtsc | kIotLtsc;
constexpr unsigned kServer = bit(Edition::Server);

// End of security updates (the last Patch Tuesday), from Microsoft's lifecycle
// pages: learn.microsoft.com/lifecycle/products/ windows-10-home-and-pro,
// windows-10-enterprise-and-education, windows-11-home-and-pro,
// windows-11-enterprise-and-education, the LTSC pages and the Windows Server
// ones; Windows release health for builds. Extended Security Updates (paid) are
// not counted. Windows Server 2025 and later builds are not in the table, so
// they are not judged. Add each new release here (and raise kRulesVersion).
constexpr WindowsRelease kTable[] = {
    {7600, kClient, "Windows 7 sin Service Pack 1", {2013, 4, 9}},
    {7601, kClient, "Windows 7", {2020, 1, 14}},
    {9200, kClient, "Windows 8", {2016, 1, 12}},
    {9600, kClient, "Windows 8.1", {2023, 1, 10}},
    {10240, kClient, "Windows 10 versión 1507", {2017, 5, 9}},
    {10240, kAnyLtsc, "Windows 10 Enterprise LTSB 2015", {2025, 10, 14}},
    {10586, kHomePro, "Windows 10 versión 1511", {2017, 10, 10}},
    {10586, kEnterprise, "Windows 10 versión 1511", {2018, 4, 10}},
    {14393, kHomePro, "Windows 10 versión 1607", {2018, 4, 10}},
    {14393, kEnterprise, "Windows 10 versión 1607", {2019, 4, 9}},
    {14393, kAnyLtsc, "Windows 10 Enterprise LTSB 2016", {2026, 10, 13}},
    {15063, kHomePro, "Windows 10 versión 1703", {2018, 10, 9}},
    {15063, kEnterprise, "Windows 10 versión 1703", {2019, 10, 8}},
    {16299, kHomePro, "Windows 10 versión 1709", {2019, 4, 9}},
    {16299, kEnterprise, "Windows 10 versión 1709", {2020, 10, 13}},
    {17134, kHomePro, "Windows 10 versión 1803", {2019, 11, 12}},
    {17134, kEnterprise, "Windows 10 versión 1803", {2021, 5, 11}},
    {17763, kHomePro, "Windows 10 versión 1809", {2020, 11, 10}},
    {17763, kEnterprise, "Windows 10 versión 1809", {2021, 5, 11}},
    {17763, kAnyLtsc, "Windows 10 Enterprise LTSC 2019", {2029, 1, 9}},
    {18362, kClient, "Windows 10 versión 1903", {2020, 12, 8}},
    {18363, kHomePro, "Windows 10 versión 1909", {2021, 5, 11}},
    {18363, kEnterprise, "Windows 10 versión 1909", {2022, 5, 10}},
    {19041, kClient, "Windows 10 versión 2004", {2021, 12, 14}},
    {19042, kHomePro, "Windows 10 versión 20H2", {2022, 5, 10}},
    {19042, kEnterprise, "Windows 10 versión 20H2", {2023, 5, 9}},
    {19043, kClient, "Windows 10 versión 21H1", {2022, 12, 13}},
    {19044, kHomePro, "Windows 10 versión 21H2", {2023, 6, 13}},
    {19044, kEnterprise, "Windows 10 versión 21H2", {2024, 6, 11}},
    {19044, kLtsc, "Windows 10 Enterprise LTSC 2021", {2027, 1, 12}},
    {19044, kIotLtsc, "Windows 10 IoT Enterprise LTSC 2021", {2032, 1, 13}},
    {19045, kClient, "Windows 10 versión 22H2", {2025, 10, 14}},
    {22000, kHomePro, "Windows 11 versión 21H2", {2023, 10, 10}},
    {22000, kEnterprise, "Windows 11 versión 21H2", {2024, 10, 8}},
    {22621, kHomePro, "Windows 11 versión 22H2", {2024, 10, 8}},
    {22621, kEnterprise, "Windows 11 versión 22H2", {2025, 10, 14}},
    {22631, kHomePro, "Windows 11 versión 23H2", {2025, 11, 11}},
    {22631, kEnterprise, "Windows 11 versión 23H2", {2026, 11, 10}},
    {26100, kHomePro, "Windows 11 versión 24H2", {2026, 10, 13}},
    {26100, kEnterprise, "Windows 11 versión 24H2", {2027, 10, 12}},
    {26100, kLtsc, "Windows 11 Enterprise LTSC 2024", {2029, 10, 9}},
    {26100, kIotLtsc, "Windows 11 IoT Enterprise LTSC 2024", {2034, 10, 10}},
    {26200, kHomePro, "Windows 11 versión 25H2", {2027, 10, 12}},
    {26200, kEnterprise, "Windows 11 versión 25H2", {2028, 10, 10}},
    {26300, kHomePro, "Windows 11 versión 26H2", {2028, 10, 10}},
    {26300, kEnterprise, "Windows 11 versión 26H2", {2029, 10, 9}},
    {7600, kServer, "Windows Server 2008 R2", {2020, 1, 14}},
    {7601, kServer, "Windows Server 2008 R2", {2020, 1, 14}},
    {9200, kServer, "Windows Server 2012", {2023, 10, 10}},
    {9600, kServer, "Windows Server 2012 R2", {2023, 10, 10}},
    {14393, kServer, "Windows Server 2016", {2027, 1, 12}},
    {17763, kServer, "Windows Server 2019", {2029, 1, 9}},
    {20348, kServer, "Windows Server 2022", {2031, 10, 14}},
};

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

} // namespace

std::optional<Edition> editionOf(std::string_view caption) {
    if (!contains(caption, "Windows")) {
        return std::nullopt;
    }
    if (contains(caption, "Server")) {
        return Edition::Server;
    }
    if (contains(caption, "LTSC") || contains(caption, "LTSB")) {
        return contains(caption, "IoT") ? Edition::IotLtsc : Edition::Ltsc;
    }
    // "Pro Education" and "Pro for Workstations" follow the Home and Pro dates.
    for (std::string_view word : {" Pro", " Home", " Core", " Single Language", " Ultimate",
                                  " Starter", " Premium", " Basic"}) {
        if (contains(caption, word)) {
            return Edition::HomePro;
        }
    }
    if (contains(caption, "Enterprise") || contains(caption, "Education")) {
        return Edition::EnterpriseEducation;
    }
    return Edition::Unknown;
}

const WindowsRelease* windowsReleasesBegin() {
    return std::begin(kTable);
}

const WindowsRelease* windowsReleasesEnd() {
    return std::end(kTable);
}

std::optional<WindowsRelease> findWindowsRelease(std::uint32_t build, Edition edition) {
    std::optional<WindowsRelease> found;
    for (const WindowsRelease& release : kTable) {
        if (release.build != build) {
            continue;
        }
        bool fits = edition == Edition::Unknown ? (release.editions & kClient) != 0
                                                : (release.editions & bit(edition)) != 0;
        if (fits && (!found || daysFromCivil(release.end) > daysFromCivil(found->end))) {
            found = release;
        }
    }
    return found;
}

bool isWindows11(std::string_view caption, std::uint32_t build) {
    std::optional<Edition> edition = editionOf(caption);
    return edition && *edition != Edition::Server && build >= 22000;
}

} // namespace zeq::findings
