// The listing kept beside every report: computed when a report is stored,
// added to a database of the earlier version without touching its reports,
// and filled in the background for reports stored before or listed by older
// rules.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/crypto.h"
#include "findings/findings.h"
#include "findings/report_overview.h"
#include "store/listing_filler.h"
#include "store/report_reader.h"
#include "store/report_store.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"

namespace zeq {
namespace {

using findings::Section;

constexpr std::int64_t kNow = 1'773'136'800; // 2026-03-10 10:00 UTC

// The schema the first version of the server wrote, as it wrote it.
constexpr const char* kEarlierSchema = R"sql(
PRAGMA journal_mode = WAL;
CREATE TABLE IF NOT EXISTS reports (
    code TEXT PRIMARY KEY,
    report_id TEXT NOT NULL UNIQUE,
    sha256 TEXT NOT NULL,
    received_at INTEGER NOT NULL,
    size INTEGER NOT NULL,
    client_address TEXT NOT NULL,
    body BLOB NOT NULL
);
CREATE INDEX IF NOT EXISTS reports_received_at ON reports(received_at);
CREATE TABLE IF NOT EXISTS used_tokens (
    nonce TEXT PRIMARY KEY,
    expires_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS used_tokens_expires_at ON used_tokens(expires_at);
PRAGMA user_version = 1;
)sql";

// A raw connection, for writing and reading the database as another version
// of the server would.
class RawDatabase {
  public:
    explicit RawDatabase(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
            throw std::runtime_error("open " + path);
        }
    }
    ~RawDatabase() {
        sqlite3_close(db_);
    }
    void exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string text = message ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error(text);
        }
    }
    // Every row of a query, each column as its SQLite type and bytes.
    std::vector<std::vector<std::string>> rows(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(db_));
        }
        std::vector<std::vector<std::string>> result;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const char* data = static_cast<const char*>(sqlite3_column_blob(stmt, c));
                row.push_back(std::to_string(sqlite3_column_type(stmt, c)) + ":" +
                              std::string(data ? data : "",
                                          static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
            }
            result.push_back(std::move(row));
        }
        sqlite3_finalize(stmt);
        return result;
    }
    void insertReport(const std::string& code, const std::string& reportId, const std::string& body,
                      std::int64_t receivedAt) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db_,
                           "INSERT INTO reports(code, report_id, sha256, received_at, size, "
                           "client_address, body) VALUES(?, ?, ?, ?, ?, '198.51.100.4', ?)",
                           -1, &stmt, nullptr);
        std::string digest = toHexDigest(body);
        sqlite3_bind_text(stmt, 1, code.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, reportId.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 3, digest.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(stmt, 4, receivedAt);
        sqlite3_bind_int64(stmt, 5, static_cast<sqlite3_int64>(body.size()));
        sqlite3_bind_blob(stmt, 6, body.data(), static_cast<int>(body.size()), SQLITE_TRANSIENT);
        int rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            throw std::runtime_error("insert " + code);
        }
    }

  private:
    static std::string toHexDigest(const std::string& body) {
        return toHex(sha256(body));
    }
    sqlite3* db_ = nullptr;
};

constexpr const char* kEveryReportColumn =
    "SELECT code, report_id, sha256, received_at, size, client_address, body FROM reports "
    "ORDER BY code";
constexpr const char* kEveryToken = "SELECT nonce, expires_at FROM used_tokens ORDER BY nonce";

