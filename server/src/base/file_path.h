#pragma once

#include <string>

namespace zeq {

// The directory part of a path: "." for a bare file name, "/" for a file in
// the root directory.
std::string directoryOf(const std::string& path);

} // namespace zeq
