#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "accounts/audit_log.h"
#include "accounts/login_throttle.h"
#include "accounts/sessions.h"
#include "accounts/technicians.h"

namespace zeq::accounts {

enum class LoginResult {
    LoggedIn, // `session` holds the new session's identifier
    Refused,  // a wrong password or an unknown name: the same answer for both;
              // `waitSeconds` before the next attempt will be checked
    TooSoon,  // checked nothing: try again after `waitSeconds`
};

struct LoginOutcome {
    LoginResult result = LoginResult::Refused;
    std::string session;
    std::int64_t waitSeconds = 0;
};

// One login attempt from the console's form: throttled, checked (one hash
// whatever the name), audited, and on success a new session. The decoy hash is
// made when the object is built, so that the first unknown name does not take
// longer than the rest.
class LoginDesk {
  public:
    LoginDesk(Technicians& technicians, Sessions& sessions, LoginThrottle& throttle,
              AuditLog& audit, Clock clock = systemSeconds);

    LoginOutcome attempt(std::string_view name, std::string_view password,
                         std::string_view address);

  private:
    Technicians& technicians_;
    Sessions& sessions_;
    LoginThrottle& throttle_;
    AuditLog& audit_;
    Clock clock_;
};

} // namespace zeq::accounts
