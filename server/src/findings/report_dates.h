#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/calendar.h"

namespace zeq::findings {

// A DMTF date and time as WMI writes it, "yyyymmddHHMMSS.mmmmmmsUUU": local
// time of the machine and its offset from UTC in minutes. WMI writes asterisks
// for the parts it does not know ("20230609000000.******+***", a driver date):
// then there is no offset.
struct DmtfTime {
    CivilDate date;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::optional<int> offsetMinutes;
};

std::optional<DmtfTime> parseDmtf(std::string_view text);

// An update's InstalledOn in one of the forms Windows writes, read only where
// it is unambiguous: "M/D/YYYY" (month first, as Win32_QuickFixEngineering
// writes it whatever the language; one or two digits), "YYYYMMDD", or a
// FILETIME as 15 or 16 hexadecimal digits (older Windows). Anything else,
// a date that does not exist included, is nullopt.
std::optional<CivilDate> parseInstalledOn(std::string_view text);

// The envelope's "collected_at", "YYYY-MM-DDTHH:MM:SSZ", as seconds since
// 1970-01-01 UTC; nullopt unless it is a real date and time.
std::optional<std::int64_t> parseCollectedAt(std::string_view text);

// "14/10/2025": day, month, year, as dates are written in Spain.
std::string formatDate(const CivilDate& date);
// "07/03/2024 10:15 (UTC+01:00)", or without the offset when it is unknown;
// the time is the machine's local time, as WMI gave it.
std::string formatDmtf(const DmtfTime& time);

} // namespace zeq::findings
