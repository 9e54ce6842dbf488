// Console sessions and logins: identifiers kept only hashed, logout, expiry at
// its boundaries, growing waits for repeated failures that never lock an
// account, and an unknown name handled exactly like a wrong password.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "accounts/audit_log.h"
#include "accounts/login.h"
#include "accounts/password_hash.h"
#include "support/stored_reports.h"

namespace zeq::accounts {
namespace {

using namespace std::string_literals;

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kStart = 1'700'000'000;

class ConsoleSessions : public ::testing::Test {
  protected:
    ConsoleSessions() {
        EXPECT_FALSE(technicians_.add("ana", "correct horse battery"));
        ana_ = *technicians_.checkPassword("ana", "correct horse battery");
    }

    std::string filesOnDisk() const {
        return test::databaseBytes(db_.path);
    }

    test::ServiceDatabase db_;
    AccountDatabase database_{db_.path};
    std::int64_t now_ = kStart;
    Clock clock_ = [this] { return now_; };
    Technicians technicians_{database_, clock_};
    Sessions sessions_{database_, clock_};
    LoginThrottle throttle_{database_, clock_};
    AuditLog audit_{database_};
    LoginDesk desk_{technicians_, sessions_, throttle_, audit_, clock_};
    std::int64_t ana_ = 0;
};

TEST_F(ConsoleSessions, OpenForTheExactIdentifierUntilLogoutOrTheirLimits) {
    std::string id = sessions_.create(ana_), other = sessions_.create(ana_);
    for (const std::string& each : {id, other}) {
        ASSERT_EQ(each.size(), 64u) << "256 bits as hexadecimal";
        EXPECT_EQ(each.find_first_not_of("0123456789abcdefABCDEF"), std::string::npos) << each;
    }
    EXPECT_NE(id, other);

    std::string upper = id, changed = id;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    changed[40] = changed[40] == '0' ? '1' : '0';
    // (An identifier without a letter a-f, which upper case would not change,
    // comes once in 10^13.)
    for (const std::string& candidate :
         {std::string(), id.substr(0, 63), id + "0", changed, upper, "' OR '1'='1"s,
          std::string(64, '\0'), std::string(100000, 'a')}) {
        EXPECT_FALSE(sessions_.use(candidate)) << candidate.substr(0, 70);
        EXPECT_FALSE(sessions_.end(candidate)) << candidate.substr(0, 70);
    }
    ASSERT_TRUE(sessions_.use(id)) << "still open after all the wrong ones";
    EXPECT_EQ(sessions_.use(id)->name, "ana");
    EXPECT_EQ(sessions_.use(id)->technicianId, ana_);

    // Logout ends that session, once, and no other.
    EXPECT_TRUE(sessions_.end(other));
    EXPECT_FALSE(sessions_.end(other));
    EXPECT_FALSE(sessions_.use(other));
    EXPECT_TRUE(sessions_.use(id));

    EXPECT_EQ(filesOnDisk().find(id.substr(0, 16)), std::string::npos) << "only its hash is kept";

    // Expired sessions are forgotten, the others kept.
    now_ = kStart + 4 * kHour;
    std::string recent = sessions_.create(ana_);
    now_ = kStart + 9 * kHour;
    EXPECT_EQ(sessions_.forgetExpired(), 1) << "the one left open at the start";
    EXPECT_EQ(technicians_.list()[0].openSessions, 1);
    EXPECT_TRUE(sessions_.use(recent));

    Sessions quick(database_, clock_, SessionLimits{60, 150});
    struct Case {
        const char* what;
        Sessions& sessions;
        std::int64_t idle, absolute;
    };
    const Case cases[] = {{"8 h idle, 24 h in all", sessions_, 8 * kHour, 24 * kHour},
                          {"shortened for tests", quick, 60, 150}};
    for (const Case& c : cases) {
        const std::int64_t start = now_ = kStart + 10 * kHour;
        std::string kept = c.sessions.create(ana_), idle = c.sessions.create(ana_),
                    usedOnce = c.sessions.create(ana_);
        now_ = start + c.idle - 1;
        EXPECT_TRUE(c.sessions.use(kept)) << c.what << ": a second before the idle limit";
        EXPECT_TRUE(c.sessions.use(usedOnce)) << c.what;
        now_ = start + c.idle;
        EXPECT_FALSE(c.sessions.use(idle)) << c.what << ": at the idle limit";
        EXPECT_TRUE(c.sessions.use(kept)) << c.what << ": used a second ago";
        // Each use starts the idle time again.
        now_ = start + 2 * c.idle - 1;
        EXPECT_FALSE(c.sessions.use(usedOnce)) << c.what << ": idle since its last use";
        EXPECT_TRUE(c.sessions.use(kept)) << c.what;
        // However often it is used, the session ends at the absolute limit.
        while (now_ < start + c.absolute - 1) {
            now_ = std::min(now_ + c.idle - 1, start + c.absolute - 1);
            ASSERT_TRUE(c.sessions.use(kept)) << c.what << ", " << now_ - start << " s";
        }
        now_ = start + c.absolute;
        EXPECT_FALSE(c.sessions.use(kept)) << c.what << ": at the absolute limit";
        // An ended session stays ended even if the clock is turned back.
        now_ = start;
        EXPECT_FALSE(c.sessions.use(kept)) << c.what;
        EXPECT_FALSE(c.sessions.use(idle)) << c.what;
    }
}

// Failed logins: waits grow, never become a lock, and are kept apart per
// address and per name.
TEST_F(ConsoleSessions, WaitsGrowButNeverLockAndAnUnknownNameIsAWrongPassword) {
    // The first three failures cost nothing, then each doubles the wait up to
    // a minute for the address (and half a minute for the name).
    const std::int64_t expected[] = {0, 0, 0, 1, 2, 4, 8, 16, 32, 60, 60, 60};
    for (std::int64_t wait : expected) {
        throttle_.recordFailure("203.0.113.7", "ana");
        EXPECT_EQ(throttle_.waitSeconds("203.0.113.7", "ana"), wait);
    }
    // A count is forgotten 15 minutes after its last failure, not sooner.
    now_ = kStart + 15 * 60 - 1;
    throttle_.recordFailure("203.0.113.7", "ana");
    EXPECT_EQ(throttle_.waitSeconds("203.0.113.7", "ana"), 60);
    now_ += 15 * 60;
    throttle_.recordFailure("203.0.113.7", "ana");
    EXPECT_EQ(throttle_.waitSeconds("203.0.113.7", "ana"), 0);

    for (int failure = 0; failure < 12; ++failure) {
        throttle_.recordFailure("203.0.113.8", "name" + std::to_string(failure));
        throttle_.recordFailure("192.0.2." + std::to_string(failure), "bea");
        throttle_.recordFailure("2001:db8:1:2::" + std::to_string(failure + 1), "eva");
    }
    EXPECT_EQ(throttle_.waitSeconds("203.0.113.8", "cai"), 60) << "one address, many names";
    EXPECT_EQ(throttle_.waitSeconds("198.51.100.1", "bea"), 30) << "one name, many addresses";
    EXPECT_EQ(throttle_.waitSeconds("198.51.100.1", "cai"), 0) << "another address and name";
    // An IPv6 subscriber is one address: its /64.
    EXPECT_EQ(throttle_.waitSeconds("2001:db8:1:2:ffff::9", "someone"), 60);
    EXPECT_EQ(throttle_.waitSeconds("2001:db8:1:3::1", "someone"), 0);
    // A success clears the address and the name it used.
    throttle_.recordSuccess("203.0.113.8", "cai");
    EXPECT_EQ(throttle_.waitSeconds("203.0.113.8", "cai"), 0);
    EXPECT_EQ(throttle_.waitSeconds("198.51.100.1", "bea"), 30);

    // Typed names are counted, not stored: a password typed into the name
    // field is not kept.
    for (std::string typed : {"Correct-Horse-Typed-In-The-Name-Field", "ana' OR '1'='1"}) {
        throttle_.recordFailure("203.0.113.7", typed);
        EXPECT_EQ(filesOnDisk().find(typed.substr(0, 12)), std::string::npos) << typed;
    }

    now_ = kStart + 2 * kHour;
    LoginOutcome outcome = desk_.attempt("ana", "correct horse battery", "203.0.113.7");
    ASSERT_EQ(outcome.result, LoginResult::LoggedIn);
    ASSERT_TRUE(sessions_.use(outcome.session));
    EXPECT_EQ(sessions_.use(outcome.session)->name, "ana");
    LoginOutcome again = desk_.attempt("ana", "correct horse battery", "203.0.113.7");
    EXPECT_NE(again.session, outcome.session) << "a new session at every login";
    std::vector<AuditEntry> entries = audit_.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].event, "login");
    EXPECT_EQ(entries[0].technician, "ana");
    EXPECT_EQ(entries[0].address, "203.0.113.7");
    EXPECT_EQ(entries[0].at, kStart + 2 * kHour);

