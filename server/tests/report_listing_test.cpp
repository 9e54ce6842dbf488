// The listing kept beside every report: computed when a report is stored,
// added to a database of the earlier version without touching its reports,
// and filled in the background for reports stored before or listed by older
// rules.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "base/crypto.h"
#include "findings/findings.h"
#include "findings/report_overview.h"
#include "store/listing_filler.h"
#include "store/report_reader.h"
#include "store/report_store.h"
#include "store/sqlite_handle.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"

namespace zeq {
namespace {

using findings::Section;

constexpr std::int64_t kNow = 1'773'136'800; // 2026-03-10 10:00 UTC

// The schema the first version of the server wrote, as it wrote it: kept here
// rather than taken from the store, whose schema moves on with each version.
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

// Every row of a query of one column, a line each. SQLite's quote() writes a
// value as an SQL literal: its type and every byte show.
std::string rowsOf(const std::string& path, const char* sql) {
    Database db(path, Database::Mode::ReadOnly);
    Statement query(db, sql);
    std::string rows;
    while (query.step()) {
        rows += query.columnText(0) + "\n";
    }
    return rows;
}

constexpr const char* kEveryReportColumn =
    "SELECT quote(code) || ',' || quote(report_id) || ',' || quote(sha256) || ',' || "
    "quote(received_at) || ',' || quote(size) || ',' || quote(client_address) || ',' || "
    "quote(body) FROM reports ORDER BY code";
constexpr const char* kEveryToken =
    "SELECT quote(nonce) || ',' || quote(expires_at) FROM used_tokens ORDER BY nonce";

// Waits (a few seconds at most) for a condition another thread or process
// brings about.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

bool waitUntilDone(const ListingFiller& filler) {
    return eventually([&] { return filler.done(); });
}

class ListingMigration : public ::testing::Test {
  protected:
    void SetUp() override {
        Database db(path(), Database::Mode::ReadWriteCreate);
        db.exec(kEarlierSchema);
        db.exec("INSERT INTO used_tokens VALUES('AAAAAAAAAAAAAAAAAAAAAA', 1773140400)");
        // Reports as the earlier version stored them: shaped like real PCs,
        // one from Wine, one not JSON at all and one with a NUL byte.
        for (const char* fixture : {"windows10_office_desktop.json", "windows11_budget_laptop.json",
                                    "windows11_gaming_desktop.json", "wine_sparse.json"}) {
            bodies_.push_back(test::fixtureText(fixture));
        }
        bodies_.push_back(std::string("not a report \xC3\xA9", 15));
        bodies_.push_back(test::sampleReport(test::reportIdFor(7)) + std::string("\0tail", 5));
        Statement insert(db, "INSERT INTO reports(code, report_id, sha256, received_at, size, "
                             "client_address, body) VALUES(?, ?, ?, ?, ?, '198.51.100.4', ?)");
        for (std::size_t i = 0; i < bodies_.size(); ++i) {
            codes_.push_back("ZEQ-0000-0000-000" + std::to_string(i + 1));
            insert.bindText(1, codes_.back())
                .bindText(2, test::reportIdFor(100 + i))
                .bindText(3, toHex(sha256(bodies_[i])))
                .bind(4, kNow - static_cast<std::int64_t>(i) * 60)
                .bind(5, static_cast<std::int64_t>(bodies_[i].size()))
                .bindBlob(6, bodies_[i]);
            ASSERT_FALSE(insert.step());
            insert.reset();
        }
        reportsBefore_ = rowsOf(path(), kEveryReportColumn);
        tokensBefore_ = rowsOf(path(), kEveryToken);
        // The service takes a database only when it is private to its user.
        ASSERT_EQ(::chmod(path().c_str(), 0600), 0);
    }
    std::string path() const {
        return dir_.file("reports.db");
    }

    test::TempDir dir_;
    std::vector<std::string> codes_, bodies_;
    std::string reportsBefore_, tokensBefore_;
};

TEST_F(ListingMigration, OnlyTheServiceUpgradesItAndEveryReportAndTokenIsKept) {
    for (ReportStore::Access access :
         {ReportStore::Access::ReadOnly, ReportStore::Access::ReadWrite}) {
        std::string refusal;
        try {
            ReportStore store(path(), access);
        } catch (const StoreError& error) {
            refusal = error.what();
        }
        EXPECT_NE(refusal.find("zeq-server serve"), std::string::npos) << refusal;
    }
    EXPECT_THROW(ReportReader reader(path()), StoreError);
    EXPECT_EQ(rowsOf(path(), "PRAGMA user_version"), "1\n");

    { ReportStore first(path(), ReportStore::Access::Service); } // a second opening changes nothing
    ReportStore store(path(), ReportStore::Access::Service);
    EXPECT_EQ(rowsOf(path(), kEveryReportColumn), reportsBefore_);
    EXPECT_EQ(rowsOf(path(), kEveryToken), tokensBefore_);
    EXPECT_EQ(rowsOf(path(), "PRAGMA user_version"), "2\n");
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
    EXPECT_TRUE(store.body(codes_[3]) == bodies_[3]);

    // A deleted report takes its listing with it, one at a time or purged.
    ASSERT_TRUE(store.remove(codes_[2]));
    EXPECT_FALSE(reader.listed(codes_[2]));
    EXPECT_EQ(reader.list({}).reports.size(), bodies_.size() - 1);
    EXPECT_EQ(store.purgeReceivedBefore(kNow + 1), static_cast<std::int64_t>(bodies_.size() - 1));
    EXPECT_TRUE(reader.list({}).reports.empty());
}

TEST_F(ListingMigration, TheServiceListsEveryEarlierReportWhileItRuns) {
    // A retention long enough to keep reports from the spring.
    test::ServerProcess server({ZEQ_SERVER_BINARY, "serve", "--address", "127.0.0.1", "--port", "0",
                                "--db", path(), "--retention-days", "3650"},
                               dir_.file("server.log"));
    ReportReader reader(path());
    EXPECT_TRUE(eventually([&] {
        ListPage page = reader.list({});
        return page.reports.size() == bodies_.size() &&
               std::all_of(page.reports.begin(), page.reports.end(), [](const ListedReport& r) {
                   return r.rulesVersion == findings::kRulesVersion;
               });
    })) << server.log();
    EXPECT_TRUE(eventually([&] {
        return server.log().find("calculado el resumen de 6 informes guardados antes\n") !=
               std::string::npos;
    })) << server.log();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(), 0);
    EXPECT_EQ(rowsOf(path(), kEveryReportColumn), reportsBefore_);

