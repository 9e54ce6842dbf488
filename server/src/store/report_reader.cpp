#include "store/report_reader.h"

#include <algorithm>
#include <limits>

#include "base/text_shapes.h"
#include "store/receipt_code.h"
#include "store/report_store.h"

namespace zeq {

namespace {

constexpr const char* kListedColumns =
    "code, received_at, size, imported_by, imported_at, manufacturer, model, serial, "
    "machine_uuid, windows_caption, critical_count, warning_count, rules_version";
// Pages go from a cursor (?1, ?2) and hold at most ?4 reports; a search's
// pages hold the reports whose search text is like the pattern ?3.
constexpr const char* kOlder = "WHERE (received_at, code) < (?1, ?2) ORDER BY received_at DESC, "
                               "code DESC LIMIT ?4";
constexpr const char* kNewer =
    "WHERE (received_at, code) > (?1, ?2) ORDER BY received_at, code LIMIT ?4";
constexpr const char* kOlderMatching =
    "WHERE (received_at, code) < (?1, ?2) AND search_text LIKE ?3 ESCAPE '\\' ORDER BY received_at "
    "DESC, code DESC LIMIT ?4";
constexpr const char* kNewerMatching = "WHERE (received_at, code) > (?1, ?2) AND search_text LIKE "
                                       "?3 ESCAPE '\\' ORDER BY received_at, code LIMIT ?4";

// A text search reads the whole listing (100,000 reports: about 20 MB): mapped
// into memory, its pages cost no system call each. Only the reader maps: the
// writer's pages change under it.
constexpr const char* kReaderMemoryMap = "PRAGMA mmap_size = 268435456";

// "SELECT <the listed columns> FROM report_listing <rest>"
std::string selectListed(const std::string& rest) {
    return std::string("SELECT ") + kListedColumns + " FROM report_listing " + rest;
}

ListedReport listedFrom(const Statement& row) {
    ListedReport report;
    report.code = row.columnText(0);
    report.receivedAt = row.columnInt(1);
    report.size = row.columnInt(2);
    report.importedBy = row.columnOptionalText(3);
    report.importedAt = row.columnOptionalInt(4);
    report.manufacturer = row.columnOptionalText(5);
    report.model = row.columnOptionalText(6);
    report.serial = row.columnOptionalText(7);
    report.machineUuid = row.columnOptionalText(8);
    report.windowsCaption = row.columnOptionalText(9);
    report.critical = row.columnOptionalInt(10);
    report.warning = row.columnOptionalInt(11);
    report.rulesVersion = static_cast<int>(row.columnOptionalInt(12).value_or(0));
    return report;
}

std::vector<ListedReport> allRows(Statement& query) {
    std::vector<ListedReport> reports;
    while (query.step()) {
        reports.push_back(listedFrom(query));
    }
    return reports;
}

ListCursor cursorOf(const ListedReport& report) {
    return {report.receivedAt, report.code};
}

// At most kMaxSearchBytes, cut before a UTF-8 continuation byte, with no
// control character (the searched fields are a line apart).
std::string limited(std::string_view text) {
    std::size_t end = std::min(text.size(), kMaxSearchBytes);
    while (end < text.size() && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    std::string search(text.substr(0, end));
    for (char& c : search) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return search;
}

} // namespace

struct ReportReader::Statements {
    explicit Statements(Database& db)
        : older(db, selectListed(kOlder).c_str()), newer(db, selectListed(kNewer).c_str()),
          olderMatching(db, selectListed(kOlderMatching).c_str()),
          newerMatching(db, selectListed(kNewerMatching).c_str()),
          byCode(db, selectListed("WHERE code = ?").c_str()),
          sameMachine(db, selectListed("WHERE code <> ?1 AND ((?2 IS NOT NULL AND machine_uuid = "
                                       "?2) OR (?3 IS NOT NULL AND serial = ?3)) AND "
                                       "(machine_uuid IS NULL OR ?2 IS NULL OR machine_uuid = ?2) "
                                       "AND (serial IS NULL OR ?3 IS NULL OR serial = ?3) ORDER BY "
                                       "received_at DESC, code DESC LIMIT ?4")
                              .c_str()),
          read(db, "SELECT report_id, client_address, sha256, body FROM reports WHERE code = ?"),
          unlisted(db, "SELECT l.code, r.body FROM report_listing AS l JOIN reports AS r ON "
                       "r.code = l.code WHERE l.rules_version IS NULL OR l.rules_version < ?1 "
                       "LIMIT ?2") {}

