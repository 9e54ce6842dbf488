#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/calendar.h"

namespace zeq::findings {

// Which servicing schedule an installation follows, read from its caption.
enum class Edition {
    Unknown,             // a client whose edition the caption does not name
    HomePro,             // Home, Pro, Pro Education, Pro for Workstations, Ultimate, ...
    EnterpriseEducation, // Enterprise, Education, IoT Enterprise (not LTSC)
    Ltsc,                // Enterprise LTSB / LTSC
    IotLtsc,             // IoT Enterprise LTSC
    Server,              // Windows Server: its own dates
};

// The edition named in a Win32_OperatingSystem caption, English or Spanish
// ("Microsoft Windows 10 Pro", "Microsoft Windows 7 Profesional"); nullopt
// when the text does not name Windows at all.
std::optional<Edition> editionOf(std::string_view caption);

// One release of Windows and the last day it received security updates.
struct WindowsRelease {
    std::uint32_t build;
    unsigned editions; // bit (1 << Edition) for each edition that ends on `end`
    std::string_view name;
    CivilDate end;
};

// Every release of the table (windows_releases.cpp; sources there).
const WindowsRelease* windowsReleasesBegin();
const WindowsRelease* windowsReleasesEnd();

// The row for `build` and `edition`. For Edition::Unknown the client row that
// ends last (so an unknown edition is never judged out of support early);
// nullopt for a build or edition the table does not know.
std::optional<WindowsRelease> findWindowsRelease(std::uint32_t build, Edition edition);

// Windows 11: a client (not Server) of build 22000 or later.
bool isWindows11(std::string_view caption, std::uint32_t build);

} // namespace zeq::findings
