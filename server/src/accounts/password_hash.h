#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zeq::accounts {

// Argon2id through libsodium with its interactive limits (64 MiB, a fraction
// of a second). At most two hashes are computed at once in the process, so a
// burst of logins cannot take the service past its memory limit: the others
// wait their turn. Throws std::runtime_error when libsodium cannot start or
// runs out of memory.

// The encoded hash ("$argon2id$v=19$m=...") of the password, with a new salt.
std::string hashPassword(std::string_view password);

// Whether the password matches the encoded hash. A hash that does not parse
// matches nothing.
bool verifyPassword(const std::string& encodedHash, std::string_view password);

// A hash of a random password made once per process: checked when a login
// names no account, so that an unknown name costs the same work as a wrong
// password and answers in the same time.
const std::string& decoyHash();

// How many verifications the process has run, for tests that check that an
// unknown name goes through the same work as a known one.
std::uint64_t verificationsSoFar();
// The most hashes and verifications the process has had running at once.
int mostHashesAtOnce();

} // namespace zeq::accounts
