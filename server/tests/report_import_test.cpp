// A report brought in by hand (the file the tool saved when its upload
// failed): checked exactly like an upload, stored under a new code and
// marked as imported, or answered with the code it already has.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <fstream>

#include "store/receipt_code.h"
#include "store/report_reader.h"
#include "store/report_store.h"
#include "accounts/audit_log.h"
#include "upload/report_import.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"

namespace zeq {
namespace {

const std::string kBinary = ZEQ_SERVER_BINARY;
constexpr std::int64_t kNow = 1'773'136'800;
constexpr std::size_t kTwoMiB = 2'097'152;

class ReportImport : public ::testing::Test {
  protected:
    std::int64_t stored() {
        return static_cast<std::int64_t>(ReportReader(db_.path).list({}).reports.size());
    }
    std::optional<ListedReport> listed(const std::string& code) {
        return ReportReader(db_.path).listed(code);
    }

    test::ServiceDatabase db_;
};

TEST_F(ReportImport, EachFileIsCheckedLikeAnUpload) {
    std::string tooLarge = test::sampleReport(test::newReportId(), kTwoMiB + 1);
    ASSERT_EQ(tooLarge.size(), kTwoMiB + 1);
    std::string noConsent = test::sampleReport(test::newReportId());
    noConsent.replace(noConsent.find("\"consent\":true"), 14, "\"consent\":false");
    // Each of the upload's refusals is tried in report_envelope_test, and a
    // file of 2 MiB exactly by the command below; here, that the import
    // applies the checks and says why.
    struct Case {
        const char* name;
        std::string bytes;
        const char* message; // part of the message
    };
    const Case refused[] = {
        {"empty", "", "no es JSON"},
        {"one byte over 2 MiB", tooLarge, "2 MiB"},
        {"consent false", noConsent, "consent"},
    };
    for (const Case& c : refused) {
        ImportOutcome outcome = importReport(db_.store, c.bytes, "ana", kNow);
        EXPECT_EQ(outcome.result, ImportResult::Refused) << c.name;
        EXPECT_NE(outcome.message.find(c.message), std::string::npos)
            << c.name << ": " << outcome.message;
        EXPECT_TRUE(outcome.code.empty()) << c.name;
    }
    EXPECT_EQ(stored(), 0);
}

TEST_F(ReportImport, MarkedWithWhoAndWhenOnceAndNeverOverAnotherReport) {
    std::string id = test::newReportId();
    std::string bytes = test::sampleReport(id, 9000);
    ImportOutcome first = importReport(db_.store, bytes, "ana", kNow);
    ASSERT_EQ(first.result, ImportResult::Stored);
    EXPECT_NE(first.message.find("importado"), std::string::npos) << first.message;
    // The same bytes again, later and by someone else: the same report.
    ImportOutcome again = importReport(db_.store, bytes, "luis", kNow + 600);
    EXPECT_EQ(again.result, ImportResult::AlreadyStored);
    EXPECT_EQ(again.code, first.code);
    EXPECT_NE(again.message.find(first.code), std::string::npos) << again.message;
    // Other bytes under its report_id: refused, naming the report_id.
    ImportOutcome other = importReport(db_.store, test::sampleReport(id, 9001), "ana", kNow);
    EXPECT_EQ(other.result, ImportResult::Conflict);
    EXPECT_TRUE(other.code.empty());
    EXPECT_NE(other.message.find("report_id"), std::string::npos) << other.message;
    EXPECT_NE(other.message.find(id), std::string::npos) << other.message;
    EXPECT_TRUE(db_.store.body(first.code) == bytes);
    EXPECT_EQ(stored(), 1);
    // The first import keeps its mark.
    std::optional<ListedReport> imported = listed(first.code);
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->importedBy, "ana");
    EXPECT_EQ(imported->importedAt, kNow);
    EXPECT_EQ(imported->receivedAt, kNow);

