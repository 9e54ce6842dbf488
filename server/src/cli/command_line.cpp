#include "cli/command_line.h"

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
    const std::string& value = found->second;
    bool digits = !value.empty() && value.size() <= 9 &&
                  value.find_first_not_of("0123456789") == std::string::npos;
    int number = digits ? std::stoi(value) : -1;
    if (!digits || number < min || number > max) {
        throw UsageError("--" + name + " debe ser un número entero entre " + std::to_string(min) +
                         " y " + std::to_string(max));
    }
    return number;
}

CommandLine parseCommandLine(const std::vector<std::string>& args,
                             const std::set<std::string>& known) {
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
        std::string value;
        std::size_t equals = name.find('=');
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
