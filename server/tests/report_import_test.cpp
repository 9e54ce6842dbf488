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

namespace zeq {
namespace {

const std::string kBinary = ZEQ_SERVER_BINARY;
constexpr std::int64_t kNow = 1'773'136'800;
constexpr std::size_t kTwoMiB = 2'097'152;

std::string withConsent(std::string report, const char* value) {
    std::size_t at = report.find("\"consent\":true");
    report.replace(at, 14, std::string("\"consent\":") + value);
    return report;
}

class ReportImport : public ::testing::Test {
  protected:
    void SetUp() override {
        store_ = std::make_unique<ReportStore>(path(), ReportStore::Access::Service);
    }
    std::string path() const {
        return dir_.file("reports.db");
    }
    std::int64_t stored() {
        return static_cast<std::int64_t>(ReportReader(path()).list({}).reports.size());
    }

    test::TempDir dir_;
    std::unique_ptr<ReportStore> store_;
};

TEST_F(ReportImport, EachFileIsCheckedLikeAnUpload) {
    std::string largest = test::sampleReport(test::newReportId(), kTwoMiB);
    ASSERT_EQ(largest.size(), kTwoMiB);
    std::string tooLarge = test::sampleReport(test::newReportId(), kTwoMiB + 1);
    ASSERT_EQ(tooLarge.size(), kTwoMiB + 1);
    std::string notUtf8 = test::sampleReport(test::newReportId());
    notUtf8.insert(notUtf8.find("\"consent\""), "\"x\":\"\xC3\x28\",");
    std::string noConsent = withConsent(test::sampleReport(test::newReportId()), "false");

    struct Case {
        const char* name;
        std::string bytes;
        ImportResult result;
        const char* message; // part of the message
    };
    const Case cases[] = {
        {"empty", "", ImportResult::Refused, "no es JSON"},
        {"2 MiB exactly", largest, ImportResult::Stored, "importado"},
        {"one byte over 2 MiB", tooLarge, ImportResult::Refused, "2 MiB"},
        {"not UTF-8", notUtf8, ImportResult::Refused, "UTF-8"},
        {"BOM", "\xEF\xBB\xBF" + test::sampleReport(test::newReportId()), ImportResult::Refused,
         "BOM"},
        {"consent false", noConsent, ImportResult::Refused, "consent"},
        {"not an object", "[1, 2, 3]", ImportResult::Refused, "objeto"},
        {"a small report", test::sampleReport(test::newReportId()), ImportResult::Stored,
         "importado"},
    };
    std::int64_t expectedStored = 0;
    for (const Case& c : cases) {
        ImportOutcome outcome = importReport(*store_, c.bytes, "ana", kNow);
        EXPECT_EQ(outcome.result, c.result) << c.name;
        EXPECT_NE(outcome.message.find(c.message), std::string::npos)
            << c.name << ": " << outcome.message;
        if (c.result == ImportResult::Stored) {
            ++expectedStored;
            EXPECT_TRUE(isReceiptCode(outcome.code)) << c.name;
            EXPECT_TRUE(store_->body(outcome.code) == c.bytes) << c.name;
        } else {
            EXPECT_TRUE(outcome.code.empty()) << c.name;
        }
        EXPECT_EQ(stored(), expectedStored) << c.name;
    }
}

TEST_F(ReportImport, AnImportIsMarkedWithWhoAndWhen) {
    std::string id = test::newReportId();
    ImportOutcome outcome = importReport(*store_, test::sampleReport(id), "ana", kNow);
    ASSERT_EQ(outcome.result, ImportResult::Stored);
    std::optional<ListedReport> listed = ReportReader(path()).listed(outcome.code);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->importedBy, "ana");
    EXPECT_EQ(listed->importedAt, kNow);
    EXPECT_EQ(listed->receivedAt, kNow);
    // An upload is not marked.
    std::string uploadId = test::newReportId();
    std::string uploaded = store_->store(uploadId, test::sampleReport(uploadId), kNow, "::1").code;
    EXPECT_FALSE(ReportReader(path()).listed(uploaded)->importedBy);
}

TEST_F(ReportImport, TheSameReportTwiceIsTheSameReport) {
    std::string id = test::newReportId();
    std::string bytes = test::sampleReport(id, 9000);
    ImportOutcome first = importReport(*store_, bytes, "ana", kNow);
    ASSERT_EQ(first.result, ImportResult::Stored);
    ImportOutcome again = importReport(*store_, bytes, "luis", kNow + 600);
    EXPECT_EQ(again.result, ImportResult::AlreadyStored);
    EXPECT_EQ(again.code, first.code);
    EXPECT_NE(again.message.find(first.code), std::string::npos);
    // The first import keeps its mark.
    std::optional<ListedReport> listed = ReportReader(path()).listed(first.code);
    EXPECT_EQ(listed->importedBy, "ana");
    EXPECT_EQ(listed->importedAt, kNow);
    EXPECT_EQ(stored(), 1);
}

TEST_F(ReportImport, AReportUploadedBeforeIsFoundByItsCode) {
    std::string id = test::newReportId();
    std::string bytes = test::sampleReport(id);
    std::string code = store_->store(id, bytes, kNow, "203.0.113.7").code;
    ImportOutcome outcome = importReport(*store_, bytes, "ana", kNow + 60);
    EXPECT_EQ(outcome.result, ImportResult::AlreadyStored);
    EXPECT_EQ(outcome.code, code);
    EXPECT_FALSE(ReportReader(path()).listed(code)->importedBy);
}

TEST_F(ReportImport, OtherBytesUnderAStoredReportIdAreRefused) {
    std::string id = test::newReportId();
    std::string bytes = test::sampleReport(id, 9000);
    std::string code = importReport(*store_, bytes, "ana", kNow).code;
    std::string other = test::sampleReport(id, 9001);
    ImportOutcome outcome = importReport(*store_, other, "ana", kNow);
    EXPECT_EQ(outcome.result, ImportResult::Conflict);
    EXPECT_TRUE(outcome.code.empty());
    EXPECT_NE(outcome.message.find("report_id"), std::string::npos) << outcome.message;
    EXPECT_NE(outcome.message.find(id), std::string::npos) << outcome.message;
    EXPECT_TRUE(store_->body(code) == bytes);
    EXPECT_EQ(stored(), 1);
}

class ImportCommand : public ReportImport {
  protected:
    // Run as through sudo by `sudoUser`, or (empty) by this account directly.
    int run(const std::string& bytes, std::string* out, std::string* err,
            const std::string& sudoUser = "") {
        std::string file = dir_.file("informe-" + std::to_string(files_++) + ".json");
        std::ofstream(file, std::ios::binary) << bytes;
        std::string user = sudoUser.empty() ? "-u" : "SUDO_USER=" + sudoUser;
        std::vector<std::string> args = {"/usr/bin/env", user};
        if (sudoUser.empty()) {
            args.push_back("SUDO_USER");
        }
        args.insert(args.end(), {kBinary, "import", file, "--db", path()});
        return test::runProgram(args, out, err);
    }
    int files_ = 0;
};

TEST_F(ImportCommand, PrintsTheCodeOnceStoredAndAgainForTheSameBytes) {
    std::string id = test::newReportId();
    std::string bytes = test::sampleReport(id, kTwoMiB);
    std::string out, err;
    ASSERT_EQ(run(bytes, &out, &err), 0) << err;
    ASSERT_EQ(out.size(), kReceiptCodeLength + 1) << out;
    std::string code = out.substr(0, kReceiptCodeLength);
    EXPECT_TRUE(isReceiptCode(code));
    EXPECT_TRUE(store_->body(code) == bytes);
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(ReportReader(path()).listed(code)->importedBy, user->pw_name);

    ASSERT_EQ(run(bytes, &out, &err), 0) << err;
    EXPECT_EQ(out, code + "\n");
    EXPECT_NE(err.find("ya estaba guardado"), std::string::npos) << err;
    EXPECT_EQ(stored(), 1);
}

TEST_F(ImportCommand, ThroughSudoTheImportIsMarkedWithTheTechnician) {
    std::string out, err;
    ASSERT_EQ(run(test::sampleReport(test::newReportId()), &out, &err, "marta"), 0) << err;
    std::string code = out.substr(0, kReceiptCodeLength);
    EXPECT_EQ(ReportReader(path()).listed(code)->importedBy, "marta");
    accounts::AccountDatabase database(path());
    std::vector<accounts::AuditEntry> entries = accounts::AuditLog(database).entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].event, "report_imported");
    EXPECT_EQ(entries[0].technician, "marta");
    EXPECT_EQ(entries[0].subject, code);
    EXPECT_EQ(entries[0].address, "");
}

TEST_F(ImportCommand, RefusalsExitNonZeroWithASpanishMessage) {
    std::string id = test::newReportId();
    std::string out, err;
    ASSERT_EQ(run(test::sampleReport(id, 9000), &out, &err), 0) << err;
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {"other bytes", test::sampleReport(id, 9001), "mismo report_id"},
        {"too large", test::sampleReport(test::newReportId(), kTwoMiB + 1), "2 MiB"},
        {"empty", "", "no es JSON"},
        {"not UTF-8", std::string("{\"a\":\"\xFF\"}"), "UTF-8"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.bytes, &out, &err), 1) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
    }
    EXPECT_EQ(test::runProgram({kBinary, "import", dir_.file("missing.json"), "--db", path()}, &out,
                               &err),
              1);
    EXPECT_NE(err.find("no se puede abrir"), std::string::npos) << err;
    EXPECT_EQ(test::runProgram({kBinary, "import", "--db", path()}, &out, &err), 2);
    EXPECT_EQ(stored(), 1);
}

} // namespace
} // namespace zeq
