#pragma once

#include "report/report_buffer.h"

// Appends the whole report; the build succeeded iff buffer->failed is clear.
void BuildReport(ReportBuffer* buffer);

// Whether text is the title constant of one of the report's sections, the one
// the collectors post as their status. Compares addresses only: text is never read.
bool IsSectionTitle(const WCHAR* text);

// Room for the system-events query, terminator included.
const int kEventsQueryUnits = 512;

// Formats the system-events query for a build at `now` (UTC): the System
// log's errors and warnings since midnight UTC of the date seven days earlier.
void FormatSystemEventsQuery(const FILETIME* now, WCHAR query[kEventsQueryUnits]);

// The clock behind the report, swappable so that tests can pin the time.
// Production uses GetSystemTime and GetSystemTimeAsFileTime.
struct ReportClock {
    void(WINAPI* systemTime)(LPSYSTEMTIME time);
    void(WINAPI* systemTimeAsFileTime)(LPFILETIME time);
};
extern const ReportClock kSystemClock;
extern const ReportClock* reportClock;

// The shell's administrator test, swappable so that tests can have a standard
// user's answer (Wine runs every program as an administrator). Production uses
// IsUserAnAdmin.
extern BOOL(WINAPI* administratorTest)();
