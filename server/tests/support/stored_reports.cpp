#include "stored_reports.h"

#include "support/server_process.h"

namespace zeq::test {

std::optional<ReportSummary> findListed(ReportStore& store, const std::string& code) {
    for (ReportSummary& summary : store.list()) {
        if (summary.code == code) {
            return std::move(summary);
        }
    }
    return std::nullopt;
}

std::optional<ReportSummary> findListed(const std::string& databasePath, const std::string& code) {
    ReportStore store(databasePath, ReportStore::Access::ReadOnly);
    return findListed(store, code);
}

std::int64_t storedReports(const std::string& databasePath) {
    ReportStore store(databasePath, ReportStore::Access::ReadOnly);
    return static_cast<std::int64_t>(store.list().size());
}

std::string databaseBytes(const std::string& databasePath) {
    return readFile(databasePath) + readFile(databasePath + "-wal") +
           readFile(databasePath + "-shm");
}

} // namespace zeq::test