    // The counts the report's own page shows.
    for (std::size_t i = 0; i < bodies_.size(); ++i) {
        std::optional<ListedReport> listed = reader.listed(codes_[i]);
        ASSERT_TRUE(listed) << codes_[i];
        findings::FindingCounts counts =
            findings::countFindings(findings::findingsOfBytes(bodies_[i]));
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
}

TEST_F(ListingMigration, NewReportsAreListedWhenStoredAlsoWhileTheFillerWorks) {
    ReportStore store(path(), ReportStore::Access::Service);
    std::vector<std::string> stored;
    {
        ListingFiller filler(store, path(), std::chrono::milliseconds(5));
        for (int i = 0; i < 20; ++i) {
            std::string id = test::newReportId();
            StoreOutcome outcome = store.store(id, test::sampleReport(id), kNow + 100 + i, "::1");
            ASSERT_EQ(outcome.result, StoreResult::Stored);
            stored.push_back(outcome.code);
        }
        ASSERT_TRUE(waitUntilDone(filler));
    }
    ReportReader reader(path());
    EXPECT_EQ(reader.list({}).reports.size(), bodies_.size() + stored.size());
    for (const std::string& code : stored) {
        EXPECT_EQ(reader.listed(code)->rulesVersion, findings::kRulesVersion) << code;
    }

    // A new report is listed when stored: what it says about the machine, its
    // failing disk.
    std::string id = test::newReportId();
    std::string body =
        test::FindingsReport()
            .member("report_id", id)
            .row(Section::Computer, {{"Manufacturer", "LENOVO"}, {"Model", "20XW00K2SP"}})
            .row(Section::Identification, {{"IdentifyingNumber", " PF3ABCDE "},
                                           {"UUID", "8f1c2b3a-1d2e-11b2-a85c-e1f0aa3b4c5d"},
                                           {"Vendor", "LENOVO"}})
            .row(Section::Windows, {{"Caption", "Microsoft Windows 11 Pro"}})
            .row(Section::Smart,
                 {{"InstanceName", "SCSI\\Disk\\0"}, {"PredictFailure", "True"}, {"Reason", "0"}})
            .json()
            .dump();
    std::string code = store.store(id, body, kNow + 60, "203.0.113.9").code;
    std::optional<ListedReport> listed = reader.listed(code);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->manufacturer, "LENOVO");
    EXPECT_EQ(listed->model, "20XW00K2SP");
    EXPECT_EQ(listed->serial, "PF3ABCDE"); // without the spaces WMI pads it with
    EXPECT_EQ(listed->machineUuid, "8F1C2B3A-1D2E-11B2-A85C-E1F0AA3B4C5D");
    EXPECT_EQ(listed->windowsCaption, "Microsoft Windows 11 Pro");
    EXPECT_EQ(listed->size, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(listed->receivedAt, kNow + 60);
    EXPECT_EQ(listed->critical, 1);
    EXPECT_EQ(listed->rulesVersion, findings::kRulesVersion);
    EXPECT_FALSE(listed->importedBy);
    EXPECT_FALSE(listed->importedAt);

    // Listed again when a server with older rules left its listing.
    Database db(path(), Database::Mode::ReadWrite);
    Statement(db, "UPDATE report_listing SET critical_count = 99, rules_version = ? WHERE code = ?")
        .bind(1, findings::kRulesVersion - 1)
        .bindText(2, code)
        .step();
    ListingFiller filler(store, path(), std::chrono::milliseconds(1));
    ASSERT_TRUE(waitUntilDone(filler));
    EXPECT_EQ(filler.filled(), 1);
    EXPECT_EQ(reader.listed(code)->critical, 1);
    EXPECT_EQ(reader.listed(code)->rulesVersion, findings::kRulesVersion);
}

TEST(ListingOfHostileReports, IdentityIsPlainTextOrAbsentAndNothingThrows) {
    using nlohmann::json;
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
        {"long", std::string(5000, 'A'), std::string(157, 'A') + "\xE2\x80\xA6"},
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
        ASSERT_NO_THROW(overview = findings::overviewOf(report.json().dump())) << c.name;
        EXPECT_EQ(overview.model, "X") << c.name;
        EXPECT_EQ(overview.manufacturer, c.shown) << c.name;
        EXPECT_FALSE(overview.machineUuid) << c.name;
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
