#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "store/report_store.h"
#include "support/server_process.h"

namespace zeq::test {

// A stored report's details, found in the listing the technician's `list` prints.
std::optional<ReportSummary> findListed(ReportStore& store, const std::string& code);
// The same for a database file, opened read-only as the technician would.
std::optional<ReportSummary> findListed(const std::string& databasePath, const std::string& code);
// How many reports a database file holds.
std::int64_t storedReports(const std::string& databasePath);
// The database file, its write-ahead log and its shared memory, as bytes on
// disk: all that a copy of the database would give away.
std::string databaseBytes(const std::string& databasePath);

// A database of its own in a fresh directory, opened as the service opens it.
struct ServiceDatabase {
    TempDir dir;
    std::string path = dir.file("reports.db");
    ReportStore store{path, ReportStore::Access::Service};
};

} // namespace zeq::test
