// Console sessions and logins: expiry at its boundaries (8 hours idle, 24
// hours in all), logout, identifiers kept only hashed, growing waits for
// repeated failures that never lock an account, and an unknown name handled
// exactly like a wrong password.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <set>

#include "accounts/audit_log.h"
#include "accounts/login.h"
#include "accounts/password_hash.h"
#include "store/report_store.h"
#include "support/server_process.h"

namespace zeq::accounts {
namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kStart = 1'700'000'000;

class ConsoleSessions : public ::testing::Test {
  protected:
    ConsoleSessions() : store_(dir_.file("reports.db"), ReportStore::Access::Service) {
        EXPECT_FALSE(technicians_.add("ana", "correct horse battery"));
        ana_ = *technicians_.checkPassword("ana", "correct horse battery");
    }

    std::string filesOnDisk() const {
        std::string bytes;
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::string path = dir_.file("reports.db") + suffix;
            if (std::filesystem::exists(path)) {
                bytes += test::readFile(path);
            }
        }
        return bytes;
    }

    test::TempDir dir_;
    ReportStore store_;
    AccountDatabase database_{dir_.file("reports.db")};
    std::int64_t now_ = kStart;
    Clock clock_ = [this] { return now_; };
    Technicians technicians_{database_, clock_};
    Sessions sessions_{database_, clock_};
    std::int64_t ana_ = 0;
};

TEST_F(ConsoleSessions, IdentifierIs256RandomBitsKeptOnlyHashed) {
    std::string first = sessions_.create(ana_), second = sessions_.create(ana_);
    for (const std::string& id : {first, second}) {
        ASSERT_EQ(id.size(), 64u) << "256 bits as hexadecimal";
        for (char c : id) {
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << id;
        }
    }
    EXPECT_NE(first, second);
    ASSERT_TRUE(sessions_.use(first));
    EXPECT_EQ(sessions_.use(first)->name, "ana");
    EXPECT_EQ(sessions_.use(first)->technicianId, ana_);

    std::string bytes = filesOnDisk();
    EXPECT_EQ(bytes.find(first), std::string::npos);
    EXPECT_EQ(bytes.find(first.substr(0, 16)), std::string::npos);
}

TEST_F(ConsoleSessions, OnlyTheExactIdentifierOpensTheSession) {
    std::string id = sessions_.create(ana_);
    std::string upper = id, changed = id;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    changed[40] = changed[40] == '0' ? '1' : '0';
    const std::string wrong[] = {
        "",
        id.substr(0, 63),
        id + "0",
        changed,
        "' OR '1'='1",
        std::string(64, '\0'),
        std::string(100000, 'a'),
    };
    for (const std::string& candidate : wrong) {
        EXPECT_FALSE(sessions_.use(candidate)) << candidate.substr(0, 70);
        EXPECT_FALSE(sessions_.end(candidate)) << candidate.substr(0, 70);
    }
    if (upper != id) {
        EXPECT_FALSE(sessions_.use(upper));
    }
    EXPECT_TRUE(sessions_.use(id)) << "still open after all the wrong ones";
}

TEST_F(ConsoleSessions, IdleForEightHoursEndsTheSession) {
    std::string kept = sessions_.create(ana_), idle = sessions_.create(ana_);
    now_ = kStart + 8 * kHour - 1;
    EXPECT_TRUE(sessions_.use(kept)) << "one second before eight idle hours";
    now_ = kStart + 8 * kHour;
    EXPECT_FALSE(sessions_.use(idle)) << "eight idle hours";
    EXPECT_TRUE(sessions_.use(kept)) << "used a second ago";
    // Each use starts the idle time again.
    now_ += 8 * kHour - 1;
    EXPECT_TRUE(sessions_.use(kept));
    now_ += 8 * kHour;
    EXPECT_FALSE(sessions_.use(kept));
    // An ended session stays ended even if the clock is turned back.
    now_ = kStart;
    EXPECT_FALSE(sessions_.use(kept));
    EXPECT_FALSE(sessions_.use(idle));
}

TEST_F(ConsoleSessions, TwentyFourHoursEndTheSessionHoweverOftenItIsUsed) {
    std::string id = sessions_.create(ana_);
    for (std::int64_t hours : {7, 14, 21}) {
        now_ = kStart + hours * kHour;
        ASSERT_TRUE(sessions_.use(id)) << hours << " h";
    }
    now_ = kStart + 24 * kHour - 1;
    EXPECT_TRUE(sessions_.use(id)) << "one second before 24 hours";
    now_ = kStart + 24 * kHour;
    EXPECT_FALSE(sessions_.use(id)) << "24 hours, last used a second ago";
}

