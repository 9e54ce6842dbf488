#include "store/sqlite_handle.h"

#include <sqlite3.h>

namespace zeq {

namespace {

// Another process (the technician's commands, or the service) may hold the
// write lock for a moment.
constexpr int kBusyTimeoutMillis = 10000;

} // namespace

Database::Database(const std::string& path, Mode mode) {
    int flags = SQLITE_OPEN_NOMUTEX;
    switch (mode) {
    case Mode::ReadWriteCreate:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    case Mode::ReadWrite:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case Mode::ReadOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    }
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(path + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMillis);
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw StoreError(text);
    }
}

std::int64_t Database::changes() const {
    return sqlite3_changes64(db_);
}

bool Database::checkpointAndTruncateLog(int waitMillis) {
    sqlite3_busy_timeout(db_, waitMillis);
    int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(db_, kBusyTimeoutMillis);
    if ((rc & 0xFF) == SQLITE_BUSY) {
        return false;
    }
    if (rc != SQLITE_OK) {
        fail("checkpoint");
    }
    return true;
}

void Database::fail(const char* what) const {
    throw StoreError(std::string(what) + ": " + sqlite3_errmsg(db_));
}

Statement::Statement(Database& db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v3(db.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) !=
        SQLITE_OK) {
        db.fail("prepare");
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) {
        db_.fail("bind");
    }
    return *this;
}

Statement& Statement::bindText(int index, std::string_view value) {
    // An empty view may have no data at all, which SQLite would take for NULL.
    if (sqlite3_bind_text64(stmt_, index, value.data() ? value.data() : "", value.size(),
                            SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK) {
        db_.fail("bind");
    }
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view value) {
    // The bytes outlive the step that reads them: no copy needed.
    if (sqlite3_bind_blob64(stmt_, index, value.data(), value.size(), SQLITE_STATIC) != SQLITE_OK) {
        db_.fail("bind");
    }
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) {
        db_.fail("bind");
    }
    return *this;
}

Statement& Statement::bindOptional(int index, const std::optional<std::string>& value) {
    return value ? bindText(index, *value) : bindNull(index);
}

Statement& Statement::bindOptional(int index, const std::optional<std::int64_t>& value) {
    return value ? bind(index, *value) : bindNull(index);
}

bool Statement::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    db_.fail("step");
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::columnInt(int index) const {
    return sqlite3_column_int64(stmt_, index);
}

std::string Statement::columnText(int index) const {
    const unsigned char* text = sqlite3_column_text(stmt_, index);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)))
                : std::string();
}

std::string_view Statement::columnBlob(int index) const {
    const void* data = sqlite3_column_blob(stmt_, index);
    std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index));
    return data ? std::string_view(static_cast<const char*>(data), size) : std::string_view();
}

bool Statement::columnIsNull(int index) const {
    return sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

std::optional<std::string> Statement::columnOptionalText(int index) const {
    return columnIsNull(index) ? std::nullopt : std::optional<std::string>(columnText(index));
}

std::optional<std::int64_t> Statement::columnOptionalInt(int index) const {
    return columnIsNull(index) ? std::nullopt : std::optional<std::int64_t>(columnInt(index));
}

Transaction::Transaction(Database& db) : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (open_) {
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    open_ = false;
}

} // namespace zeq
