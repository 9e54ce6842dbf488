// Technicians' accounts: the name and password rules, Argon2id hashes that
// never leave the password readable in the database, at most two hashes at
// once, and names from hostile input refused or kept as data.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "accounts/account_rules.h"
#include "accounts/password_hash.h"
#include "accounts/sessions.h"
#include "accounts/technicians.h"
#include "support/stored_reports.h"

namespace zeq::accounts {
namespace {

using namespace std::string_literals;

// A password of `count` copies of `piece`.
std::string repeated(const std::string& piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

TEST(AccountRules, PasswordLengthInCharactersNameAndControlsAndTheNamesShape) {
    struct Case {
        const char* what;
        std::string name;
        std::string password;
        bool accepted;
    };
    const Case cases[] = {
        {"12 characters", "ana", repeated("a", 12), true},
        {"11 characters", "ana", repeated("a", 11), false},
        {"128 characters", "ana", repeated("b", 128), true},
        {"129 characters", "ana", repeated("b", 129), false},
        {"empty", "ana", "", false},
        // Characters, not bytes: 11 two-byte letters are 22 bytes but too short.
        {"12 letters of two bytes", "ana", repeated("\xC3\xB1", 12), true},
        {"11 letters of two bytes", "ana", repeated("\xC3\xB1", 11), false},
        {"128 signs of three bytes", "ana", repeated("\xE2\x82\xAC", 128), true},
        {"129 signs of three bytes", "ana", repeated("\xE2\x82\xAC", 129), false},
        {"spaces count", "ana", "correct horse battery", true},
        {"the name itself", "ana.lopez.2024", "ana.lopez.2024", false},
        {"the name in capitals", "ana.lopez.2024", "ANA.LOPEZ.2024", false},
        {"the name and more", "ana.lopez.2024", "ana.lopez.2024!", true},
        {"a newline inside", "ana", "correct horse\nbattery", false},
        {"a NUL inside", "ana", std::string("correct horse\0battery", 21), false},
        {"an escape inside", "ana", "correct \x1b[2Jhorse", false},
        {"not UTF-8", "ana", "correct horse \xFF\xFE battery", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(!passwordProblem(c.name, c.password).has_value(), c.accepted) << c.what;
    }

    // Names: only the documented shape.
    for (const std::string& name :
         {"ana"s, "j.perez"s, "tecnico-2"s, "a_b"s, "a"s, repeated("a", 32)}) {
        EXPECT_TRUE(isAccountName(name)) << name;
    }
    for (const std::string& name :
         {repeated("a", 33), repeated("a", 100000), ""s, "Ana"s, "1ana"s, "-rf"s, ".ana"s,
          "ana lopez"s, "jos\xC3\xA9"s, "ana'; DROP TABLE technicians; --"s, "ana\""s, "ana\n"s,
          "ana\r"s, "ana\0root"s, "ana\x1b[31m"s, "<script>"s}) {
        EXPECT_FALSE(isAccountName(name)) << testing::PrintToString(name.substr(0, 40));
    }
}

// One account's life, and a second account beside it that nothing of the
// first's may touch.
TEST(TechnicianAccounts, HashedAddedCheckedChangedAndRemovedWithTheirSessions) {
    test::ServiceDatabase db;
    AccountDatabase database(db.path);
    std::int64_t now = 1'700'000'000;
    Technicians technicians(database, [&now] { return now; });
    Sessions sessions(database, [&now] { return now; });

    const std::string password = "Zebra-Quasar-Lantern-8841";
    ASSERT_FALSE(technicians.add("ana", password));
    Statement query(database.db, "SELECT password_hash FROM technicians WHERE name = 'ana'");
    ASSERT_TRUE(query.step());
    std::string hash = query.columnText(0);
    query.reset();
    // Argon2id with libsodium's interactive limits: 64 MiB, 2 passes.
    EXPECT_EQ(hash.rfind("$argon2id$v=19$m=65536,t=2,p=1$", 0), 0u) << hash;
    std::string bytes = test::databaseBytes(db.path);
    EXPECT_EQ(bytes.find("Zebra-Quasar"), std::string::npos);
    EXPECT_NE(bytes.find("$argon2id$"), std::string::npos) << "the hash should be in the file";
    // Two accounts with the same password get different salts.
    ASSERT_FALSE(technicians.add("bea", password));
    Statement both(database.db, "SELECT count(DISTINCT password_hash) FROM technicians");
    ASSERT_TRUE(both.step());
    EXPECT_EQ(both.columnInt(0), 2);

    // Names from hostile input are refused or kept as data: none of them adds,
    // finds, changes or removes anything.
    for (const std::string& name :
         {"ana' OR '1'='1"s, "ana'; DELETE FROM technicians; --"s, "' OR 1=1 --"s, "ana\""s,
          "ana\0"s, "ana\r\n"s, "\x1b[2J"s, std::string(100000, 'a'), "%s%n"s}) {
        EXPECT_TRUE(technicians.add(name, "correct horse battery"))
            << testing::PrintToString(name.substr(0, 40));
        EXPECT_FALSE(technicians.exists(name));
        EXPECT_FALSE(technicians.checkPassword(name, password));
        EXPECT_TRUE(technicians.changePassword(name, "correct horse battery 2"));
        EXPECT_FALSE(technicians.remove(name));
    }
    ASSERT_EQ(technicians.list().size(), 2u);

    EXPECT_TRUE(technicians.add("ana", "another good password")) << "the name is taken";
    EXPECT_TRUE(technicians.add("bob", "bob")) << "too short and the name";
    EXPECT_TRUE(technicians.add("Bob", "correct horse battery")) << "not the name's shape";
    EXPECT_FALSE(technicians.exists("bob"));
    std::optional<std::int64_t> ana = technicians.checkPassword("ana", password);
    std::optional<std::int64_t> bea = technicians.checkPassword("bea", password);
    ASSERT_TRUE(ana && bea);
    EXPECT_FALSE(technicians.checkPassword("ana", "Zebra-Quasar-Lantern-884l"));
    EXPECT_FALSE(technicians.checkPassword("ana", ""));
    EXPECT_FALSE(technicians.checkPassword("nobody", password));

    // A new password ends all of the account's sessions, and only its own.
    std::string anaPhone = sessions.create(*ana), anaDesk = sessions.create(*ana);
    std::string beaDesk = sessions.create(*bea);
    EXPECT_EQ(technicians.list()[0].openSessions, 2);
    now += 3600;
    EXPECT_TRUE(technicians.changePassword("ana", "short"));
    EXPECT_TRUE(technicians.changePassword("nobody", "another good password"));
    EXPECT_TRUE(sessions.use(anaPhone)) << "refused changes end nothing";
    EXPECT_FALSE(technicians.changePassword("ana", "another good password"));
    EXPECT_FALSE(sessions.use(anaPhone));
    EXPECT_FALSE(sessions.use(anaDesk));
    EXPECT_TRUE(sessions.use(beaDesk));
    EXPECT_FALSE(technicians.checkPassword("ana", password));
    EXPECT_EQ(technicians.checkPassword("ana", "another good password"), ana);
    EXPECT_EQ(technicians.checkPassword("bea", password), bea);
    std::vector<TechnicianSummary> rows = technicians.list();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "ana");
    EXPECT_EQ(rows[0].createdAt, 1'700'000'000);
    EXPECT_EQ(rows[0].passwordChangedAt, 1'700'003'600);

    // Removal ends the account's sessions too, and a later account of the same
    // name inherits none of them.
    std::string anaAgain = sessions.create(*ana);
    ASSERT_TRUE(sessions.use(anaAgain));
    EXPECT_TRUE(technicians.remove("ana"));
    EXPECT_FALSE(technicians.remove("ana"));
    EXPECT_FALSE(sessions.use(anaAgain));
    EXPECT_FALSE(technicians.checkPassword("ana", "another good password"));
    ASSERT_TRUE(sessions.use(beaDesk));
    EXPECT_EQ(sessions.use(beaDesk)->name, "bea");
    ASSERT_EQ(technicians.list().size(), 1u);
    ASSERT_FALSE(technicians.add("ana", password));
    EXPECT_FALSE(sessions.use(anaPhone));
    EXPECT_FALSE(sessions.use(anaAgain));
}

TEST(PasswordHashes, AtMostTwoAtOnceAndNothingMatchesAHashThatDoesNotParse) {
    std::vector<std::thread> threads;
    int matched[6] = {};
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([i, &matched] {
            std::string password = "password number " + std::to_string(i);
            matched[i] = verifyPassword(hashPassword(password), password) ? 1 : 0;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::count(std::begin(matched), std::end(matched), 1), 6);
    EXPECT_EQ(mostHashesAtOnce(), 2);

    for (const std::string& stored :
         {""s, "correct horse battery"s, "$argon2id$v=19$m=65536,t=2,p=1$garbage"s}) {
        EXPECT_FALSE(verifyPassword(stored, "correct horse battery")) << stored;
        EXPECT_FALSE(verifyPassword(stored, "")) << stored;
    }
}

} // namespace
} // namespace zeq::accounts
