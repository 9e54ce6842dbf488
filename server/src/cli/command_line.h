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
    std::set<std::string> flags;                // options without a value

    bool has(const std::string& name) const {
        return options.count(name) != 0;
    }
    bool flag(const std::string& name) const {
        return flags.count(name) != 0;
    }
    std::string text(const std::string& name, const std::string& fallback) const;
    // An integer option within [min, max]; throws UsageError otherwise.
    int integer(const std::string& name, int fallback, int min, int max) const;
};

// Splits the arguments after the program name. An option of `known` takes a
// value, one of `knownFlags` takes none; any other option, a flag given a value
// ("--text=1") and an option or flag given twice are errors.
CommandLine parseCommandLine(const std::vector<std::string>& args,
                             const std::set<std::string>& known,
                             const std::set<std::string>& knownFlags = {});

} // namespace zeq
