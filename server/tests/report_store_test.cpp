#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <deque>
#include <fstream>
#include <set>
#include <thread>

#include "base/crypto.h"
#include "store/report_store.h"
#include "store/retention_sweeper.h"
#include "upload/quota.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"

namespace zeq {
namespace {

constexpr std::int64_t kNow = 1'709'805'600;
constexpr std::int64_t kDay = 86400;

std::int64_t count(ReportStore& store) {
    return static_cast<std::int64_t>(store.list().size());
}

class ReportStoreTest : public ::testing::Test {
  protected:
    std::string path() const {
        return dir_.file("reports.db");
    }
    std::unique_ptr<ReportStore> open(ReceiptCodeSource codes = newReceiptCode) {
        return std::make_unique<ReportStore>(path(), ReportStore::Access::Service,
                                             std::move(codes));
    }

    test::TempDir dir_;
};

// Hands out the given codes in order, then fresh random ones.
ReceiptCodeSource scriptedCodes(std::vector<std::string> codes) {
    auto queue = std::make_shared<std::deque<std::string>>(codes.begin(), codes.end());
    return [queue] {
        if (queue->empty()) {
            return newReceiptCode();
        }
        std::string code = queue->front();
        queue->pop_front();
        return code;
    };
}

TEST_F(ReportStoreTest, StoresTheBytesVerbatimWithTheirDetails) {
    auto store = open();
    std::string id = test::newReportId();
    // Binary-safe: a zero byte and non-ASCII text are kept as they came.
    std::string body = test::sampleReport(id) + std::string("\0\xC3\xA9", 3);
    StoreOutcome outcome = store->store(id, body, kNow, "203.0.113.7");
    ASSERT_EQ(outcome.result, StoreResult::Stored);
    EXPECT_TRUE(isReceiptCode(outcome.code));

    std::optional<ReportSummary> summary = test::findListed(*store, outcome.code);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->reportId, id);
    EXPECT_EQ(summary->sha256, toHex(sha256(body)));
    EXPECT_EQ(summary->receivedAt, kNow);
    EXPECT_EQ(summary->size, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(summary->clientAddress, "203.0.113.7");
    EXPECT_TRUE(store->body(outcome.code) == body);
    EXPECT_EQ(count(*store), 1);
}

TEST_F(ReportStoreTest, ARetryWithTheSameBytesGetsTheSameCode) {
    auto store = open();
    std::string id = test::newReportId();
    std::string body = test::sampleReport(id, 5000);
    StoreOutcome first = store->store(id, body, kNow, "203.0.113.7");
    StoreOutcome again = store->store(id, body, kNow + 60, "198.51.100.1");
    EXPECT_EQ(first.result, StoreResult::Stored);
    EXPECT_EQ(again.result, StoreResult::Repeated);
    EXPECT_EQ(again.code, first.code);
    EXPECT_EQ(count(*store), 1);
    // Nothing of the retry was recorded.
    EXPECT_EQ(test::findListed(*store, first.code)->receivedAt, kNow);
    EXPECT_EQ(test::findListed(*store, first.code)->clientAddress, "203.0.113.7");
}

TEST_F(ReportStoreTest, OtherBytesUnderAKnownReportIdAreAConflict) {
    auto store = open();
    std::string id = test::newReportId();
    std::string body = test::sampleReport(id, 5000);
    StoreOutcome first = store->store(id, body, kNow, "203.0.113.7");

    std::string oneByteOff = body;
    oneByteOff[oneByteOff.size() - 10] ^= 1;
    const std::string others[] = {oneByteOff, body.substr(0, body.size() - 1), body + " ",
                                  test::sampleReport(id, 6000)};
    for (const std::string& other : others) {
        StoreOutcome outcome = store->store(id, other, kNow, "203.0.113.7");
        EXPECT_EQ(outcome.result, StoreResult::Conflict);
        EXPECT_TRUE(outcome.code.empty());
    }
    EXPECT_EQ(count(*store), 1);
    EXPECT_TRUE(store->body(first.code) == body);
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// The message the service stops with, or "" when the store opens.
std::string refusalOpening(const std::string& path) {
    try {
        ReportStore store(path, ReportStore::Access::Service);
        return "";
    } catch (const StoreError& error) {
        return error.what();
    }
}

TEST_F(ReportStoreTest, ANewDatabaseIsPrivateWhateverTheUmask) {
    mode_t previous = ::umask(022);
    {
        auto store = open();
        std::string id = test::newReportId();
        store->store(id, test::sampleReport(id), kNow, "x");
        EXPECT_EQ(modeOf(path()), 0600u);
        EXPECT_EQ(modeOf(path() + "-wal"), 0600u);
        EXPECT_EQ(modeOf(path() + "-shm"), 0600u);
    }
    ::umask(previous);
    EXPECT_EQ(refusalOpening(path()), "");
}

TEST_F(ReportStoreTest, ADatabaseOthersMayUseIsRefusedToTheService) {
    open();
    for (mode_t bit = 1; bit <= 040; bit <<= 1) {
        mode_t mode = 0600 | bit;
        ASSERT_EQ(::chmod(path().c_str(), mode), 0);
        std::string refusal = refusalOpening(path());
        EXPECT_NE(refusal.find("base de datos " + path() + ": otros usuarios pueden leerla"),
                  std::string::npos)
            << std::oct << mode << ": " << refusal;
        EXPECT_NE(refusal.find("corríjalo con chmod 600 " + path()), std::string::npos) << refusal;
    }
    ASSERT_EQ(::chmod(path().c_str(), 0644), 0);
    EXPECT_NE(refusalOpening(path()).find("permisos 0644"), std::string::npos);
    // The technician's commands still read it (and leave a log of its mode,
    // which the service refuses too); the service starts once all is corrected.
    EXPECT_EQ(test::storedReports(path()), 0);
    ASSERT_EQ(::chmod(path().c_str(), 0600), 0);
    EXPECT_NE(refusalOpening(path()).find("chmod 600 " + path() + "-wal"), std::string::npos);
    ASSERT_EQ(::chmod((path() + "-wal").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((path() + "-shm").c_str(), 0600), 0);
    EXPECT_EQ(refusalOpening(path()), "");
}

TEST_F(ReportStoreTest, ALogOrSharedMemoryFileOthersMayReadIsRefused) {
    open();
    for (const char* suffix : {"-wal", "-shm"}) {
        std::string file = path() + suffix;
        std::ofstream{file};
        ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
        std::string refusal = refusalOpening(path());
        EXPECT_NE(refusal.find("chmod 600 " + file), std::string::npos) << refusal;
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    }
    EXPECT_EQ(refusalOpening(path()), "");
}

TEST_F(ReportStoreTest, ADirectoryOthersMayUseIsRefusedToTheService) {
    std::string directory = dir_.file("data");
    std::string database = directory + "/reports.db";
    ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
    EXPECT_EQ(refusalOpening(database), "");
    for (mode_t mode : {0701, 0702, 0704, 0710, 0720, 0740, 0750, 0755, 0777, 01777}) {
        ASSERT_EQ(::chmod(directory.c_str(), mode), 0);
        std::string refusal = refusalOpening(database);
        EXPECT_NE(refusal.find("directorio de la base de datos " + directory + ": otros usuarios"),
                  std::string::npos)
            << std::oct << mode << ": " << refusal;
        EXPECT_NE(refusal.find("corríjalo con chmod 700 " + directory), std::string::npos)
            << refusal;
    }
    // Nothing is created in a directory that is refused.
    ASSERT_EQ(::chmod(directory.c_str(), 0755), 0);
    std::string fresh = directory + "/other.db";
    EXPECT_NE(refusalOpening(fresh), "");
    EXPECT_NE(::access(fresh.c_str(), F_OK), 0);
    ASSERT_EQ(::chmod(directory.c_str(), 0700), 0);
}

// An admission callback that answers as told and counts how often it was asked.
struct Admission {
    QuotaDecision answer;
    int asked = 0;
    AdmitNewReport callback() {
        return [this] {
            ++asked;
            return answer;
        };
    }
};

TEST_F(ReportStoreTest, ANewReportIsPutToTheQuotaOnce) {
    auto store = open();
    Admission admit{{true, 0}};
    std::string id = test::newReportId();
    StoreOutcome outcome = store->store(id, test::sampleReport(id), kNow, "x", admit.callback());
    EXPECT_EQ(outcome.result, StoreResult::Stored);
    EXPECT_EQ(outcome.retryAfterSeconds, 0);
    EXPECT_EQ(admit.asked, 1);
    EXPECT_EQ(count(*store), 1);
}

TEST_F(ReportStoreTest, AReportOverQuotaIsNotStored) {
    auto store = open();
    std::string id = test::newReportId();
    std::string body = test::sampleReport(id, 5000);
    const struct {
        std::int64_t given, reported;
    } waits[] = {{120, 120}, {1, 1}, {0, 1}, {-5, 1}};
    for (const auto& wait : waits) {
        Admission refuse{{false, wait.given}};
        StoreOutcome outcome = store->store(id, body, kNow, "x", refuse.callback());
        EXPECT_EQ(outcome.result, StoreResult::OverQuota);
        EXPECT_TRUE(outcome.code.empty());
        EXPECT_EQ(outcome.retryAfterSeconds, wait.reported);
        EXPECT_EQ(refuse.asked, 1);
        EXPECT_EQ(count(*store), 0);
    }
    // Nothing of the refusal stays: the report is new when admitted later.
    Admission admit{{true, 0}};
    StoreOutcome later = store->store(id, body, kNow + 120, "x", admit.callback());
    EXPECT_EQ(later.result, StoreResult::Stored);
    EXPECT_EQ(admit.asked, 1);
    EXPECT_TRUE(store->body(later.code) == body);
}

TEST_F(ReportStoreTest, RetriesAndConflictsAreNotPutToTheQuota) {
    auto store = open();
    std::string id = test::newReportId();
    std::string body = test::sampleReport(id, 5000);
    StoreOutcome first = store->store(id, body, kNow, "x");
    ASSERT_EQ(first.result, StoreResult::Stored);

    Admission refuse{{false, 600}};
    StoreOutcome retry = store->store(id, body, kNow + 60, "x", refuse.callback());
    EXPECT_EQ(retry.result, StoreResult::Repeated);
    EXPECT_EQ(retry.code, first.code);
    EXPECT_EQ(retry.retryAfterSeconds, 0);
    StoreOutcome conflict = store->store(id, body + " ", kNow + 60, "x", refuse.callback());
    EXPECT_EQ(conflict.result, StoreResult::Conflict);
    EXPECT_EQ(refuse.asked, 0);
    EXPECT_EQ(count(*store), 1);
}

TEST_F(ReportStoreTest, AFailingAdmissionLeavesTheStoreUsable) {
    auto store = open();
    std::string id = test::newReportId();
    AdmitNewReport failing = []() -> QuotaDecision { throw std::runtime_error("quota failed"); };
    EXPECT_THROW(store->store(id, test::sampleReport(id), kNow, "x", failing), std::runtime_error);
    EXPECT_EQ(count(*store), 0);
    EXPECT_EQ(store->store(id, test::sampleReport(id), kNow, "x").result, StoreResult::Stored);
}

TEST_F(ReportStoreTest, WithTheUploadQuotaRetriesOfStoredReportsAreNotCounted) {
    auto store = open();
    std::int64_t now = kNow;
    QuotaSettings settings;
    settings.reportsPerClientPerHour = 2;
    UploadQuota quota(settings, [&now] { return now; });
    auto admit = [&quota](const std::string& address) {
        return [&quota, address] { return quota.charge(address, 1000); };
    };
    std::string a = test::newReportId(), b = test::newReportId(), c = test::newReportId();
    ASSERT_EQ(store->store(a, test::sampleReport(a), now, "192.0.2.1", admit("192.0.2.1")).result,
              StoreResult::Stored);
    for (int retry = 0; retry < 5; ++retry) {
        EXPECT_EQ(
            store->store(a, test::sampleReport(a), now, "192.0.2.1", admit("192.0.2.1")).result,
            StoreResult::Repeated);
    }
    EXPECT_EQ(store->store(b, test::sampleReport(b), now, "192.0.2.1", admit("192.0.2.1")).result,
              StoreResult::Stored);
    StoreOutcome third =
        store->store(c, test::sampleReport(c), now, "192.0.2.1", admit("192.0.2.1"));
    EXPECT_EQ(third.result, StoreResult::OverQuota);
    EXPECT_EQ(third.retryAfterSeconds, 3660);
    EXPECT_EQ(count(*store), 2);
    // Another client is not held back by the first one's quota.
    EXPECT_EQ(store->store(c, test::sampleReport(c), now, "192.0.2.2", admit("192.0.2.2")).result,
              StoreResult::Stored);
}

TEST_F(ReportStoreTest, CodesAreUniqueEvenWhenTheSourceRepeatsItself) {
    auto store = open(scriptedCodes(
        {"ZEQ-AAAA-AAAA-AAAA", "ZEQ-AAAA-AAAA-AAAA", "not a code", "ZEQ-BBBB-BBBB-BBBB"}));
    std::string a = test::newReportId(), b = test::newReportId();
    EXPECT_EQ(store->store(a, test::sampleReport(a), kNow, "x").code, "ZEQ-AAAA-AAAA-AAAA");
    EXPECT_EQ(store->store(b, test::sampleReport(b), kNow, "x").code, "ZEQ-BBBB-BBBB-BBBB");
    EXPECT_EQ(count(*store), 2);
}

TEST_F(ReportStoreTest, ASourceThatNeverFindsAFreeCodeStoresNothing) {
    auto store = open([] { return std::string("ZEQ-AAAA-AAAA-AAAA"); });
    std::string a = test::newReportId(), b = test::newReportId();
    ASSERT_EQ(store->store(a, test::sampleReport(a), kNow, "x").result, StoreResult::Stored);
    EXPECT_THROW(store->store(b, test::sampleReport(b), kNow, "x"), StoreError);
    EXPECT_EQ(count(*store), 1);
    // The failed transaction left the store usable.
    EXPECT_EQ(store->store(a, test::sampleReport(a), kNow, "x").result, StoreResult::Repeated);
}

TEST_F(ReportStoreTest, ManyWritersGetDistinctCodesAndOneReportEach) {
    auto store = open();
    constexpr int kThreads = 8, kEach = 40;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::set<std::string> codes;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                std::string id = test::reportIdFor(static_cast<unsigned>(t * kEach + i));
                StoreOutcome outcome = store->store(id, test::sampleReport(id), kNow, "x");
                std::lock_guard<std::mutex> lock(mutex);
                codes.insert(outcome.code);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(codes.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(count(*store), kThreads * kEach);
}

TEST_F(ReportStoreTest, ConcurrentRetriesOfOneReportStoreItOnce) {
    auto store = open();
    std::string id = test::newReportId();
    std::string body = test::sampleReport(id, 20000);
    std::atomic<int> stored{0}, repeated{0};
    std::mutex mutex;
    std::set<std::string> codes;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            StoreOutcome outcome = store->store(id, body, kNow, "x");
            (outcome.result == StoreResult::Stored ? stored : repeated)++;
            std::lock_guard<std::mutex> lock(mutex);
            codes.insert(outcome.code);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(repeated, 7);
    EXPECT_EQ(codes.size(), 1u);
    EXPECT_EQ(count(*store), 1);
}

TEST_F(ReportStoreTest, ATokenIsUsableOnceAlsoAfterReopening) {
    {
        auto store = open();
        EXPECT_TRUE(store->consumeToken("aaaa", kNow + 900));
        EXPECT_FALSE(store->consumeToken("aaaa", kNow + 900));
        EXPECT_TRUE(store->consumeToken("bbbb", kNow + 900));
    }
    auto reopened = open();
    EXPECT_FALSE(reopened->consumeToken("aaaa", kNow + 900));
    EXPECT_FALSE(reopened->consumeToken("bbbb", kNow + 900));
}

TEST_F(ReportStoreTest, TokensExpiredBeforeTheCutoffAreForgottenAndOnlyThose) {
    auto store = open();
    ASSERT_TRUE(store->consumeToken("expired", kNow - 1));
    ASSERT_TRUE(store->consumeToken("expiring", kNow));
    ASSERT_TRUE(store->consumeToken("live", kNow + 1));
    EXPECT_EQ(store->forgetTokensExpiredBefore(kNow), 1);
    EXPECT_TRUE(store->consumeToken("expired", kNow - 1));
    EXPECT_FALSE(store->consumeToken("expiring", kNow));
    EXPECT_FALSE(store->consumeToken("live", kNow + 1));
}

TEST_F(ReportStoreTest, ASpentTokenIsRememberedForADayAfterItExpires) {
    auto store = open();
    struct Case {
        const char* nonce;
        std::int64_t expiredAgo;
        bool remembered;
    };
    const Case cases[] = {
        {"a", -600, true}, {"b", 10, true},        {"c", 23 * 3600, true},
        {"d", kDay, true}, {"e", kDay + 1, false}, {"f", 40 * kDay, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(store->consumeToken(c.nonce, kNow - c.expiredAgo));
    }
    EXPECT_EQ(sweepExpired(*store, 30, kNow).tokens, 2);
    for (const Case& c : cases) {
        // consumeToken succeeds only for a nonce the store has forgotten.
        EXPECT_EQ(store->consumeToken(c.nonce, kNow - c.expiredAgo), !c.remembered) << c.nonce;
    }
}

TEST_F(ReportStoreTest, RetentionDeletesReportsOlderThanThePeriod) {
    auto store = open();
    struct Case {
        std::int64_t age;
        bool kept;
    };
    const Case cases[] = {
        {0, true},          {29 * kDay, true},   {30 * kDay, true}, {30 * kDay + 1, false},
        {31 * kDay, false}, {400 * kDay, false},
    };
    std::vector<std::string> codes;
    for (const Case& c : cases) {
        std::string id = test::newReportId();
        codes.push_back(store->store(id, test::sampleReport(id), kNow - c.age, "x").code);
    }
    store->consumeToken("old", kNow - kDay - 10);
    SweepResult result = sweepExpired(*store, 30, kNow);
    EXPECT_EQ(result.reports, 3);
    EXPECT_EQ(result.tokens, 1);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(test::findListed(*store, codes[i]).has_value(), cases[i].kept)
            << "age " << cases[i].age;
    }
    // A second sweep at the same time finds nothing more.
    EXPECT_EQ(sweepExpired(*store, 30, kNow).reports, 0);
    EXPECT_EQ(sweepExpired(*store, 1, kNow).reports, 2);
}

TEST_F(ReportStoreTest, ListsInOrderOfArrivalAndRemovesOnRequest) {
    auto store = open();
    std::vector<std::string> codes;
    for (std::int64_t t : {kNow + 20, kNow, kNow + 10}) {
        std::string id = test::newReportId();
        codes.push_back(store->store(id, test::sampleReport(id), t, "x").code);
    }
    std::vector<ReportSummary> listed = store->list();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].code, codes[1]);
    EXPECT_EQ(listed[1].code, codes[2]);
    EXPECT_EQ(listed[2].code, codes[0]);

    EXPECT_TRUE(store->remove(codes[1]));
    EXPECT_FALSE(store->remove(codes[1]));
    EXPECT_FALSE(store->body(codes[1]));
    EXPECT_EQ(count(*store), 2);
}

TEST_F(ReportStoreTest, APurgeLargerThanOneBatchDeletesAllItShouldAndNothingElse) {
    auto store = open();
    constexpr int kOld = 1234, kRecent = 7;
    for (int i = 0; i < kOld + kRecent; ++i) {
        std::string id = test::reportIdFor(static_cast<unsigned>(i));
        std::int64_t receivedAt = i < kOld ? kNow - 40 * kDay + i : kNow - i;
        store->store(id, "{}" + id, receivedAt, "x");
        store->consumeToken(id, i < kOld ? kNow - 2 * kDay : kNow);
    }
    SweepResult result = sweepExpired(*store, 30, kNow);
    EXPECT_EQ(result.reports, kOld);
    EXPECT_EQ(result.tokens, kOld);
    EXPECT_EQ(count(*store), kRecent);
    EXPECT_EQ(sweepExpired(*store, 30, kNow).reports, 0);
}

// The bytes of a deleted report must be gone from the database file and from
// its write-ahead log while the service still has the database open.
TEST(ReportStoreDeletion, DeletedReportsLeaveNoTraceInTheDatabaseFiles) {
    using Erase =
        std::function<void(ReportStore & service, const std::string& db, const std::string& code)>;
    const std::pair<const char*, Erase> cases[] = {
        {"remove", [](ReportStore& service, const std::string&,
                      const std::string& code) { EXPECT_TRUE(service.remove(code)); }},
        {"retention",
         [](ReportStore& service, const std::string&, const std::string&) {
             EXPECT_EQ(sweepExpired(service, 30, kNow).reports, 1);
         }},
        {"delete command beside the service",
         [](ReportStore&, const std::string& db, const std::string& code) {
             EXPECT_TRUE(ReportStore(db, ReportStore::Access::ReadWrite).remove(code));
         }},
    };
    for (const auto& [how, erase] : cases) {
        test::TempDir dir;
        std::string db = dir.file("reports.db");
        ReportStore service(db, ReportStore::Access::Service);
        std::string marker = test::newReportId() + "-MARCA-PRIVADA";
        std::string doomedId = test::newReportId(), keptId = test::newReportId();
        std::string doomed = service
                                 .store(doomedId, test::sampleReport(doomedId, 30000) + marker,
                                        kNow - 31 * kDay, "x")
                                 .code;
        // A report kept, written after the doomed one.
        service.store(keptId, test::sampleReport(keptId, 30000), kNow, "x");
        auto onDisk = [&] {
            std::string files = test::readFile(db) + test::readFile(db + "-wal");
            return files.find(marker) != std::string::npos;
        };
        ASSERT_TRUE(onDisk()) << how << ": the report should be on disk before the delete";
        erase(service, db, doomed);
        EXPECT_FALSE(onDisk()) << how;
        EXPECT_EQ(count(service), 1) << how;
    }
}

TEST(ReportStoreDeletion, AReaderDelaysEmptyingTheLogUntilTheNextSweep) {
    test::TempDir dir;
    std::string db = dir.file("reports.db");
    ReportStore service(db, ReportStore::Access::Service);
    std::string marker = test::newReportId() + "-MARCA-PRIVADA";
    std::string id = test::newReportId();
    std::string code = service.store(id, test::sampleReport(id) + marker, kNow, "x").code;
    auto inLog = [&] { return test::readFile(db + "-wal").find(marker) != std::string::npos; };

    // A technician's command in the middle of a read.
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(reader, "SELECT code FROM reports", -1, &query, nullptr);
    ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);

    testing::internal::CaptureStderr();
    EXPECT_TRUE(service.remove(code));
    std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_NE(warning.find("-wal"), std::string::npos) << warning;
    EXPECT_TRUE(inLog());

    sqlite3_finalize(query);
    sqlite3_close(reader);
    // The next sweep deletes nothing, and empties the log all the same.
    EXPECT_EQ(sweepExpired(service, 30, kNow).reports, 0);
    EXPECT_FALSE(inLog());
}

TEST_F(ReportStoreTest, UsesWriteAheadLogging) {
    auto store = open();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)), "wal");
    sqlite3_finalize(statement);
    sqlite3_close(db);
}

