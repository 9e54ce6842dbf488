#include "store/report_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/crypto.h"
#include "base/file_path.h"
#include "base/request_log.h"

namespace zeq {

namespace {

constexpr int kSchemaVersion = kReportSchemaVersion;
// A 48-bit code collides with a stored one with negligible probability; a few
// draws make a collision-caused failure practically impossible.
constexpr int kCodeDraws = 8;
// Rows deleted per transaction by the retention sweep. Reports are up to 2 MiB
// each: a small batch keeps every transaction (and the wait of the requests
// behind it) short. Spent tokens are a few bytes.
constexpr std::int64_t kReportDeleteBatchRows = 16;
constexpr std::int64_t kTokenDeleteBatchRows = 500;
// The log shrinks back to this after a checkpoint (it grows past it under load).
constexpr const char* kJournalSizeLimit = "PRAGMA journal_size_limit = 4194304";
// How long emptying the log waits for readers (a technician's command); the
// service's requests wait behind it.
constexpr int kLogTruncateWaitMillis = 2000;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reports (
    code TEXT PRIMARY KEY,
    report_id TEXT NOT NULL UNIQUE,
    sha256 TEXT NOT NULL,
    received_at INTEGER NOT NULL,
    size INTEGER NOT NULL,
    client_address TEXT NOT NULL,
    body BLOB NOT NULL
);
CREATE INDEX IF NOT EXISTS reports_received_at ON reports(received_at);
CREATE TABLE IF NOT EXISTS used_tokens (
    nonce TEXT PRIMARY KEY,
    expires_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS used_tokens_expires_at ON used_tokens(expires_at);
)sql";

const char* const kSetSchemaVersion = "PRAGMA user_version = 2";
static_assert(kSchemaVersion == 2, "kSetSchemaVersion names the version");

// What the technician's list shows, one row per report, in a table of its own:
// columns added to `reports` would sit after each report's bytes, and reading
// them would walk every report's overflow pages. received_at and size are
// copied so that the list and its search read this table alone, stored in the
// list's order so that a page, or a search through all of it, reads it in
// sequence; search_text is what a text search looks through, the fields a line
// apart so that no search typed in one line matches across two (one LIKE per
// report instead of three: a search that finds little reads all of them). The
// computed columns are NULL until rules_version says which rules computed them.
const char* const kListingSchema = R"sql(
CREATE TABLE IF NOT EXISTS report_listing (
    code TEXT NOT NULL UNIQUE,
    received_at INTEGER NOT NULL,
    size INTEGER NOT NULL,
    imported_by TEXT,
    imported_at INTEGER,
    manufacturer TEXT,
    model TEXT,
    serial TEXT,
    machine_uuid TEXT,
    windows_caption TEXT,
    critical_count INTEGER,
    warning_count INTEGER,
    rules_version INTEGER,
    search_text TEXT GENERATED ALWAYS AS (coalesce(manufacturer, '') || char(10) ||
        coalesce(model, '') || char(10) || coalesce(serial, '')) STORED,
    PRIMARY KEY (received_at, code)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS report_listing_uuid ON report_listing(machine_uuid);
CREATE INDEX IF NOT EXISTS report_listing_serial ON report_listing(serial);
CREATE INDEX IF NOT EXISTS report_listing_rules ON report_listing(rules_version);
CREATE TRIGGER IF NOT EXISTS report_listing_follows_delete AFTER DELETE ON reports
BEGIN
    DELETE FROM report_listing WHERE code = old.code;
END;
)sql";

// A database of the first version gets a listing row per stored report, to be
// computed in the background; the reports themselves are not touched.
const char* const kListExistingReports = R"sql(
INSERT OR IGNORE INTO report_listing(code, received_at, size)
    SELECT code, received_at, size FROM reports;
)sql";

Database::Mode databaseMode(ReportStore::Access access) {
    switch (access) {
    case ReportStore::Access::Service:
        return Database::Mode::ReadWriteCreate;
    case ReportStore::Access::ReadWrite:
        return Database::Mode::ReadWrite;
    case ReportStore::Access::ReadOnly:
        return Database::Mode::ReadOnly;
    }
    return Database::Mode::ReadOnly;
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The permissions of a path (following links); nullopt when it does not exist.
std::optional<mode_t> modeOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw StoreError("no se puede consultar " + path + ": " + std::strerror(errno));
    }
    return status.st_mode;
}

