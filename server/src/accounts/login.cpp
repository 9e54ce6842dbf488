#include "accounts/login.h"

#include <optional>

#include "accounts/password_hash.h"

namespace zeq::accounts {

LoginDesk::LoginDesk(Technicians& technicians, Sessions& sessions, LoginThrottle& throttle,
                     AuditLog& audit, Clock clock)
    : technicians_(technicians), sessions_(sessions), throttle_(throttle), audit_(audit),
      clock_(std::move(clock)) {
    decoyHash();
}

LoginOutcome LoginDesk::attempt(std::string_view name, std::string_view password,
                                std::string_view address) {
    if (std::int64_t wait = throttle_.waitSeconds(address, name); wait > 0) {
        return {LoginResult::TooSoon, {}, wait};
    }
    std::optional<std::int64_t> id = technicians_.checkPassword(name, password);
    if (!id) {
        throttle_.recordFailure(address, name);
        // A typed name that is no account may be a password typed in the
        // wrong field: it is not written down.
        bool known = technicians_.exists(name);
        audit_.append(AuditEvent::LoginFailed, clock_(), known ? name : std::string_view(), {},
                      address);
        return {LoginResult::Refused, {}, throttle_.waitSeconds(address, name)};
    }
    throttle_.recordSuccess(address, name);
    audit_.append(AuditEvent::Login, clock_(), name, {}, address);
    return {LoginResult::LoggedIn, sessions_.create(*id), 0};
}

} // namespace zeq::accounts
