#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/quota_decision.h"
#include "findings/report_overview.h"
#include "store/receipt_code.h"
#include "store/sqlite_handle.h"

namespace zeq {

// 1: reports and used tokens. 2: the listing beside every report.
inline constexpr int kReportSchemaVersion = 2;

// Throws StoreError unless the database's schema is this server's: a database
// of an earlier version gets a message saying that `serve` upgrades it.
void requireCurrentSchema(Database& db, const std::string& path);

// Throws StoreError unless a report's bytes still have the SHA-256 (hex)
// stored with them: a disk that changed them is not taken at its word.
void requireIntactBytes(std::string_view code, std::string_view bytes,
                        std::string_view storedSha256);

// One stored report as the technician's listing shows it.
struct ReportSummary {
    std::string code;
    std::string reportId;
    std::string sha256;
    std::int64_t receivedAt = 0;
    std::int64_t size = 0;
    std::string clientAddress;
};

enum class StoreResult {
    Stored,    // a new report under a new code
    Repeated,  // the same report_id with the same bytes: the code given before
    Conflict,  // the same report_id with other bytes: refused
    OverQuota, // a new report that the quota refused: nothing stored
};

struct StoreOutcome {
    StoreResult result;
    std::string code;                   // empty for Conflict and OverQuota
    std::int64_t retryAfterSeconds = 0; // OverQuota: when to try again (≥ 1)
};

// A report a technician brought in by hand (a file sent by e-mail or on a USB
// stick) rather than one the tool uploaded: who and when.
struct ImportMark {
    std::string by;
    std::int64_t at = 0;
};

// A listing computed again for a stored report (by the background filler).
struct ComputedOverview {
    std::string code;
    findings::ReportOverview overview;
};

// Asked for a new report only (never for a retry or a conflict), inside the
// store's transaction; a refusal stores nothing. Empty: every report admitted.
using AdmitNewReport = std::function<QuotaDecision()>;

// The SQLite database of reports and used tokens, in WAL mode. One connection,
// serialised by a mutex: every write is one short transaction, and the slow
// parts of a request (TLS, reading the body) happen outside it. Deleting
// reports leaves their bytes neither in the database nor in its log.
class ReportStore {
  public:
    enum class Access { Service, ReadOnly, ReadWrite };

    // Service creates the database (mode 0600) and its schema if needed, and
    // refuses (StoreError with a message for the technician) a database, -wal
    // or -shm file, or a directory of them, that group or others have any
    // permission on. The others require an existing database. Throws StoreError.
    ReportStore(const std::string& path, Access access, ReceiptCodeSource codes = newReceiptCode);
    ~ReportStore();

    // Records a token as used. False when it was used before.
    bool consumeToken(std::string_view nonce, std::int64_t expiresAt);

    // Stores a checked report in one transaction, or finds the one already
    // stored under the same report_id. A report_id not stored yet is first
    // put to admitNew (when given): a retry of a stored report is answered
    // with its code without counting against any quota. admitNew runs under
    // the store's lock: it must be quick and must not call the store. The
    // listing (findings/report_overview.h) is computed before the lock is
    // taken, unless the caller has it already from its own parse of the
    // bytes. An import mark is kept with a new report only.
    StoreOutcome store(std::string_view reportId, std::string_view body, std::int64_t receivedAt,
                       std::string_view clientAddress, const AdmitNewReport& admitNew = {},
                       const ImportMark* imported = nullptr,
                       const findings::ReportOverview* overview = nullptr);

    // Writes listings computed again, in one short transaction; a listing
    // already computed by the same or newer rules, or of a report deleted
    // meanwhile, is left alone. Returns how many were written.
    std::int64_t updateOverviews(const std::vector<ComputedOverview>& overviews);

    std::vector<ReportSummary> list();
    // The stored bytes, checked against their SHA-256. Throws StoreError when
    // they no longer match.
    std::optional<std::string> body(std::string_view code);
    // Deletes one report; false when there is none under the code.
    bool remove(std::string_view code);

    // Deletes reports received before the cutoff, a batch per transaction so
    // that requests are not held up behind a large purge; returns how many.
    std::int64_t purgeReceivedBefore(std::int64_t cutoff);
    // Forgets used tokens that expired before the cutoff, in batches too;
    // returns how many.
    std::int64_t forgetTokensExpiredBefore(std::int64_t cutoff);

  private:
    struct Statements;

    // Deletes with the statement (bound to the cutoff and a batch size) until
    // a batch comes back short; returns how many rows went.
    std::int64_t deleteInBatches(Statement& statement, std::int64_t cutoff, std::int64_t batchRows);
    // Copies the log into the database and empties it, so that deleted
    // reports, overwritten in the database by secure_delete, are not still
    // readable in the -wal file. Logs when readers kept it from finishing.
    void truncateLog();

    std::mutex mutex_;
    Database db_;
    ReceiptCodeSource codes_;
    std::unique_ptr<Statements> statements_;
};

} // namespace zeq
