#pragma once

#include "report/report_buffer.h"

// Largest report that may be saved from the command line or sent: 2 MiB, inclusive.
const UINT32 kMaxReportBytes = 0x200000;

// A report fit to be written or sent: built without a failure, not empty and
// within the size limit.
inline bool ReportIsValid(const ReportBuffer* report) {
    return !report->failed && report->length != 0 && report->length <= kMaxReportBytes;
}
