#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_database.h"
#include "base/clock.h"

namespace zeq::accounts {

struct TechnicianSummary {
    std::string name;
    std::int64_t createdAt = 0;
    std::int64_t passwordChangedAt = 0;
    std::int64_t openSessions = 0;
};

// The technicians who may use the console. Passwords are kept only as
// Argon2id hashes, computed outside the database lock. Changing a password or
// removing an account ends all of its sessions in the same transaction.
class Technicians {
  public:
    Technicians(AccountDatabase& database, Clock clock = systemSeconds)
        : database_(database), clock_(std::move(clock)) {}

    // nullopt when added; otherwise why not, in Spanish (a name of the wrong
    // shape, a password the rules refuse, a name already taken).
    std::optional<std::string> add(std::string_view name, std::string_view password);
    // nullopt when changed; otherwise why not (no such account, or the rules).
    std::optional<std::string> changePassword(std::string_view name, std::string_view password);
    // False when there is no such account.
    bool remove(std::string_view name);
    bool exists(std::string_view name);
    // By name.
    std::vector<TechnicianSummary> list();

    // The account's id when the password is its own. Always checks one hash,
    // the account's or a decoy, so an unknown name costs what a wrong password
    // costs.
    std::optional<std::int64_t> checkPassword(std::string_view name, std::string_view password);

  private:
    AccountDatabase& database_;
    Clock clock_;
};

} // namespace zeq::accounts