// Reports are for the service's user alone: the service refuses to start on a
// database, a log or a directory that group or others may use in any way, and
// creates a new database private whatever the umask. (Inside a private
// directory nobody else can swap the files after this check.)
const std::string& requirePrivateDatabase(const std::string& path) {
    std::string directory = directoryOf(path);
    std::optional<mode_t> directoryMode = modeOf(directory);
    if (directoryMode && (*directoryMode & 077) != 0) {
        throw StoreError("directorio de la base de datos " + directory +
                         ": otros usuarios pueden entrar en él, leerlo o cambiarlo (permisos " +
                         octal(*directoryMode) + "); corríjalo con chmod 700 " + directory);
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd); // SQLite takes an empty file as an empty database
    }
    for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
        std::optional<mode_t> mode = modeOf(file);
        if (mode && (*mode & 077) != 0) {
            throw StoreError("base de datos " + file +
                             ": otros usuarios pueden leerla o cambiarla (permisos " +
                             octal(*mode) + "); corríjalo con chmod 600 " + file);
        }
    }
    return path;
}

const std::string& checkedPath(const std::string& path, ReportStore::Access access) {
    return access == ReportStore::Access::Service ? requirePrivateDatabase(path) : path;
}

// The computed columns, from manufacturer to rules_version, at `first` on.
Statement& bindOverview(Statement& statement, int first, const findings::ReportOverview& overview) {
    return statement.bindOptional(first, overview.manufacturer)
        .bindOptional(first + 1, overview.model)
        .bindOptional(first + 2, overview.serial)
        .bindOptional(first + 3, overview.machineUuid)
        .bindOptional(first + 4, overview.windowsCaption)
        .bind(first + 5, overview.critical)
        .bind(first + 6, overview.warning)
        .bind(first + 7, overview.rulesVersion);
}

std::int64_t schemaVersion(Database& db) {
    Statement query(db, "PRAGMA user_version");
    return query.step() ? query.columnInt(0) : 0;
}

} // namespace

void requireCurrentSchema(Database& db, const std::string& path) {
    std::int64_t version = schemaVersion(db);
    if (version >= 1 && version < kSchemaVersion) {
        throw StoreError(path + ": base de datos de una versión anterior del servidor; el "
                                "servicio (zeq-server serve) la actualiza al arrancar");
    }
    if (version != kSchemaVersion) {
        throw StoreError(path + ": not a report database of this server");
    }
}

void requireIntactBytes(std::string_view code, std::string_view bytes,
                        std::string_view storedSha256) {
    if (toHex(sha256(bytes)) != storedSha256) {
        throw StoreError(std::string(code) + ": stored bytes do not match their SHA-256");
    }
}

struct ReportStore::Statements {
    explicit Statements(Database& db)
        : insertToken(db, "INSERT OR IGNORE INTO used_tokens(nonce, expires_at) VALUES(?, ?)"),
          findById(db, "SELECT code, body FROM reports WHERE report_id = ?"),
          codeTaken(db, "SELECT 1 FROM reports WHERE code = ?"),
          insertReport(db, "INSERT INTO reports(code, report_id, sha256, received_at, size, "
                           "client_address, body) VALUES(?, ?, ?, ?, ?, ?, ?)"),
          list(db, "SELECT code, report_id, sha256, received_at, size, client_address FROM "
                   "reports ORDER BY received_at, code"),
          insertListing(db, "INSERT INTO report_listing(code, received_at, size, imported_by, "
                            "imported_at, manufacturer, model, serial, machine_uuid, "
                            "windows_caption, critical_count, warning_count, rules_version) "
                            "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          updateListing(db, "UPDATE report_listing SET manufacturer = ?2, model = ?3, "
                            "serial = ?4, machine_uuid = ?5, windows_caption = ?6, "
                            "critical_count = ?7, warning_count = ?8, rules_version = ?9 "
                            "WHERE code = ?1 AND (rules_version IS NULL OR rules_version < ?9)"),
          body(db, "SELECT sha256, body FROM reports WHERE code = ?"),
          remove(db, "DELETE FROM reports WHERE code = ?"),
          purge(db, "DELETE FROM reports WHERE code IN (SELECT code FROM reports WHERE "
                    "received_at < ?1 ORDER BY received_at LIMIT ?2)"),
          forgetTokens(db, "DELETE FROM used_tokens WHERE nonce IN (SELECT nonce FROM "
                           "used_tokens WHERE expires_at < ?1 ORDER BY expires_at LIMIT ?2)") {}