// Waits (a few seconds at most) for the filler to finish.
bool waitUntilDone(const ListingFiller& filler) {
    for (int i = 0; i < 500 && !filler.done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return filler.done();
}

findings::FindingCounts countsOf(const std::string& body) {
    return findings::countFindings(findings::findingsOfBytes(body));
}

class ListingMigration : public ::testing::Test {
  protected:
    void SetUp() override {
        writeEarlierDatabase();
        // The service takes a database only when it is private to its user.
        ASSERT_EQ(::chmod(path().c_str(), 0600), 0);
    }
    void writeEarlierDatabase() {
        RawDatabase raw(path());
        raw.exec(kEarlierSchema);
        raw.exec("INSERT INTO used_tokens VALUES('AAAAAAAAAAAAAAAAAAAAAA', 1773140400)");
        // Reports as the earlier version stored them: shaped like real PCs,
        // one from Wine, one not JSON at all and one with a NUL byte.
        for (const char* fixture : {"windows10_office_desktop.json", "windows11_budget_laptop.json",
                                    "windows11_gaming_desktop.json", "wine_sparse.json"}) {
            add(test::fixtureText(fixture));
        }
        add(std::string("not a report \xC3\xA9", 15));
        add(test::sampleReport(test::reportIdFor(7)) + std::string("\0tail", 5));
        for (std::size_t i = 0; i < bodies_.size(); ++i) {
            raw.insertReport(codes_[i], test::reportIdFor(100 + i), bodies_[i],
                             kNow - static_cast<std::int64_t>(i) * 60);
        }
        reportsBefore_ = raw.rows(kEveryReportColumn);
        tokensBefore_ = raw.rows(kEveryToken);
    }
    void add(std::string body) {
        char code[32];
        std::snprintf(code, sizeof code, "ZEQ-0000-0000-%04zu", bodies_.size() + 1);
        codes_.push_back(code);
        bodies_.push_back(std::move(body));
    }
    std::string path() const {
        return dir_.file("reports.db");
    }

    test::TempDir dir_;
    std::vector<std::string> codes_, bodies_;
    std::vector<std::vector<std::string>> reportsBefore_, tokensBefore_;
};

TEST_F(ListingMigration, TheTechniciansCommandsLeaveItToTheService) {
    for (ReportStore::Access access :
         {ReportStore::Access::ReadOnly, ReportStore::Access::ReadWrite}) {
        try {
            ReportStore store(path(), access);
            ADD_FAILURE() << "opened a database of the earlier version";
        } catch (const StoreError& error) {
            EXPECT_NE(std::string(error.what()).find("zeq-server serve"), std::string::npos)
                << error.what();
        }
    }
    EXPECT_THROW(ReportReader reader(path()), StoreError);
    RawDatabase raw(path());
    EXPECT_TRUE(raw.rows(kEveryReportColumn) == reportsBefore_);
    EXPECT_EQ(raw.rows("PRAGMA user_version")[0][0], "1:1");
}

TEST_F(ListingMigration, OpeningKeepsEveryReportAndTokenByteForByte) {
    {
        ReportStore store(path(), ReportStore::Access::Service);
        // Not listed yet: every report is there, nothing computed.
        ReportReader reader(path());
        ListPage page = reader.list({});
        ASSERT_EQ(page.reports.size(), bodies_.size());
        for (const ListedReport& report : page.reports) {
            EXPECT_EQ(report.rulesVersion, 0) << report.code;
            EXPECT_FALSE(report.critical) << report.code;
            EXPECT_FALSE(report.manufacturer) << report.code;
        }
        EXPECT_EQ(page.reports.front().code, codes_.front()); // newest first
        EXPECT_EQ(page.reports.front().size, static_cast<std::int64_t>(bodies_[0].size()));
        EXPECT_EQ(page.reports.front().receivedAt, kNow);
        ASSERT_TRUE(store.body(codes_[3]));
        EXPECT_TRUE(*store.body(codes_[3]) == bodies_[3]);
    }
    RawDatabase raw(path());
    EXPECT_TRUE(raw.rows(kEveryReportColumn) == reportsBefore_);
    EXPECT_TRUE(raw.rows(kEveryToken) == tokensBefore_);
    EXPECT_EQ(raw.rows("PRAGMA user_version")[0][0], "1:2");
    // Opening again changes nothing more.
    ReportStore again(path(), ReportStore::Access::Service);
    EXPECT_TRUE(RawDatabase(path()).rows(kEveryReportColumn) == reportsBefore_);
}

TEST_F(ListingMigration, TheBackgroundFillerListsEveryEarlierReport) {
    ReportStore store(path(), ReportStore::Access::Service);
    {
        ListingFiller filler(store, path(), std::chrono::milliseconds(1));
        ASSERT_TRUE(waitUntilDone(filler));
        EXPECT_EQ(filler.filled(), static_cast<std::int64_t>(bodies_.size()));
    }
    ReportReader reader(path());
    for (std::size_t i = 0; i < bodies_.size(); ++i) {
        std::optional<ListedReport> listed = reader.listed(codes_[i]);
        ASSERT_TRUE(listed) << codes_[i];
        EXPECT_EQ(listed->rulesVersion, findings::kRulesVersion) << codes_[i];
        findings::FindingCounts counts = countsOf(bodies_[i]);
        EXPECT_EQ(listed->critical, static_cast<std::int64_t>(counts.critical)) << codes_[i];
        EXPECT_EQ(listed->warning, static_cast<std::int64_t>(counts.warning)) << codes_[i];
    }
    // What the fixtures' machines say about themselves.
    std::optional<ListedReport> office = reader.listed(codes_[0]);
    EXPECT_EQ(office->manufacturer, "Dell Inc.");
    EXPECT_EQ(office->model, "OptiPlex 7050");
    EXPECT_EQ(office->serial, "7B5QKM2");
    EXPECT_EQ(office->machineUuid, "4C4C4544-0042-3510-8051-B7C04F4B4D32");
    EXPECT_EQ(office->windowsCaption, "Microsoft Windows 10 Pro");
    // A machine whose firmware left placeholders has no serial nor UUID.
    std::optional<ListedReport> budget = reader.listed(codes_[1]);
    EXPECT_EQ(budget->windowsCaption, "Microsoft Windows 11 Home");
    EXPECT_FALSE(budget->serial);
    EXPECT_FALSE(budget->machineUuid);
    // Bytes that are not a report are listed with nothing about the machine.
    std::optional<ListedReport> garbage = reader.listed(codes_[4]);
    EXPECT_FALSE(garbage->manufacturer);
    EXPECT_FALSE(garbage->windowsCaption);
    // The reports themselves are still untouched.
    EXPECT_TRUE(RawDatabase(path()).rows(kEveryReportColumn) == reportsBefore_);
}

TEST_F(ListingMigration, TheServiceUpgradesTheDatabaseAndListsEveryReportWhileItRuns) {
    // A retention long enough to keep reports from the spring.
    test::ServerProcess server({ZEQ_SERVER_BINARY, "serve", "--address", "127.0.0.1", "--port", "0",
                                "--db", path(), "--retention-days", "3650"},
                               dir_.file("server.log"));
    ReportReader reader(path());
    auto listedByTheseRules = [&] {
        ListPage page = reader.list({});
        return page.reports.size() == bodies_.size() &&
               std::all_of(page.reports.begin(), page.reports.end(), [](const ListedReport& r) {
                   return r.rulesVersion == findings::kRulesVersion;
               });
    };
    for (int i = 0; i < 500 && !listedByTheseRules(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(listedByTheseRules()) << server.log();
    EXPECT_EQ(reader.listed(codes_[0])->model, "OptiPlex 7050");
    const std::string logged = "calculado el resumen de 6 informes guardados antes\n";
    for (int i = 0; i < 500 && server.log().find(logged) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(server.log().find(logged), std::string::npos) << server.log();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(), 0);
    EXPECT_TRUE(RawDatabase(path()).rows(kEveryReportColumn) == reportsBefore_);
}

TEST_F(ListingMigration, ListingsOfOlderRulesAreComputedAgain) {
    ReportStore store(path(), ReportStore::Access::Service);
    std::string id = test::newReportId();
    std::string body =
        test::FindingsReport()
            .member("report_id", id)
            .row(Section::Smart,
                 {{"InstanceName", "SCSI\\Disk\\0"}, {"PredictFailure", "True"}, {"Reason", "0"}})
            .json()
            .dump();
    std::string code = store.store(id, body, kNow + 60, "203.0.113.9").code;
    {
        ListingFiller filler(store, path(), std::chrono::milliseconds(1));
        ASSERT_TRUE(waitUntilDone(filler));
    }
    // As a server with older rules would have left it.
    RawDatabase(path()).exec("UPDATE report_listing SET critical_count = 99, rules_version = " +
                             std::to_string(findings::kRulesVersion - 1) + " WHERE code = '" +
                             code + "'");
    ListingFiller filler(store, path(), std::chrono::milliseconds(1));
    ASSERT_TRUE(waitUntilDone(filler));
    EXPECT_EQ(filler.filled(), 1);
    ReportReader reader(path());
    EXPECT_EQ(reader.listed(code)->critical, 1); // the failing disk
    EXPECT_EQ(reader.listed(code)->rulesVersion, findings::kRulesVersion);
}

TEST_F(ListingMigration, UploadsGoOnWhileTheFillerWorks) {
    ReportStore store(path(), ReportStore::Access::Service);
    ListingFiller filler(store, path(), std::chrono::milliseconds(5));
    std::vector<std::string> stored;
    for (int i = 0; i < 20; ++i) {
        std::string id = test::newReportId();
        StoreOutcome outcome = store.store(id, test::sampleReport(id), kNow + 100 + i, "::1");
        ASSERT_EQ(outcome.result, StoreResult::Stored);
        stored.push_back(outcome.code);
    }
    ASSERT_TRUE(waitUntilDone(filler));
    ReportReader reader(path());
    EXPECT_EQ(reader.list({}).reports.size(), bodies_.size() + stored.size());
    for (const std::string& code : stored) {
        EXPECT_EQ(reader.listed(code)->rulesVersion, findings::kRulesVersion) << code;
    }
}

TEST_F(ListingMigration, ADeletedReportTakesItsListingWithIt) {
    ReportStore store(path(), ReportStore::Access::Service);
    ASSERT_TRUE(store.remove(codes_[2]));
    ReportReader reader(path());
    EXPECT_FALSE(reader.listed(codes_[2]));
    EXPECT_EQ(reader.list({}).reports.size(), bodies_.size() - 1);
    EXPECT_EQ(store.purgeReceivedBefore(kNow + 1), static_cast<std::int64_t>(bodies_.size() - 1));
    EXPECT_TRUE(reader.list({}).reports.empty());
}

TEST(ListingOnStore, ANewReportIsListedWhenStored) {
    test::TempDir dir;
    ReportStore store(dir.file("reports.db"), ReportStore::Access::Service);
    std::string id = test::newReportId();
    test::FindingsReport report;
    report.member("report_id", id)
        .row(Section::Computer, {{"Manufacturer", "LENOVO"}, {"Model", "20XW00K2SP"}})
        .row(Section::Identification, {{"IdentifyingNumber", " PF3ABCDE "},
                                       {"UUID", "8f1c2b3a-1d2e-11b2-a85c-e1f0aa3b4c5d"},
                                       {"Vendor", "LENOVO"}})
        .row(Section::Windows, {{"Caption", "Microsoft Windows 11 Pro"}});
    std::string body = report.json().dump();
    std::string code = store.store(id, body, kNow, "203.0.113.9").code;
    ReportReader reader(dir.file("reports.db"));
    std::optional<ListedReport> listed = reader.listed(code);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->manufacturer, "LENOVO");
    EXPECT_EQ(listed->model, "20XW00K2SP");
    EXPECT_EQ(listed->serial, "PF3ABCDE"); // without the spaces WMI pads it with
    EXPECT_EQ(listed->machineUuid, "8F1C2B3A-1D2E-11B2-A85C-E1F0AA3B4C5D");
    EXPECT_EQ(listed->windowsCaption, "Microsoft Windows 11 Pro");
    EXPECT_EQ(listed->size, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(listed->receivedAt, kNow);
    EXPECT_EQ(listed->rulesVersion, findings::kRulesVersion);
    EXPECT_FALSE(listed->importedBy);
    EXPECT_FALSE(listed->importedAt);

    // One failing disk more: one crítico more, and nothing else changes.
    std::string id2 = test::newReportId();
    report.member("report_id", id2)
        .row(Section::Smart,
             {{"InstanceName", "SCSI\\Disk\\0"}, {"PredictFailure", "True"}, {"Reason", "0"}});
    std::string code2 = store.store(id2, report.json().dump(), kNow + 1, "203.0.113.9").code;
    std::optional<ListedReport> failing = reader.listed(code2);
    ASSERT_TRUE(failing && failing->critical && listed->critical);
    EXPECT_EQ(*failing->critical, *listed->critical + 1);
    EXPECT_EQ(failing->warning, listed->warning);
}

} // namespace
} // namespace zeq

namespace zeq {
namespace {

TEST(ListingOfHostileReports, IdentityIsPlainTextOrAbsentAndNothingThrows) {
    using nlohmann::json;
    const std::string longText(5000, 'A');
    struct Case {
        const char* name;
        json value;
        std::optional<std::string> shown; // as the manufacturer column holds it
    };
    const Case cases[] = {
        {"missing", json(json::value_t::discarded), std::nullopt},
        {"null", nullptr, std::nullopt},
        {"number", 42, std::nullopt},
        {"object", json::object({{"a", "b"}}), std::nullopt},
        {"array", json::array({"Dell"}), std::nullopt},
        {"markup", "<script>alert(1)</script>", "<script>alert(1)</script>"},
        {"control characters", "Dell\x01\x1B[31m\r\nInc", "Dell\xEF\xBF\xBD\xEF\xBF\xBD[31m  Inc"},
        {"long", longText, std::string(157, 'A') + "\xE2\x80\xA6"},
    };
    for (const Case& c : cases) {
        test::FindingsReport report;
        json computer = {{"Model", "X"}};
        json identification = json::object();
        if (!c.value.is_discarded()) {
            computer["Manufacturer"] = c.value;
            identification = {{"UUID", c.value}, {"IdentifyingNumber", c.value}};
        }
        report.row(Section::Computer, computer).row(Section::Identification, identification);
        findings::ReportOverview overview;
        std::string bytes = report.json().dump();
        ASSERT_TRUE(nlohmann::json::accept(bytes)) << c.name;
        ASSERT_NO_THROW(overview = findings::overviewOf(bytes)) << c.name;
        EXPECT_EQ(overview.model, "X") << c.name;
        EXPECT_EQ(overview.manufacturer, c.shown) << c.name;
        EXPECT_FALSE(overview.machineUuid) << c.name;
        EXPECT_EQ(overview.rulesVersion, findings::kRulesVersion) << c.name;
    }
    // Bytes that are no report at all.
    for (const std::string& bytes : {std::string(), std::string("{"), std::string("[]"),
                                     std::string("{\"sections\": 5}"), std::string("\xFF\xFE")}) {
        findings::ReportOverview overview = findings::overviewOf(bytes);
        EXPECT_FALSE(overview.manufacturer || overview.model || overview.serial ||
                     overview.machineUuid || overview.windowsCaption)
            << bytes;
        EXPECT_EQ(overview.critical, 0) << bytes;
    }
}

} // namespace
} // namespace zeq
