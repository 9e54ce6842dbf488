#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"

namespace zeq {

// Upload tokens: "01.<issued>.<nonce>.<mac>", lower-case hexadecimal fields
// joined by full stops. <issued> is the issue time (16 digits, seconds since the
// epoch), <nonce> 16 random bytes, <mac> the HMAC-SHA256 under the server secret
// of everything before the last full stop. 117 bytes, inside the 80 to 200 that
// the client admits. Tokens are stateless until used; the store remembers used
// nonces until a day after the token would have expired anyway.
enum class TokenStatus {
    Valid,
    Malformed,   // not of the token's shape
    Forged,      // shape fine, MAC wrong
    Expired,     // older than the lifetime
    NotYetValid, // issued in the future (clock stepped back or forged key)
};

struct TokenCheck {
    TokenStatus status = TokenStatus::Malformed;
    std::string nonce;          // set when Valid: the key under which use is remembered
    std::int64_t expiresAt = 0; // set when Valid
};

class TokenAuthority {
  public:
    static constexpr std::int64_t lifetimeSeconds = 15 * 60;
    static constexpr std::int64_t allowedClockStepBack = 60;
    static constexpr std::size_t tokenLength = 117;

    TokenAuthority(std::vector<unsigned char> secret, Clock clock);

    std::string issue() const;
    TokenCheck check(std::string_view token) const;

  private:
    std::string mac(std::string_view signedPart) const;

    std::vector<unsigned char> secret_;
    Clock clock_;
};

} // namespace zeq
