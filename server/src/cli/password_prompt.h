#pragma once

#include <optional>
#include <string>

namespace zeq {

// A new password for an account: asked twice on the terminal without echo
// (nullopt, with a message on standard error, when the two differ), or read as
// the first line of standard input when that is not a terminal, for scripts.
// nullopt also when nothing could be read.
std::optional<std::string> readNewPassword(const std::string& accountName);

// Overwrites the text's bytes before it is freed.
void wipe(std::string& text);

} // namespace zeq
