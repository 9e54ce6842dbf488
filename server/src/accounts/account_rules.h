#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zeq::accounts {

constexpr std::size_t kMaxNameLength = 32;
constexpr std::size_t kMinPasswordCharacters = 12;
constexpr std::size_t kMaxPasswordCharacters = 128;

// A technician's name: 1 to 32 bytes of lower-case ASCII letters, digits, '.',
// '_' and '-', starting with a letter ("ana", "j.perez", "tecnico-2"). Names
// appear in the audit, in the console and in the shell: this shape needs no
// escaping anywhere and cannot be confused with an option.
bool isAccountName(std::string_view name);

// Why the password cannot be used, in Spanish for the technician; nullopt when
// it can. Counted in characters of valid UTF-8: at least 12, at most 128, no
// control characters, and not the account's name (in any letter case).
std::optional<std::string> passwordProblem(std::string_view name, std::string_view password);

} // namespace zeq::accounts
