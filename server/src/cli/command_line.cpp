#include "cli/command_line.h"

#include <cstdint>
#include <optional>

#include "base/text_shapes.h"

namespace zeq {

std::string CommandLine::text(const std::string& name, const std::string& fallback) const {
    auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

int CommandLine::integer(const std::string& name, int fallback, int min, int max) const {
    auto found = options.find(name);
    if (found == options.end()) {
        return fallback;
    }
    // Digits alone: no sign, so never below zero.
    std::optional<std::uint64_t> number =
        max < 0 ? std::nullopt : parseDecimal(found->second, static_cast<std::uint64_t>(max));
    if (!number || static_cast<std::int64_t>(*number) < min) {
        throw UsageError("--" + name + " debe ser un número entero entre " + std::to_string(min) +
                         " y " + std::to_string(max));
    }
    return static_cast<int>(*number);
}

CommandLine parseCommandLine(const std::vector<std::string>& args,
                             const std::set<std::string>& known,
                             const std::set<std::string>& knownFlags) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            if (line.command.empty()) {
                line.command = arg;
            } else {
                line.arguments.push_back(arg);
            }
            continue;
        }
        std::string name = arg.substr(2);
        if (knownFlags.count(name) != 0) {
            if (!line.flags.insert(name).second) {
                throw UsageError("opción repetida: --" + name);
            }
            continue;
        }
        std::string value;
        std::size_t equals = name.find('=');
        if (equals != std::string::npos && knownFlags.count(name.substr(0, equals)) != 0) {
            throw UsageError("--" + name.substr(0, equals) + " no lleva valor");
        }
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError("falta el valor de --" + name);
        }
        if (known.count(name) == 0) {
            throw UsageError("opción desconocida: --" + name);
        }
        if (!line.options.emplace(name, value).second) {
            throw UsageError("opción repetida: --" + name);
        }
    }
    return line;
}

} // namespace zeq
