#include "upload/token.h"

#include <cinttypes>
#include <cstdio>
#include <stdexcept>

#include "base/crypto.h"
#include "base/text_shapes.h"

namespace zeq {

namespace {

constexpr std::string_view kVersion = "01";
constexpr std::size_t kIssuedDigits = 16;
constexpr std::size_t kNonceBytes = 16;
constexpr std::size_t kMacDigits = 64;

// Field offsets in "01.<16>.<32>.<64>".
constexpr std::size_t kIssuedAt = 3;
constexpr std::size_t kNonceAt = kIssuedAt + kIssuedDigits + 1;
constexpr std::size_t kMacAt = kNonceAt + kNonceBytes * 2 + 1;
static_assert(kMacAt + kMacDigits == TokenAuthority::tokenLength);

// "01.<16 x>.<32 x>.<64 x>", as base/text_shapes.h reads it.
const std::string& tokenShape() {
    static const std::string shape = std::string(kVersion) + "." + std::string(kIssuedDigits, 'x') +
                                     "." + std::string(kNonceBytes * 2, 'x') + "." +
                                     std::string(kMacDigits, 'x');
    return shape;
}

std::int64_t parseIssued(std::string_view digits) {
    std::uint64_t value = 0;
    for (char c : digits) {
        value = value * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    // The top bit would make a negative time: never issued by us.
    return value > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(value);
}

} // namespace

TokenAuthority::TokenAuthority(std::vector<unsigned char> secret, Clock clock)
    : secret_(std::move(secret)), clock_(std::move(clock)) {
    if (secret_.size() < 32) {
        throw std::invalid_argument("token secret shorter than 32 bytes");
    }
}

std::string TokenAuthority::mac(std::string_view signedPart) const {
    return toHex(hmacSha256(secret_, signedPart));
}

std::string TokenAuthority::issue() const {
    char issued[kIssuedDigits + 1];
    std::snprintf(issued, sizeof issued, "%016" PRIx64, static_cast<std::uint64_t>(clock_()));
    std::vector<unsigned char> nonce = randomBytes(kNonceBytes);
    std::string token =
        std::string(kVersion) + "." + issued + "." + toHex(nonce.data(), nonce.size()) + ".";
    token += mac(std::string_view(token).substr(0, token.size() - 1));
    return token;
}

TokenCheck TokenAuthority::check(std::string_view token) const {
    TokenCheck result;
    if (!matchesShape(token, tokenShape())) {
        result.status = TokenStatus::Malformed;
        return result;
    }
    if (!constantTimeEqual(mac(token.substr(0, kMacAt - 1)), token.substr(kMacAt, kMacDigits))) {
        result.status = TokenStatus::Forged;
        return result;
    }
    std::int64_t issued = parseIssued(token.substr(kIssuedAt, kIssuedDigits));
    std::int64_t now = clock_();
    if (issued < 0 || issued > now + allowedClockStepBack) {
        result.status = TokenStatus::NotYetValid;
        return result;
    }
    if (now - issued > lifetimeSeconds) {
        result.status = TokenStatus::Expired;
        return result;
    }
    result.status = TokenStatus::Valid;
    result.nonce = std::string(token.substr(kNonceAt, kNonceBytes * 2));
    result.expiresAt = issued + lifetimeSeconds;
    return result;
}

} // namespace zeq
