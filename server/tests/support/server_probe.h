#pragma once

#include <sys/types.h>

#include <sqlite3.h>

#include <string>

namespace zeq::test {

// Holds an exclusive lock on a database, so that the server's next write waits.
class DatabaseLock {
  public:
    explicit DatabaseLock(const std::string& path);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

  private:
    sqlite3* db_ = nullptr;
};

// How many used tokens the database records.
std::int64_t usedTokens(const std::string& databasePath);

// Waits (up to 10 s) until every established connection to the local port has
// had all the bytes it was sent read by the server. False on time-out.
bool waitUntilReadByServer(int port);

// A plain TCP connection to 127.0.0.1:port from the given loopback source
// address, with a send and receive time-out of `timeoutSeconds`; -1 on failure.
int rawConnect(int port, const std::string& sourceAddress = "127.0.0.1", int timeoutSeconds = 10);

// Reads until the peer closes or the time-out; true when it closed.
bool closedByPeer(int fd);

// The process's resident memory now (VmRSS), in KiB; -1 when unknown.
long residentMemoryKiB(pid_t pid);

} // namespace zeq::test
