#pragma once

#include <string>
#include <vector>

namespace zeq {

constexpr std::size_t kSecretBytes = 32;

// Reads the server secret from the file, or creates the file with fresh random
// bytes and mode 0600 when it does not exist. Creation is atomic: the bytes go
// to a private temporary file that is then linked under the final name, so no
// reader ever sees a partial secret and two starting servers agree on one.
// Throws std::runtime_error (with a Spanish message for the technician) when
// the file cannot be made or read, has the wrong size, is not a regular file,
// or can be read or written by group or others.
std::vector<unsigned char> loadOrCreateSecret(const std::string& path);

} // namespace zeq
