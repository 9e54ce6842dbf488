#include "findings/report_dates.h"

#include <cstdio>

#include "base/text_shapes.h"
#include "upload/report_envelope.h"

namespace zeq::findings {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// FILETIME counts 100-nanosecond ticks from 1601-01-01 UTC.
constexpr std::uint64_t kFiletimeTicksPerDay = 864000000000ULL;
constexpr std::int64_t kDaysFrom1601To1970 = 134774;

// The number in `text` at [at, at + digits), whose shape was checked already.
int digitsAt(std::string_view text, std::size_t at, std::size_t digits) {
    return static_cast<int>(parseDecimal(text.substr(at, digits), 99999999).value_or(0));
}

// "M/D/YYYY" with one or two digits of month and day.
std::optional<CivilDate> parseMonthFirst(std::string_view text) {
    std::size_t first = text.find('/');
    std::size_t second = first == std::string_view::npos ? first : text.find('/', first + 1);
    if (second == std::string_view::npos || first < 1 || first > 2 || second - first - 1 < 1 ||
        second - first - 1 > 2 || text.size() - second - 1 != 4) {
        return std::nullopt;
    }
    auto month = parseDecimal(text.substr(0, first), 12);
    auto day = parseDecimal(text.substr(first + 1, second - first - 1), 31);
    auto year = parseDecimal(text.substr(second + 1), 9999);
    if (!month || !day || !year) {
        return std::nullopt;
    }
    CivilDate date{static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day)};
    return isValidDate(date) ? std::optional(date) : std::nullopt;
}

std::optional<CivilDate> parseCompact(std::string_view text) {
    if (!matchesShape(text, "DDDDDDDD")) {
        return std::nullopt;
    }
    CivilDate date{digitsAt(text, 0, 4), digitsAt(text, 4, 2), digitsAt(text, 6, 2)};
    return isValidDate(date) ? std::optional(date) : std::nullopt;
}

std::optional<CivilDate> parseFiletime(std::string_view text) {
    if (text.size() != 15 && text.size() != 16) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> ticks = parseHexadecimal(text, UINT64_MAX);
    if (!ticks) {
        return std::nullopt;
    }
    auto days = static_cast<std::int64_t>(*ticks / kFiletimeTicksPerDay);
    CivilDate date = civilFromDays(days - kDaysFrom1601To1970);
    return isValidDate(date) ? std::optional(date) : std::nullopt;
}

std::optional<int> parseDmtfOffset(std::string_view text) {
    if (text == "+***" || text == "-***") {
        return std::nullopt;
    }
    auto minutes = parseDecimal(text.substr(1), 999);
    if (!minutes || (text[0] != '+' && text[0] != '-')) {
        return std::nullopt;
    }
    int value = static_cast<int>(*minutes);
    return text[0] == '-' ? -value : value;
}

std::string offsetText(int minutes) {
    char text[16];
    int magnitude = minutes < 0 ? -minutes : minutes;
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

} // namespace

std::optional<DmtfTime> parseDmtf(std::string_view text) {
    // The fraction may be digits or asterisks; the rest is checked below.
    if (text.size() != 25 || !matchesShape(text.substr(0, 15), "DDDDDDDDDDDDDD.")) {
        return std::nullopt;
    }
    std::string_view fraction = text.substr(15, 6);
    if (!matchesShape(fraction, "DDDDDD") && fraction != "******") {
        return std::nullopt;
    }
    std::string_view offset = text.substr(21, 4);
    bool unknownOffset = offset == "+***" || offset == "-***";
    if (!unknownOffset && !matchesShape(offset.substr(1), "DDD")) {
        return std::nullopt;
    }
    if (offset[0] != '+' && offset[0] != '-') {
        return std::nullopt;
    }
    DmtfTime time;
    time.date = {digitsAt(text, 0, 4), digitsAt(text, 4, 2), digitsAt(text, 6, 2)};
    time.hour = digitsAt(text, 8, 2);
    time.minute = digitsAt(text, 10, 2);
    time.second = digitsAt(text, 12, 2);
    time.offsetMinutes = parseDmtfOffset(offset);
    // A leap second (60) is allowed, as DMTF allows it.
    if (!isValidDate(time.date) || time.hour > 23 || time.minute > 59 || time.second > 60) {
        return std::nullopt;
    }
    if (time.offsetMinutes && (*time.offsetMinutes < -720 || *time.offsetMinutes > 840)) {
        return std::nullopt;
    }
    return time;
}

std::optional<CivilDate> parseInstalledOn(std::string_view text) {
    if (auto date = parseMonthFirst(text)) {
        return date;
    }
    if (auto date = parseCompact(text)) {
        return date;
    }
    return parseFiletime(text);
}

std::optional<std::int64_t> parseCollectedAt(std::string_view text) {
    if (!isCollectedAt(text)) {
        return std::nullopt;
    }
    CivilDate date{digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2)};
    std::int64_t hours = digitsAt(text, 11, 2), minutes = digitsAt(text, 14, 2);
    return daysFromCivil(date) * kSecondsPerDay + hours * 3600 + minutes * 60 +
           digitsAt(text, 17, 2);
}

std::string formatDate(const CivilDate& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", date.day, date.month, date.year);
    return text;
}

std::string formatDmtf(const DmtfTime& time) {
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d", time.hour, time.minute);
    std::string text = formatDate(time.date) + " " + clock;
    if (time.offsetMinutes) {
        text += " (" + offsetText(*time.offsetMinutes) + ")";
    }
    return text;
}

} // namespace zeq::findings