TEST_F(ConsoleSessions, ShorterLimitsForTests) {
    Sessions quick(database_, clock_, SessionLimits{60, 150});
    std::string id = quick.create(ana_);
    now_ = kStart + 59;
    EXPECT_TRUE(quick.use(id));
    now_ = kStart + 59 + 59;
    EXPECT_TRUE(quick.use(id));
    now_ = kStart + 149;
    EXPECT_TRUE(quick.use(id));
    now_ = kStart + 150;
    EXPECT_FALSE(quick.use(id));

    std::string idle = quick.create(ana_);
    now_ += 60;
    EXPECT_FALSE(quick.use(idle));
}

TEST_F(ConsoleSessions, LogoutEndsOnlyThatSession) {
    std::string phone = sessions_.create(ana_), desk = sessions_.create(ana_);
    EXPECT_TRUE(sessions_.end(phone));
    EXPECT_FALSE(sessions_.end(phone));
    EXPECT_FALSE(sessions_.use(phone));
    EXPECT_TRUE(sessions_.use(desk));
}

TEST_F(ConsoleSessions, ExpiredSessionsAreForgotten) {
    sessions_.create(ana_);
    now_ = kStart + 4 * kHour;
    std::string recent = sessions_.create(ana_);
    now_ = kStart + 9 * kHour;
    EXPECT_EQ(sessions_.forgetExpired(), 1);
    EXPECT_EQ(technicians_.list()[0].openSessions, 1);
    EXPECT_TRUE(sessions_.use(recent));
}

// Failed logins: waits grow, never become a lock, and are kept apart per
// address and per name.
class LoginWaits : public ConsoleSessions {
  protected:
    LoginThrottle throttle_{database_, clock_};
};

TEST_F(LoginWaits, RepeatedFailuresAskForGrowingWaitsThatNeverLock) {
    std::vector<std::int64_t> waits;
    for (int failure = 0; failure < 40; ++failure) {
        throttle_.recordFailure("203.0.113.7", "ana");
        waits.push_back(throttle_.waitSeconds("203.0.113.7", "ana"));
    }
    EXPECT_EQ(waits.front(), 0) << "one slip of the fingers costs nothing";
    for (std::size_t i = 1; i < waits.size(); ++i) {
        EXPECT_GE(waits[i], waits[i - 1]) << "failure " << i + 1;
    }
    std::set<std::int64_t> distinct(waits.begin(), waits.end());
    distinct.erase(0);
    EXPECT_GE(distinct.size(), 3u) << "the wait grows with the failures";
    // After the longest wait the next attempt may be checked: no lock-out.
    std::int64_t longest = waits.back();
    EXPECT_GT(longest, 0);
    EXPECT_LE(longest, 15 * 60) << "a technician is never kept out for long";
    now_ += longest;
    EXPECT_EQ(throttle_.waitSeconds("203.0.113.7", "ana"), 0);
    // Left alone for a day, everything is forgotten.
    throttle_.recordFailure("203.0.113.7", "ana");
    now_ += 24 * kHour;
    EXPECT_EQ(throttle_.waitSeconds("203.0.113.7", "ana"), 0);
}

TEST_F(LoginWaits, CountedPerAddressAndPerName) {
    for (int failure = 0; failure < 12; ++failure) {
        throttle_.recordFailure("203.0.113.7", "name" + std::to_string(failure));
    }
    EXPECT_GT(throttle_.waitSeconds("203.0.113.7", "ana"), 0) << "one address, many names";
    EXPECT_EQ(throttle_.waitSeconds("198.51.100.1", "ana"), 0) << "another address";

    for (int failure = 0; failure < 12; ++failure) {
        throttle_.recordFailure("192.0.2." + std::to_string(failure), "bea");
    }
    EXPECT_GT(throttle_.waitSeconds("198.51.100.1", "bea"), 0) << "one name, many addresses";
    EXPECT_EQ(throttle_.waitSeconds("198.51.100.1", "ana"), 0);

    // A success clears the address and the name it used.
    throttle_.recordSuccess("203.0.113.7", "ana");
    EXPECT_EQ(throttle_.waitSeconds("203.0.113.7", "ana"), 0);
    EXPECT_GT(throttle_.waitSeconds("198.51.100.1", "bea"), 0);
}

