#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace zeq {

constexpr const char* kDefaultDatabase = "/var/lib/zeq-server/reports.db";

// Runs "zeq-server ARGS..." and returns the exit status: 0 done, 1 failed,
// 2 wrong command line.
int runCommand(const std::vector<std::string>& args);

// The secret's default place: "token-secret" beside the database.
std::string defaultSecretPath(const std::string& databasePath);

// The database named by --db, or the default.
std::string databasePath(const CommandLine& line);

int serveCommand(const CommandLine& line);
// user add|list|remove|passwd, and audit (account_commands.cpp).
int userCommand(const CommandLine& line);
int auditCommand(const CommandLine& line);

} // namespace zeq