    Statement insertToken, findById, codeTaken, insertReport, list, insertListing, updateListing,
        body, remove, purge, forgetTokens;
};

ReportStore::ReportStore(const std::string& path, Access access, ReceiptCodeSource codes)
    : db_(checkedPath(path, access), databaseMode(access)), codes_(std::move(codes)) {
    if (access == Access::Service) {
        // WAL lets the technician's commands read while the service writes;
        // FULL makes every acknowledged report durable across a power cut.
        db_.exec("PRAGMA journal_mode = WAL");
        db_.exec("PRAGMA synchronous = FULL");
        db_.exec("PRAGMA secure_delete = ON");
        db_.exec(kJournalSizeLimit);
        std::int64_t version = schemaVersion(db_);
        if (version > kSchemaVersion) {
            throw StoreError(path + ": database written by a newer version of the server");
        }
        if (version < kSchemaVersion) {
            Transaction transaction(db_);
            db_.exec(kSchema);
            db_.exec(kListingSchema);
            db_.exec(kListExistingReports);
            db_.exec(kSetSchemaVersion);
            transaction.commit();
        }
    } else {
        if (access == Access::ReadWrite) {
            db_.exec("PRAGMA secure_delete = ON");
            db_.exec(kJournalSizeLimit);
        }
        requireCurrentSchema(db_, path);
    }
    statements_ = std::make_unique<Statements>(db_);
}

ReportStore::~ReportStore() = default;

bool ReportStore::consumeToken(std::string_view nonce, std::int64_t expiresAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& insert = statements_->insertToken;
    StatementUse use(insert);
    insert.bindText(1, nonce).bind(2, expiresAt).step();
    return db_.changes() == 1;
}

StoreOutcome ReportStore::store(std::string_view reportId, std::string_view body,
                                std::int64_t receivedAt, std::string_view clientAddress,
                                const AdmitNewReport& admitNew, const ImportMark* imported,
                                const findings::ReportOverview* computed) {
    std::string digest = toHex(sha256(body));
    // Parsing a report is the slow part: done before the lock, so that other
    // uploads are not held behind it.
    findings::ReportOverview overview = computed ? *computed : findings::overviewOf(body);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(db_);
    {
        Statement& find = statements_->findById;
        StatementUse use(find);
        if (find.bindText(1, reportId).step()) {
            // A retry carries the very same bytes; anything else under a known
            // report_id is not the report that was acknowledged.
            if (find.columnBlob(1) == body) {
                return {StoreResult::Repeated, find.columnText(0)};
            }
            return {StoreResult::Conflict, {}};
        }
    }
    // Asked before the bytes are written, so that a refusal costs no writing.
    // A write that then fails (a failing disk) stays charged.
    if (admitNew) {
        QuotaDecision decision = admitNew();
        if (!decision.admitted) {
            return {
                StoreResult::OverQuota, {}, std::max<std::int64_t>(decision.retryAfterSeconds, 1)};
        }
    }
    std::string code;
    for (int draw = 0; draw < kCodeDraws && code.empty(); ++draw) {
        std::string candidate = codes_();
        Statement& taken = statements_->codeTaken;
        StatementUse use(taken);
        if (isReceiptCode(candidate) && !taken.bindText(1, candidate).step()) {
            code = candidate;
        }
    }
    if (code.empty()) {
        throw StoreError("no free receipt code found");
    }
    {
        Statement& insert = statements_->insertReport;
        StatementUse use(insert);
        insert.bindText(1, code)
            .bindText(2, reportId)
            .bindText(3, digest)
            .bind(4, receivedAt)
            .bind(5, static_cast<std::int64_t>(body.size()))
            .bindText(6, clientAddress)
            .bindBlob(7, body)
            .step();
    }
    {
        Statement& insert = statements_->insertListing;
        StatementUse use(insert);
        insert.bindText(1, code)
            .bind(2, receivedAt)
            .bind(3, static_cast<std::int64_t>(body.size()))
            .bindOptional(4, imported ? std::optional<std::string>(imported->by) : std::nullopt)
            .bindOptional(5, imported ? std::optional<std::int64_t>(imported->at) : std::nullopt);
        bindOverview(insert, 6, overview).step();
    }
    transaction.commit();
    return {StoreResult::Stored, code};
}

