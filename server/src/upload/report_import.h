#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/report_store.h"

namespace zeq {

// A report file a technician brings in by hand, because the upload failed and
// the person sent the saved report another way (e-mail, a USB stick).
enum class ImportResult {
    Stored,        // new: stored under a new code, marked as imported
    AlreadyStored, // the same report_id with the same bytes: its code
    Conflict,      // the same report_id with other bytes: refused
    Refused,       // too large, not UTF-8 or not a report: refused
};

struct ImportOutcome {
    ImportResult result = ImportResult::Refused;
    std::string code;    // Stored and AlreadyStored
    std::string message; // in Spanish, for the technician
};

// Checks the bytes exactly as an upload is checked (at most kMaxReportBytes,
// UTF-8, the envelope) and stores them with the technician's name and the time.
// No upload quota applies: the technician chose to bring the report in.
ImportOutcome importReport(ReportStore& store, std::string_view bytes,
                           const std::string& technician, std::int64_t now);

// Reads a report file for importReport: at most one byte more than
// kMaxReportBytes, so that a huge file is refused without reading it all.
// Throws std::runtime_error with a Spanish message when it cannot be read.
std::string readReportFile(const std::string& path);

} // namespace zeq
