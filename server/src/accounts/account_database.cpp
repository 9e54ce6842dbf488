#include "accounts/account_database.h"

namespace zeq::accounts {

namespace {

// The audit refuses UPDATE and DELETE in the database itself, so that no code
// path (nor a later mistake) can rewrite what a technician did. Its rows name
// reports by code, with no reference to the reports table: deleting a report
// keeps its history.
const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS technicians (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    created_at INTEGER NOT NULL,
    password_changed_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS console_sessions (
    token_hash BLOB PRIMARY KEY,
    technician_id INTEGER NOT NULL,
    created_at INTEGER NOT NULL,
    last_seen_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS console_sessions_technician ON console_sessions(technician_id);
CREATE TABLE IF NOT EXISTS login_failures (
    scope TEXT NOT NULL,
    key TEXT NOT NULL,
    failures INTEGER NOT NULL,
    last_failure_at INTEGER NOT NULL,
    PRIMARY KEY (scope, key)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS audit (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    at INTEGER NOT NULL,
    event TEXT NOT NULL,
    technician TEXT NOT NULL,
    subject TEXT NOT NULL,
    address TEXT NOT NULL
);
CREATE TRIGGER IF NOT EXISTS audit_rows_are_kept BEFORE DELETE ON audit
BEGIN SELECT RAISE(ABORT, 'audit rows cannot be deleted'); END;
CREATE TRIGGER IF NOT EXISTS audit_rows_are_unchanged BEFORE UPDATE ON audit
BEGIN SELECT RAISE(ABORT, 'audit rows cannot be changed'); END;
)sql";

} // namespace

AccountDatabase::AccountDatabase(const std::string& path) : db(path, Database::Mode::ReadWrite) {
    // The service marks the database it creates with a schema version; a file
    // without one is not a report database of this server.
    Statement version(db, "PRAGMA user_version");
    if (!version.step() || version.columnInt(0) == 0) {
        throw StoreError(path + ": not a report database of this server");
    }
    version.reset();
    db.exec("PRAGMA secure_delete = ON");
    Transaction transaction(db);
    db.exec(kSchema);
    transaction.commit();
}

} // namespace zeq::accounts
