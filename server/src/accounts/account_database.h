#pragma once

#include <mutex>
#include <string>

#include "store/sqlite_handle.h"

namespace zeq::accounts {

// The console's tables (technicians, their sessions, failed logins and the
// audit) in the report database, on a connection of their own. The database
// must exist (the service creates it, private); the tables are created on
// first use. One connection serialised by a mutex, as the report store does:
// callers hold `mutex` for every statement and keep slow work (password
// hashes) outside it.
struct AccountDatabase {
    explicit AccountDatabase(const std::string& path);

    std::mutex mutex;
    Database db;
};

} // namespace zeq::accounts
