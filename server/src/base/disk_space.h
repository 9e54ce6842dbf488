#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zeq {

// Bytes an unprivileged process may still write on the file system that holds
// `path`; nothing when it cannot be asked.
std::optional<std::uint64_t> freeBytes(const std::string& path);

} // namespace zeq
