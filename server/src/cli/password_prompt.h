#pragma once

#include <optional>
#include <string>

namespace zeq {

// A new password for an account: asked twice on the terminal without echo, or
// read as the first line of standard input when that is not a terminal, for
// scripts. nullopt, with why in `problem`, when the two differ or nothing could
// be read.
std::optional<std::string> readNewPassword(const std::string& accountName, std::string& problem);

// Overwrites the text's bytes before it is freed.
void wipe(std::string& text);

} // namespace zeq