namespace {

ReportSummary summaryFrom(const Statement& row) {
    ReportSummary summary;
    summary.code = row.columnText(0);
    summary.reportId = row.columnText(1);
    summary.sha256 = row.columnText(2);
    summary.receivedAt = row.columnInt(3);
    summary.size = row.columnInt(4);
    summary.clientAddress = row.columnText(5);
    return summary;
}

} // namespace

std::int64_t ReportStore::updateOverviews(const std::vector<ComputedOverview>& overviews) {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(db_);
    std::int64_t written = 0;
    for (const ComputedOverview& computed : overviews) {
        Statement& update = statements_->updateListing;
        StatementUse use(update);
        update.bindText(1, computed.code);
        bindOverview(update, 2, computed.overview).step();
        written += db_.changes();
    }
    transaction.commit();
    return written;
}

std::vector<ReportSummary> ReportStore::list() {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& query = statements_->list;
    StatementUse use(query);
    std::vector<ReportSummary> reports;
    while (query.step()) {
        reports.push_back(summaryFrom(query));
    }
    return reports;
}

std::optional<std::string> ReportStore::body(std::string_view code) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& query = statements_->body;
    StatementUse use(query);
    if (!query.bindText(1, code).step()) {
        return std::nullopt;
    }
    std::string bytes(query.columnBlob(1));
    requireIntactBytes(code, bytes, query.columnText(0));
    return bytes;
}

bool ReportStore::remove(std::string_view code) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& statement = statements_->remove;
    bool removed;
    {
        StatementUse use(statement);
        statement.bindText(1, code).step();
        removed = db_.changes() == 1;
    }
    if (removed) {
        truncateLog();
    }
    return removed;
}

std::int64_t ReportStore::deleteInBatches(Statement& statement, std::int64_t cutoff,
                                          std::int64_t batchRows) {
    std::int64_t total = 0;
    for (;;) {
        // The lock is let go between batches: requests go ahead in between.
        std::lock_guard<std::mutex> lock(mutex_);
        StatementUse use(statement);
        statement.bind(1, cutoff).bind(2, batchRows).step();
        std::int64_t deleted = db_.changes();
        total += deleted;
        if (deleted < batchRows) {
            return total;
        }
    }
}

std::int64_t ReportStore::purgeReceivedBefore(std::int64_t cutoff) {
    std::int64_t deleted = deleteInBatches(statements_->purge, cutoff, kReportDeleteBatchRows);
    // Also when nothing went now: this clears what an earlier attempt, or
    // another process, could not take out of the log.
    std::lock_guard<std::mutex> lock(mutex_);
    truncateLog();
    return deleted;
}

std::int64_t ReportStore::forgetTokensExpiredBefore(std::int64_t cutoff) {
    return deleteInBatches(statements_->forgetTokens, cutoff, kTokenDeleteBatchRows);
}

void ReportStore::truncateLog() {
    if (!db_.checkpointAndTruncateLog(kLogTruncateWaitMillis)) {
        writeLogLine("zeq-server: aviso: otro proceso estaba leyendo la base de datos y su fichero "
                     "-wal aún puede guardar informes borrados; se vaciará en la próxima limpieza "
                     "del servicio (cada hora)");
    }
}

} // namespace zeq
