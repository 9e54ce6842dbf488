#include <gtest/gtest.h>

#include <set>

#include "base/crypto.h"
#include "upload/token.h"

namespace zeq {
namespace {

constexpr std::int64_t kNow = 1'709'805'600; // 2024-03-07 10:00:00 UTC

std::vector<unsigned char> secretA() {
    return std::vector<unsigned char>(32, 0xA5);
}

std::vector<unsigned char> secretB() {
    return std::vector<unsigned char>(32, 0x5A);
}

TokenAuthority authorityAt(std::int64_t now, std::vector<unsigned char> secret = secretA()) {
    return TokenAuthority(std::move(secret), [now] { return now; });
}

// A token issued at `issued` and checked at `now`, under the same secret.
TokenStatus checkAged(std::int64_t issued, std::int64_t now) {
    std::string token = authorityAt(issued).issue();
    return authorityAt(now).check(token).status;
}

TEST(TokenFormat, IssuedTokensFitTheClientsRule) {
    TokenAuthority tokens = authorityAt(kNow);
    for (int i = 0; i < 200; ++i) {
        std::string token = tokens.issue();
        ASSERT_GE(token.size(), 80u);
        ASSERT_LE(token.size(), 200u);
        for (char c : token) {
            ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '.') << token;
        }
    }
}

TEST(TokenFormat, FieldsAreVersionIssueTimeNonceAndMac) {
    std::string token = authorityAt(kNow).issue();
    ASSERT_EQ(token.size(), 117u);
    EXPECT_EQ(token.substr(0, 3), "01.");
    EXPECT_EQ(token.substr(3, 16), "0000000065e99020"); // kNow in hexadecimal
    EXPECT_EQ(token[19], '.');
    EXPECT_EQ(token[52], '.');
    // The MAC covers everything before the last full stop.
    EXPECT_EQ(token.substr(53), toHex(hmacSha256(secretA(), token.substr(0, 52))));
}

TEST(TokenFormat, EveryTokenHasItsOwnNonce) {
    TokenAuthority tokens = authorityAt(kNow);
    std::set<std::string> nonces;
    for (int i = 0; i < 1000; ++i) {
        TokenCheck check = tokens.check(tokens.issue());
        ASSERT_EQ(check.status, TokenStatus::Valid);
        nonces.insert(check.nonce);
    }
    EXPECT_EQ(nonces.size(), 1000u);
}

TEST(TokenCheck, AFreshTokenIsValidUntilItsLifetimeEnds) {
    TokenAuthority tokens = authorityAt(kNow);
    std::string token = tokens.issue();
    TokenCheck check = tokens.check(token);
    EXPECT_EQ(check.status, TokenStatus::Valid);
    EXPECT_EQ(check.nonce, token.substr(20, 32));
    EXPECT_EQ(check.expiresAt, kNow + 15 * 60);
}

TEST(TokenCheck, AgeDecidesValidity) {
    struct Case {
        std::int64_t age;
        TokenStatus expected;
    };
    const Case cases[] = {
        {0, TokenStatus::Valid},
        {1, TokenStatus::Valid},
        {899, TokenStatus::Valid},
        {900, TokenStatus::Valid},
        {901, TokenStatus::Expired},
        {3600, TokenStatus::Expired},
        {86400 * 365, TokenStatus::Expired},
        // Issued "in the future": the clock stepped back a little, or not.
        {-60, TokenStatus::Valid},
        {-61, TokenStatus::NotYetValid},
        {-86400, TokenStatus::NotYetValid},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkAged(kNow - c.age, kNow), c.expected) << "age " << c.age;
    }
}

TEST(TokenCheck, AnyChangedCharacterIsRefused) {
    TokenAuthority tokens = authorityAt(kNow);
    std::string token = tokens.issue();
    for (std::size_t i = 0; i < token.size(); ++i) {
        for (char replacement : {'0', '7', 'f', '.', 'A', ' '}) {
            if (token[i] == replacement) {
                continue;
            }
            std::string changed = token;
            changed[i] = replacement;
            TokenStatus status = tokens.check(changed).status;
            ASSERT_NE(status, TokenStatus::Valid) << "position " << i << " -> " << replacement;
            bool digitForDigit = token[i] != '.' && replacement != '.' && replacement != 'A' &&
                                 replacement != ' ' && i >= 3;
            if (digitForDigit) {
                // The shape survives: only the signature can tell.
                EXPECT_EQ(status, TokenStatus::Forged) << "position " << i;
            } else {
                EXPECT_EQ(status, TokenStatus::Malformed) << "position " << i;
            }
        }
    }
}

TEST(TokenCheck, ATokenOfAnotherSecretIsForged) {
    std::string token = authorityAt(kNow, secretB()).issue();
    EXPECT_EQ(authorityAt(kNow, secretA()).check(token).status, TokenStatus::Forged);
}

TEST(TokenCheck, AMovedIssueTimeBreaksTheSignature) {
    // Making an expired token look young again is exactly what the MAC stops.
    std::string token = authorityAt(kNow - 3600).issue();
    std::string younger = authorityAt(kNow).issue().substr(0, 19) + token.substr(19);
    EXPECT_EQ(authorityAt(kNow).check(younger).status, TokenStatus::Forged);
}

TEST(TokenCheck, TextsOfTheWrongShapeAreMalformed) {
    std::string token = authorityAt(kNow).issue();
    std::string upper = token;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::string cases[] = {
        "",
        "01",
        std::string(117, '.'),
        std::string(117, '0'),
        token.substr(0, 116),
        token + "0",
        token + "\n",
        token + "\r\n",
        " " + token.substr(1),
        upper,
        "02" + token.substr(2),
        token.substr(0, 19) + "0" + token.substr(20), // a full stop replaced
        "\"" + token.substr(1, 115) + "\"",
    };
    TokenAuthority tokens = authorityAt(kNow);
    for (const std::string& text : cases) {
        EXPECT_EQ(tokens.check(text).status, TokenStatus::Malformed) << text;
    }
}

TEST(TokenAuthority, RefusesAShortSecret) {
    EXPECT_THROW(TokenAuthority(std::vector<unsigned char>(31, 1), [] { return kNow; }),
                 std::invalid_argument);
}

} // namespace
} // namespace zeq
