#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "accounts/account_database.h"
#include "base/clock.h"

namespace zeq::accounts {

// A session ends 8 hours after its last use or 24 hours after it began,
// whichever comes first. Tests (and the service's flag for them) shorten both.
struct SessionLimits {
    std::int64_t idleSeconds = 8 * 3600;
    std::int64_t absoluteSeconds = 24 * 3600;
};

struct SessionTechnician {
    std::int64_t technicianId = 0;
    std::string name;
};

// Console sessions. The browser holds a random 256-bit identifier (64
// lower-case hexadecimal digits); the database holds only its SHA-256, so a
// copy of the database opens no session. A session is valid while the time is
// before both of its ends: at the very second an end is reached it is over.
class Sessions {
  public:
    Sessions(AccountDatabase& database, Clock clock = systemSeconds, SessionLimits limits = {})
        : database_(database), clock_(std::move(clock)), limits_(limits) {}

    // A new session for the technician; returns the identifier for the cookie.
    std::string create(std::int64_t technicianId);
    // The session's technician, and the session counted as used now; nullopt
    // for an identifier of the wrong shape, unknown, or expired (an expired one
    // is deleted).
    std::optional<SessionTechnician> use(std::string_view identifier);
    // Logout. False when there was no such session.
    bool end(std::string_view identifier);
    // Deletes the expired sessions; returns how many.
    std::int64_t forgetExpired();

  private:
    AccountDatabase& database_;
    Clock clock_;
    SessionLimits limits_;
};

} // namespace zeq::accounts