    // A wrong password and an unknown name get the same answer after one
    // password check each, and the same growing waits; waiting as told, every
    // attempt is checked.
    LoginOutcome wrong, unknown;
    for (int failure = 0; failure < 12; ++failure) {
        now_ += wrong.waitSeconds;
        std::uint64_t before = verificationsSoFar();
        wrong = desk_.attempt("ana", "wrong horse battery", "203.0.113.7");
        std::uint64_t afterWrong = verificationsSoFar();
        unknown = desk_.attempt("nadie", "wrong horse battery", "198.51.100.1");
        EXPECT_EQ(wrong.result, LoginResult::Refused) << failure;
        EXPECT_EQ(unknown.result, LoginResult::Refused) << failure;
        EXPECT_EQ(wrong.session, unknown.session) << failure;
        EXPECT_EQ(wrong.waitSeconds, unknown.waitSeconds) << failure;
        EXPECT_EQ(afterWrong - before, 1u) << failure;
        EXPECT_EQ(verificationsSoFar() - afterWrong, 1u) << failure;
    }
    EXPECT_GT(wrong.waitSeconds, 0) << "the refusal says how long to wait";
    // The failed login names the account that exists, never the typed name
    // that is no account.
    entries = audit_.entries();
    for (std::size_t i = 2; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].event, "login_failed");
        EXPECT_EQ(entries[i].technician, entries[i].address == "203.0.113.7" ? "ana" : "");
    }
    EXPECT_EQ(filesOnDisk().find("nadie"), std::string::npos);

    // While waiting nothing is checked, and after the wait the right password
    // gets in: no lock-out.
    now_ += wrong.waitSeconds - 1;
    std::uint64_t before = verificationsSoFar();
    LoginOutcome early = desk_.attempt("ana", "correct horse battery", "203.0.113.7");
    EXPECT_EQ(early.result, LoginResult::TooSoon);
    EXPECT_EQ(early.waitSeconds, 1);
    EXPECT_TRUE(early.session.empty());
    EXPECT_EQ(verificationsSoFar(), before) << "no password checked while waiting";
    now_ += early.waitSeconds;
    EXPECT_EQ(desk_.attempt("ana", "correct horse battery", "203.0.113.7").result,
              LoginResult::LoggedIn);
    EXPECT_EQ(desk_.attempt("ana", "wrong horse battery", "203.0.113.7").waitSeconds, 0)
        << "a login clears the counts of its address and name";
}

} // namespace
} // namespace zeq::accounts
