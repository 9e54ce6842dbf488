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

int serveCommand(const CommandLine& line);

} // namespace zeq
