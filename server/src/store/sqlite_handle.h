#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace zeq {

// Every SQLite failure becomes a StoreError carrying SQLite's message.
class StoreError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Database {
  public:
    enum class Mode { ReadWriteCreate, ReadWrite, ReadOnly };

    Database(const std::string& path, Mode mode);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const char* sql);
    sqlite3* handle() const {
        return db_;
    }
    std::int64_t changes() const;
    // Checkpoints the write-ahead log into the database and truncates it to
    // zero bytes, waiting up to waitMillis for readers. False when readers
    // kept it from finishing (what the log held may still be in it).
    bool checkpointAndTruncateLog(int waitMillis);
    [[noreturn]] void fail(const char* what) const;

  private:
    sqlite3* db_ = nullptr;
};

// A prepared statement, reset and unbound after every use.
class Statement {
  public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bindText(int index, std::string_view value);
    Statement& bindBlob(int index, std::string_view value);
    Statement& bindNull(int index);
    // NULL when there is no value.
    Statement& bindOptional(int index, const std::optional<std::string>& value);
    Statement& bindOptional(int index, const std::optional<std::int64_t>& value);

    // True while a row is available; false when done.
    bool step();
    void reset();

    std::int64_t columnInt(int index) const;
    std::string columnText(int index) const;
    std::string_view columnBlob(int index) const;
    bool columnIsNull(int index) const;
    std::optional<std::string> columnOptionalText(int index) const;
    std::optional<std::int64_t> columnOptionalInt(int index) const;

  private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when the scope ends, whatever path leaves it.
class StatementUse {
  public:
    explicit StatementUse(Statement& statement) : statement_(statement) {}
    ~StatementUse() {
        statement_.reset();
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

  private:
    Statement& statement_;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless committed.
class Transaction {
  public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

  private:
    Database& db_;
    bool open_ = true;
};

} // namespace zeq
