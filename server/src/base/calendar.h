#pragma once

#include <cstdint>

namespace zeq {

// A day of the proleptic Gregorian calendar.
struct CivilDate {
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;   // 1 to 31

    friend bool operator==(const CivilDate& a, const CivilDate& b) {
        return a.year == b.year && a.month == b.month && a.day == b.day;
    }
};

bool isLeapYear(int year);
// Days in `month` (1 to 12) of `year`.
int daysInMonth(int year, int month);
// A date that exists: month 1 to 12 and a day the month has; year 1 to 9999.
bool isValidDate(const CivilDate& date);

// Days from 1970-01-01 to `date` (negative before it). `date` must be valid.
std::int64_t daysFromCivil(const CivilDate& date);
// The inverse of daysFromCivil.
CivilDate civilFromDays(std::int64_t days);
// 0 for Sunday to 6 for Saturday.
int weekday(const CivilDate& date);

} // namespace zeq
