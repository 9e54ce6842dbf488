#pragma once

#include <cstdint>
#include <string_view>

#include "accounts/account_database.h"
#include "base/clock.h"

namespace zeq::accounts {

// Slows password guessing without ever locking an account: failed logins are
// counted per address (an IPv6 address by its /64) and per typed name, and
// each count asks for a growing wait before the next check, up to a ceiling.
// After the wait a right password always gets in, so an attacker can slow a
// technician down but never shut them out. A count is forgotten a quarter of
// an hour after its last failure, and a login that succeeds clears both.
// Typed names are kept only as a hash: a password typed into the name field
// is never stored, and an unknown name is counted exactly like a known one.
class LoginThrottle {
  public:
    explicit LoginThrottle(AccountDatabase& database, Clock clock = systemSeconds)
        : database_(database), clock_(std::move(clock)) {}

    // Seconds to wait before a login from this address for this name may be
    // checked; 0 when it may be checked now.
    std::int64_t waitSeconds(std::string_view address, std::string_view name);
    void recordFailure(std::string_view address, std::string_view name);
    void recordSuccess(std::string_view address, std::string_view name);

  private:
    AccountDatabase& database_;
    Clock clock_;
};

} // namespace zeq::accounts