    // An upload is not marked, nor when its file is imported afterwards.
    std::string uploadId = test::newReportId();
    std::string uploadBytes = test::sampleReport(uploadId);
    std::string uploaded = db_.store.store(uploadId, uploadBytes, kNow, "203.0.113.7").code;
    ImportOutcome late = importReport(db_.store, uploadBytes, "ana", kNow + 60);
    EXPECT_EQ(late.result, ImportResult::AlreadyStored);
    EXPECT_EQ(late.code, uploaded);
    EXPECT_FALSE(listed(uploaded)->importedBy);
    EXPECT_EQ(stored(), 2);
}

class ImportCommand : public ReportImport {
  protected:
    // Run as through sudo by `sudoUser`, or (empty) by this account directly.
    int run(const std::string& bytes, std::string* out, std::string* err,
            const std::string& sudoUser = "") {
        std::string file = db_.dir.file("informe.json");
        std::ofstream(file, std::ios::binary) << bytes;
        return test::runProgram({"/usr/bin/env",
                                 sudoUser.empty() ? "-uSUDO_USER" : "SUDO_USER=" + sudoUser,
                                 kBinary, "import", file, "--db", db_.path},
                                out, err);
    }
};

TEST_F(ImportCommand, PrintsTheCodeMarkedWithTheTechnicianOrSaysWhyNot) {
    std::string id = test::newReportId();
    std::string bytes = test::sampleReport(id, kTwoMiB);
    std::string out, err;
    ASSERT_EQ(run(bytes, &out, &err), 0) << err;
    ASSERT_EQ(out.size(), kReceiptCodeLength + 1) << out;
    std::string code = out.substr(0, kReceiptCodeLength);
    EXPECT_TRUE(isReceiptCode(code));
    EXPECT_TRUE(db_.store.body(code) == bytes);
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(listed(code)->importedBy, user->pw_name);

    ASSERT_EQ(run(bytes, &out, &err), 0) << err;
    EXPECT_EQ(out, code + "\n");
    EXPECT_NE(err.find("ya estaba guardado"), std::string::npos) << err;

    // Through sudo: the technician who ran it.
    ASSERT_EQ(run(test::sampleReport(test::newReportId()), &out, &err, "marta"), 0) << err;
    std::string martas = out.substr(0, kReceiptCodeLength);
    EXPECT_EQ(listed(martas)->importedBy, "marta");
    accounts::AccountDatabase database(db_.path);
    std::vector<accounts::AuditEntry> entries = accounts::AuditLog(database).entries();
    ASSERT_EQ(entries.size(), 2u); // new reports only
    EXPECT_EQ(entries[0].technician, user->pw_name);
    EXPECT_EQ(entries[0].subject, code);
    EXPECT_EQ(entries[1].event, "report_imported");
    EXPECT_EQ(entries[1].technician, "marta");
    EXPECT_EQ(entries[1].subject, martas);
    EXPECT_EQ(entries[1].address, "");

    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const Case refused[] = {
        {"other bytes", test::sampleReport(id, 9001), "mismo report_id"},
        {"too large", test::sampleReport(test::newReportId(), kTwoMiB + 1), "2 MiB"},
        {"empty", "", "no es JSON"},
        {"not UTF-8", std::string("{\"a\":\"\xFF\"}"), "UTF-8"},
    };
    for (const Case& c : refused) {
        EXPECT_EQ(run(c.bytes, &out, &err), 1) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
    }
    EXPECT_EQ(test::runProgram({kBinary, "import", db_.dir.file("missing.json"), "--db", db_.path},
                               &out, &err),
              1);
    EXPECT_NE(err.find("no se puede abrir"), std::string::npos) << err;
    EXPECT_EQ(test::runProgram({kBinary, "import", "--db", db_.path}, &out, &err), 2);
    EXPECT_EQ(stored(), 2);
}

} // namespace
} // namespace zeq
