// The audit: rows only ever appended, kept when the report they name is
// deleted, refused any change by the database itself; and the technician's
// account and audit commands.
#include <gtest/gtest.h>

#include <utility>

#include "accounts/audit_log.h"
#include "accounts/technicians.h"
#include "store/report_store.h"
#include "store/sqlite_handle.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"

namespace zeq::accounts {
namespace {

const std::string kBinary = ZEQ_SERVER_BINARY;

class Audit : public ::testing::Test {
  protected:
    std::string storeReport() {
        std::string id = test::newReportId();
        return db_.store.store(id, test::sampleReport(id, 4000), 1'700'000'000, "203.0.113.7").code;
    }
    int run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr,
            const std::string* input = nullptr) {
        args.insert(args.begin(), kBinary);
        args.insert(args.end(), {"--db", db_.path});
        return test::runProgram(args, out, err, input);
    }

    test::ServiceDatabase db_;
    AccountDatabase database_{db_.path};
    AuditLog audit_{database_};
};

TEST_F(Audit, RowsAreAppendedInOrderKeptPastTheirReportAndNeverChanged) {
    std::string code = storeReport();
    audit_.append(AuditEvent::Login, 100, "ana", "", "203.0.113.7");
    audit_.append(AuditEvent::ReportViewed, 101, "ana", code, "203.0.113.7");
    audit_.append(AuditEvent::ReportDownloaded, 102, "ana", code, "203.0.113.7");
    ASSERT_TRUE(db_.store.remove(code));
    audit_.append(AuditEvent::ReportDeleted, 103, "ana", code, "203.0.113.7");
    audit_.append(AuditEvent::Logout, 104, "ana", "", "203.0.113.7");
    // Also past the retention sweep, which deletes reports in bulk.
    storeReport();
    EXPECT_EQ(db_.store.purgeReceivedBefore(2'000'000'000), 1);
    // The database itself refuses to change or delete a row, whichever
    // program asks, also once reopened.
    auto change = [&](const char* sql) { Database(db_.path, Database::Mode::ReadWrite).exec(sql); };
    EXPECT_THROW(change("DELETE FROM audit"), StoreError);
    EXPECT_THROW(change("UPDATE audit SET technician = 'bob'"), StoreError);
    AccountDatabase reopened(db_.path);
    EXPECT_THROW(change("DELETE FROM audit WHERE id = 1"), StoreError);

    std::vector<AuditEntry> entries = AuditLog(reopened).entries();
    const char* events[] = {"login", "report_viewed", "report_downloaded", "report_deleted",
                            "logout"};
    ASSERT_EQ(entries.size(), std::size(events));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].event, events[i]);
        EXPECT_EQ(entries[i].at, 100 + static_cast<std::int64_t>(i));
        EXPECT_EQ(entries[i].technician, "ana");
        EXPECT_EQ(entries[i].subject, i == 0 || i == 4 ? "" : code) << i;
        EXPECT_EQ(entries[i].address, "203.0.113.7");
    }
}

TEST_F(Audit, TheShellsDeleteIsAuditedAndHostileTextPrintedHarmlessly) {
    const std::string subject = "ZEQ-'); DROP TABLE audit; --";
    const std::string address = "203.0.113.7\x1b[2J\r\nforged line";
    audit_.append(AuditEvent::ReportViewed, 100, "ana", subject, address);
    std::string code = storeReport();
    std::string out, err;
    ASSERT_EQ(run({"delete", code}, &out, &err), 0) << err;

    std::vector<AuditEntry> entries = audit_.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].subject, subject);
    EXPECT_EQ(entries[0].address, address);
    EXPECT_EQ(entries[1].event, "report_deleted");
    EXPECT_EQ(entries[1].subject, code);
    ASSERT_EQ(run({"audit"}, &out), 0);
    EXPECT_NE(out.find(code), std::string::npos) << out;
    EXPECT_NE(out.find("informe borrado"), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_EQ(out.find("\r"), std::string::npos) << out;
    EXPECT_EQ(out.find("\nforged line"), std::string::npos) << out;
}

TEST_F(Audit, AccountCommandsRefuseWhatTheRulesRefuseAndOtherwiseWorkAndAreAudited) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
    };
    // The rules themselves are tried in accounts_test; here, that each kind of
    // refusal reaches the command's status and nothing is written.
    const Case cases[] = {
        {{"user", "add", "ana"}, "too short\n", 1},
        {{"user", "add", "ana"}, "", 1},
        {{"user", "add", "ana"}, std::string(129, 'x') + "\n", 1},
        {{"user", "add", "ana\x1b[2J"}, "correct horse battery\n", 1},
        {{"user", "add", std::string(5000, 'a')}, "correct horse battery\n", 1},
        {{"user", "passwd", "nobody"}, "correct horse battery\n", 1},
        {{"user", "remove", "nobody"}, "", 1},
        {{"user", "add"}, "", 2},
        {{"user", "delete", "ana"}, "", 2},
        {{"user"}, "", 2},
        {{"user", "list", "extra"}, "", 2},
    };
    for (const Case& c : cases) {
        std::string err;
        EXPECT_EQ(run(c.args, nullptr, &err, &c.input), c.status)
            << c.args.back().substr(0, 40) << ": " << err;
        EXPECT_EQ(err.find('\x1b'), std::string::npos) << err;
    }
    EXPECT_TRUE(Technicians(database_).list().empty());
    EXPECT_TRUE(audit_.entries().empty());

    std::string out, err;
    std::string password = "correct horse battery\n";
    ASSERT_EQ(run({"user", "add", "ana"}, &out, &err, &password), 0) << err;
    std::string windowsLine = "staple gun lighthouse\r\n";
    ASSERT_EQ(run({"user", "add", "bob"}, &out, &err, &windowsLine), 0) << err;

    Technicians technicians(database_);
    EXPECT_TRUE(technicians.checkPassword("ana", "correct horse battery"));
    EXPECT_TRUE(technicians.checkPassword("bob", "staple gun lighthouse"));
    ASSERT_EQ(run({"user", "list"}, &out), 0);
    EXPECT_NE(out.find("ana"), std::string::npos) << out;
    EXPECT_NE(out.find("bob"), std::string::npos) << out;

    std::string changed = "another good password\n";
    ASSERT_EQ(run({"user", "passwd", "ana"}, &out, &err, &changed), 0) << err;
    EXPECT_TRUE(technicians.checkPassword("ana", "another good password"));
    EXPECT_FALSE(technicians.checkPassword("ana", "correct horse battery"));
    ASSERT_EQ(run({"user", "remove", "bob"}, &out, &err), 0) << err;
    EXPECT_FALSE(technicians.exists("bob"));

    std::vector<AuditEntry> entries = audit_.entries();
    const std::pair<const char*, const char*> expected[] = {{"technician_added", "ana"},
                                                            {"technician_added", "bob"},
                                                            {"password_changed", "ana"},
                                                            {"technician_removed", "bob"}};
    ASSERT_EQ(entries.size(), std::size(expected));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].event, expected[i].first);
        EXPECT_EQ(entries[i].subject, expected[i].second);
    }
    ASSERT_EQ(run({"audit"}, &out), 0);
    EXPECT_NE(out.find("cuenta creada"), std::string::npos) << out;
    EXPECT_NE(out.find("contraseña cambiada"), std::string::npos) << out;
    EXPECT_NE(out.find("cuenta borrada"), std::string::npos) << out;
}

} // namespace
} // namespace zeq::accounts