    Statement older, newer, olderMatching, newerMatching, byCode, sameMachine, read, unlisted;
};

ReportReader::ReportReader(const std::string& path) : db_(path, Database::Mode::ReadOnly) {
    requireCurrentSchema(db_, path);
    db_.exec(kReaderMemoryMap);
    statements_ = std::make_unique<Statements>(db_);
}

ReportReader::~ReportReader() = default;

ListPage ReportReader::list(const ListQuery& query) {
    std::string search = limited(trimmed(query.search, " \t\r\n"));
    if (std::optional<std::string> code = receiptCodeFrom(search)) {
        if (std::optional<ListedReport> report = listed(*code)) {
            ListPage page;
            page.reports.push_back(std::move(*report));
            page.foundByCode = true;
            return page;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return page(query, search.empty() ? std::nullopt
                                      : std::optional<std::string>(containsPattern(search)));
}

ListPage ReportReader::page(const ListQuery& query, const std::optional<std::string>& pattern) {
    bool backwards = query.before.has_value() && !query.after.has_value();
    ListCursor from = backwards     ? *query.before
                      : query.after ? *query.after
                                    : ListCursor{std::numeric_limits<std::int64_t>::max(), ""};
    Statement& statement =
        pattern ? (backwards ? statements_->newerMatching : statements_->olderMatching)
                : (backwards ? statements_->newer : statements_->older);
    StatementUse use(statement);
    statement.bind(1, from.receivedAt)
        .bindText(2, from.code)
        .bindOptional(3, pattern)
        .bind(4, static_cast<std::int64_t>(kListPageSize + 1));
    ListPage page;
    page.reports = allRows(statement);
    bool more = page.reports.size() > kListPageSize;
    page.reports.resize(std::min(page.reports.size(), kListPageSize));
    if (backwards) {
        std::reverse(page.reports.begin(), page.reports.end());
    }
    if (page.reports.empty()) {
        return page;
    }
    // Past the cursor there is at least the report it names.
    bool newerExist = backwards ? more : query.after.has_value();
    bool olderExist = backwards ? true : more;
    if (newerExist) {
        page.newer = cursorOf(page.reports.front());
    }
    if (olderExist) {
        page.older = cursorOf(page.reports.back());
    }
    return page;
}

std::optional<ListedReport> ReportReader::listed(std::string_view code) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& query = statements_->byCode;
    StatementUse use(query);
    if (!query.bindText(1, code).step()) {
        return std::nullopt;
    }
    return listedFrom(query);
}

std::optional<ReadReport> ReportReader::read(std::string_view code) {
    std::optional<ListedReport> listing = listed(code);
    if (!listing) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& query = statements_->read;
    StatementUse use(query);
    if (!query.bindText(1, code).step()) {
        return std::nullopt; // deleted in between
    }
    ReadReport report{std::move(*listing), query.columnText(0), query.columnText(1),
                      std::string(query.columnBlob(3))};
    requireIntactBytes(code, report.body, query.columnText(2));
    return report;
}

std::vector<ListedReport> ReportReader::sameMachine(std::string_view code, std::size_t limit) {
    std::optional<ListedReport> report = listed(code);
    if (!report || (!report->machineUuid && !report->serial)) {
        return {};
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& query = statements_->sameMachine;
    StatementUse use(query);
    query.bindText(1, code)
        .bindOptional(2, report->machineUuid)
        .bindOptional(3, report->serial)
        .bind(4, static_cast<std::int64_t>(limit));
    return allRows(query);
}

std::vector<UnlistedReport> ReportReader::unlisted(int rulesVersion, std::size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& query = statements_->unlisted;
    StatementUse use(query);
    query.bind(1, rulesVersion).bind(2, static_cast<std::int64_t>(limit));
    std::vector<UnlistedReport> reports;
    while (query.step()) {
        reports.push_back({query.columnText(0), std::string(query.columnBlob(1))});
    }
    return reports;
}

std::string containsPattern(std::string_view text) {
    std::string pattern = "%";
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') {
            pattern += '\\';
        }
        pattern += c;
    }
    pattern += '%';
    return pattern;
}

} // namespace zeq
