#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace zeq {

// A mistake in the command line; main prints it with the usage and exits 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "zeq-server COMMAND [ARGUMENT...] [--option VALUE | --option=VALUE]..."
struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> options; // without the leading "--"

    bool has(const std::string& name) const {
        return options.count(name) != 0;
    }
    std::string text(const std::string& name, const std::string& fallback) const;
    // An integer option within [min, max]; throws UsageError otherwise.
    int integer(const std::string& name, int fallback, int min, int max) const;
};

// Splits the arguments after the program name. Every option takes a value and
// must be one of `known`; an option given twice is an error.
CommandLine parseCommandLine(const std::vector<std::string>& args,
                             const std::set<std::string>& known);

} // namespace zeq
