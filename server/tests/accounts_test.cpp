// Technicians' accounts: the name and password rules, Argon2id hashes that
// never leave the password readable in the database, at most two hashes at
// once, and names from hostile input refused or kept as data.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "accounts/account_rules.h"
#include "accounts/password_hash.h"
#include "accounts/sessions.h"
#include "accounts/technicians.h"
#include "store/report_store.h"
#include "support/server_process.h"

namespace zeq::accounts {
namespace {

// A password of `count` copies of `piece`.
std::string repeated(const std::string& piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

TEST(PasswordRules, LengthInCharactersNameAndControls) {
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
}

TEST(AccountNames, OnlyTheDocumentedShape) {
    struct Case {
        std::string name;
        bool accepted;
    };
    const Case cases[] = {
        {"ana", true},
        {"j.perez", true},
        {"tecnico-2", true},
        {"a_b", true},
        {"a", true},
        {repeated("a", 32), true},
        {repeated("a", 33), false},
        {repeated("a", 100000), false},
        {"", false},
        {"Ana", false},
        {"1ana", false},
        {"-rf", false},
        {".ana", false},
        {"ana lopez", false},
        {"jos\xC3\xA9", false},
        {"ana'; DROP TABLE technicians; --", false},
        {"ana\"", false},
        {"ana\n", false},
        {"ana\r", false},
        {std::string("ana\0root", 8), false},
        {"ana\x1b[31m", false},
        {"<script>", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isAccountName(c.name), c.accepted) << testing::PrintToString(c.name);
    }
}

class TechnicianAccounts : public ::testing::Test {
  protected:
    TechnicianAccounts() : store_(dir_.file("reports.db"), ReportStore::Access::Service) {}

    std::string db() const {
        return dir_.file("reports.db");
    }
    // The database, its log and its shared memory file, as bytes on disk.
    std::string filesOnDisk() const {
        std::string bytes;
        for (const char* suffix : {"", "-wal", "-shm"}) {
            if (std::filesystem::exists(db() + suffix)) {
                bytes += test::readFile(db() + suffix);
            }
        }
        return bytes;
    }

    test::TempDir dir_;
    ReportStore store_;
    AccountDatabase database_{db()};
    std::int64_t now_ = 1'700'000'000;
    Technicians technicians_{database_, [this] { return now_; }};
};

TEST_F(TechnicianAccounts, PasswordIsStoredOnlyAsAnArgon2idHash) {
    const std::string password = "Zebra-Quasar-Lantern-8841";
    ASSERT_FALSE(technicians_.add("ana", password));

    Statement query(database_.db, "SELECT password_hash FROM technicians WHERE name = 'ana'");
    ASSERT_TRUE(query.step());
    std::string hash = query.columnText(0);
    query.reset();
    // Argon2id with libsodium's interactive limits: 64 MiB, 2 passes.
    EXPECT_EQ(hash.rfind("$argon2id$v=19$m=65536,t=2,p=1$", 0), 0u) << hash;

    std::string bytes = filesOnDisk();
    EXPECT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.find(password), std::string::npos);
    EXPECT_EQ(bytes.find("Zebra-Quasar"), std::string::npos);
    EXPECT_NE(bytes.find("$argon2id$"), std::string::npos) << "the hash should be in the file";

    // Two accounts with the same password get different salts.
    ASSERT_FALSE(technicians_.add("bea", password));
    Statement both(database_.db, "SELECT count(DISTINCT password_hash) FROM technicians");
    ASSERT_TRUE(both.step());
    EXPECT_EQ(both.columnInt(0), 2);
}

TEST_F(TechnicianAccounts, AddCheckChangeAndRemove) {
    EXPECT_FALSE(technicians_.add("ana", "correct horse battery"));
    EXPECT_TRUE(technicians_.add("ana", "another good password")) << "the name is taken";
    EXPECT_TRUE(technicians_.add("bob", "bob")) << "too short and the name";
    EXPECT_TRUE(technicians_.add("Bob", "correct horse battery")) << "not the name's shape";
    EXPECT_FALSE(technicians_.exists("bob"));

    std::optional<std::int64_t> id = technicians_.checkPassword("ana", "correct horse battery");
    ASSERT_TRUE(id);
    EXPECT_FALSE(technicians_.checkPassword("ana", "correct horse batterY"));
    EXPECT_FALSE(technicians_.checkPassword("ana", ""));
    EXPECT_FALSE(technicians_.checkPassword("nobody", "correct horse battery"));

    now_ += 3600;
    EXPECT_TRUE(technicians_.changePassword("ana", "short"));
    EXPECT_TRUE(technicians_.changePassword("nobody", "another good password"));
    EXPECT_FALSE(technicians_.changePassword("ana", "another good password"));
    EXPECT_FALSE(technicians_.checkPassword("ana", "correct horse battery"));
    EXPECT_EQ(technicians_.checkPassword("ana", "another good password"), id);

    std::vector<TechnicianSummary> rows = technicians_.list();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "ana");
    EXPECT_EQ(rows[0].createdAt, 1'700'000'000);
    EXPECT_EQ(rows[0].passwordChangedAt, 1'700'003'600);

    EXPECT_TRUE(technicians_.remove("ana"));
    EXPECT_FALSE(technicians_.remove("ana"));
    EXPECT_FALSE(technicians_.checkPassword("ana", "another good password"));
    EXPECT_TRUE(technicians_.list().empty());
}

TEST_F(TechnicianAccounts, PasswordChangeAndRemovalEndAllOfTheAccountsSessions) {
    ASSERT_FALSE(technicians_.add("ana", "correct horse battery"));
    ASSERT_FALSE(technicians_.add("bob", "staple gun lighthouse"));
    std::int64_t ana = *technicians_.checkPassword("ana", "correct horse battery");
    std::int64_t bob = *technicians_.checkPassword("bob", "staple gun lighthouse");
    Sessions sessions(database_, [this] { return now_; });

    std::string anaPhone = sessions.create(ana), anaDesk = sessions.create(ana);
    std::string bobDesk = sessions.create(bob);
    EXPECT_EQ(technicians_.list()[0].openSessions, 2);
    ASSERT_TRUE(technicians_.changePassword("ana", "another good password") == std::nullopt);
    EXPECT_FALSE(sessions.use(anaPhone));
    EXPECT_FALSE(sessions.use(anaDesk));
    ASSERT_TRUE(sessions.use(bobDesk));

    std::string anaAgain = sessions.create(ana);
    ASSERT_TRUE(sessions.use(anaAgain));
    ASSERT_TRUE(technicians_.remove("ana"));
    EXPECT_FALSE(sessions.use(anaAgain));
    ASSERT_TRUE(sessions.use(bobDesk));
    EXPECT_EQ(sessions.use(bobDesk)->name, "bob");

    // A later account of the same name does not inherit the old sessions.
    ASSERT_FALSE(technicians_.add("ana", "correct horse battery"));
    EXPECT_FALSE(sessions.use(anaPhone));
    EXPECT_FALSE(sessions.use(anaAgain));
}

TEST_F(TechnicianAccounts, HostileNamesAreRefusedOrKeptAsData) {
    ASSERT_FALSE(technicians_.add("ana", "correct horse battery"));
    const std::string hostile[] = {
        "ana' OR '1'='1",
        "ana'; DELETE FROM technicians; --",
        "' OR 1=1 --",
        "ana\"",
        std::string("ana\0", 4),
        "ana\r\n",
        "\x1b[2J",
        std::string(100000, 'a'),
        "%s%n",
    };
    for (const std::string& name : hostile) {
        EXPECT_TRUE(technicians_.add(name, "correct horse battery"))
            << testing::PrintToString(name.substr(0, 40));
        EXPECT_FALSE(technicians_.exists(name));
        EXPECT_FALSE(technicians_.checkPassword(name, "correct horse battery"));
        EXPECT_TRUE(technicians_.changePassword(name, "correct horse battery 2"));
        EXPECT_FALSE(technicians_.remove(name));
    }
    // Nothing was changed or removed by any of them.
    ASSERT_EQ(technicians_.list().size(), 1u);
    EXPECT_TRUE(technicians_.checkPassword("ana", "correct horse battery"));
}

TEST(PasswordHashes, AtMostTwoAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> matched(6, 0);
    for (std::size_t i = 0; i < matched.size(); ++i) {
        threads.emplace_back([i, &matched] {
            std::string password = "password number " + std::to_string(i);
            matched[i] = verifyPassword(hashPassword(password), password) ? 1 : 0;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::set<int>(matched.begin(), matched.end()), std::set<int>{1});
    EXPECT_EQ(mostHashesAtOnce(), 2);
}

TEST(PasswordHashes, AHashThatDoesNotParseMatchesNothing) {
    for (const std::string& stored : {std::string(), std::string("correct horse battery"),
                                      std::string("$argon2id$v=19$m=65536,t=2,p=1$garbage")}) {
        EXPECT_FALSE(verifyPassword(stored, "correct horse battery")) << stored;
        EXPECT_FALSE(verifyPassword(stored, "")) << stored;
    }
}

} // namespace
} // namespace zeq::accounts