TEST_F(ReportStoreTest, ReportsSurviveReopening) {
    std::string id = test::newReportId();
    std::string body = test::sampleReport(id, 8000);
    std::string code = open()->store(id, body, kNow, "x").code;
    ReportStore readOnly(path(), ReportStore::Access::ReadOnly);
    EXPECT_TRUE(readOnly.body(code) == body);
    EXPECT_EQ(readOnly.list().size(), 1u);
}

TEST_F(ReportStoreTest, TechnicianAccessNeedsAnExistingReportDatabase) {
    EXPECT_THROW(ReportStore(path(), ReportStore::Access::ReadOnly), StoreError);
    EXPECT_THROW(ReportStore(path(), ReportStore::Access::ReadWrite), StoreError);
    {
        sqlite3* db = nullptr;
        sqlite3_open(dir_.file("other.db").c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_THROW(ReportStore(dir_.file("other.db"), ReportStore::Access::ReadOnly), StoreError);
    open();
    ReportStore readOnly(path(), ReportStore::Access::ReadOnly);
    EXPECT_THROW(readOnly.consumeToken("x", kNow), StoreError);
}

TEST_F(ReportStoreTest, AStoredBodyThatNoLongerMatchesItsDigestIsNotHandedOut) {
    std::string id = test::newReportId();
    std::string code = open()->store(id, test::sampleReport(id), kNow, "x").code;
    sqlite3* db = nullptr;
    sqlite3_open(path().c_str(), &db);
    sqlite3_exec(db, "UPDATE reports SET body = X'7B7D'", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_THROW(open()->body(code), StoreError);
}

} // namespace
} // namespace zeq