TEST_F(LoginWaits, AnIpv6SubscriberIsOneAddress) {
    for (int failure = 0; failure < 12; ++failure) {
        throttle_.recordFailure("2001:db8:1:2::" + std::to_string(failure + 1), "ana");
    }
    EXPECT_GT(throttle_.waitSeconds("2001:db8:1:2:ffff::9", "someone"), 0);
    EXPECT_EQ(throttle_.waitSeconds("2001:db8:1:3::1", "someone"), 0);
}

TEST_F(LoginWaits, TypedNamesAreNotStored) {
    const std::string typed = "Correct-Horse-Typed-In-The-Name-Field";
    throttle_.recordFailure("203.0.113.7", typed);
    throttle_.recordFailure("203.0.113.7", "ana' OR '1'='1");
    EXPECT_EQ(filesOnDisk().find(typed), std::string::npos);
    EXPECT_EQ(filesOnDisk().find("ana' OR"), std::string::npos);
}

class LoginAttempts : public LoginWaits {
  protected:
    AuditLog audit_{database_};
    LoginDesk desk_{technicians_, sessions_, throttle_, audit_, clock_};
};

TEST_F(LoginAttempts, RightPasswordOpensASessionAndIsAudited) {
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
    EXPECT_EQ(entries[0].at, kStart);
}

TEST_F(LoginAttempts, AnUnknownNameIsAnsweredLikeAWrongPassword) {
    std::uint64_t before = verificationsSoFar();
    LoginOutcome wrong = desk_.attempt("ana", "wrong horse battery", "203.0.113.7");
    std::uint64_t afterWrong = verificationsSoFar();
    LoginOutcome unknown = desk_.attempt("nadie", "wrong horse battery", "198.51.100.1");
    std::uint64_t afterUnknown = verificationsSoFar();

    EXPECT_EQ(wrong.result, LoginResult::Refused);
    EXPECT_EQ(unknown.result, LoginResult::Refused);
    EXPECT_EQ(wrong.session, unknown.session);
    EXPECT_EQ(wrong.waitSeconds, unknown.waitSeconds);
    EXPECT_EQ(afterWrong - before, 1u) << "one password check for a known name";
    EXPECT_EQ(afterUnknown - afterWrong, 1u) << "and one for an unknown name";

    // Repeated, both are slowed down alike.
    for (int failure = 0; failure < 10; ++failure) {
        desk_.attempt("ana", "wrong horse battery", "203.0.113.7");
        desk_.attempt("nadie", "wrong horse battery", "198.51.100.1");
        now_ += 60;
    }
    LoginOutcome slowedKnown = desk_.attempt("ana", "wrong horse battery", "203.0.113.7");
    LoginOutcome slowedUnknown = desk_.attempt("nadie", "wrong horse battery", "198.51.100.1");
    EXPECT_EQ(slowedKnown.result, slowedUnknown.result);
    EXPECT_EQ(slowedKnown.waitSeconds, slowedUnknown.waitSeconds);

    // The failed login names the account that exists, never the typed name
    // that is no account.
    for (const AuditEntry& entry : audit_.entries()) {
        EXPECT_EQ(entry.event, "login_failed");
        EXPECT_EQ(entry.technician, entry.address == "203.0.113.7" ? "ana" : "");
    }
    EXPECT_EQ(filesOnDisk().find("nadie"), std::string::npos);
}

TEST_F(LoginAttempts, WhileWaitingNothingIsCheckedAndThenTheRightPasswordWorks) {
    LoginOutcome outcome;
    for (int failure = 0; failure < 8; ++failure) {
        now_ += outcome.waitSeconds;
        outcome = desk_.attempt("ana", "wrong horse battery", "203.0.113.7");
        ASSERT_EQ(outcome.result, LoginResult::Refused) << "after waiting as told";
    }
    EXPECT_GT(outcome.waitSeconds, 0) << "the refusal says how long to wait";
    std::uint64_t before = verificationsSoFar();
    LoginOutcome early = desk_.attempt("ana", "correct horse battery", "203.0.113.7");
    EXPECT_EQ(early.result, LoginResult::TooSoon);
    EXPECT_GT(early.waitSeconds, 0);
    EXPECT_TRUE(early.session.empty());
    EXPECT_EQ(verificationsSoFar(), before) << "no password checked while waiting";

    now_ += early.waitSeconds;
    EXPECT_EQ(desk_.attempt("ana", "correct horse battery", "203.0.113.7").result,
              LoginResult::LoggedIn);
}

} // namespace
} // namespace zeq::accounts
