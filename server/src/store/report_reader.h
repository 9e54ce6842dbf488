#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/sqlite_handle.h"

namespace zeq {

// One line of the technician's list, read from the listing kept beside each
// report. The computed columns are absent until the listing is computed
// (rulesVersion 0 then); serial and machineUuid are absent when the machine
// reported a placeholder.
struct ListedReport {
    std::string code;
    std::int64_t receivedAt = 0;
    std::int64_t size = 0;
    std::optional<std::string> importedBy;
    std::optional<std::int64_t> importedAt;
    std::optional<std::string> manufacturer;
    std::optional<std::string> model;
    std::optional<std::string> serial;
    std::optional<std::string> machineUuid;
    std::optional<std::string> windowsCaption;
    std::optional<std::int64_t> critical;
    std::optional<std::int64_t> warning;
    int rulesVersion = 0;
};

// A place in the list, newest first: the report a page starts after (or,
// going back, ends before). Pages are cut by position rather than counted, so
// a page costs the same at any depth and reports arriving or deleted between
// two pages neither repeat a line nor skip one.
struct ListCursor {
    std::int64_t receivedAt = 0;
    std::string code;
};

struct ListQuery {
    // Empty: every report. A receipt code however typed (receipt_code.h)
    // finds that report; anything else, or a code not stored, is text looked
    // for in manufacturer, model and serial number, ignoring ASCII case.
    std::string search;
    std::optional<ListCursor> after;  // the next page: older than this
    std::optional<ListCursor> before; // the previous page: newer than this (unless after)
};

struct ListPage {
    std::vector<ListedReport> reports; // newest first
    bool foundByCode = false;          // the search was a stored report's code
    // Where the neighbouring pages start, when there are any.
    std::optional<ListCursor> older;
    std::optional<ListCursor> newer;
};

inline constexpr std::size_t kListPageSize = 50;
// Longer search text is cut: nothing the list searches is longer.
inline constexpr std::size_t kMaxSearchBytes = 200;

// One stored report as its page shows it: its line of the list, what came
// with it and its bytes exactly as stored.
struct ReadReport {
    ListedReport listing;
    std::string reportId;
    std::string clientAddress;
    std::string body;
};

// A stored report still to be listed, or listed by older rules.
struct UnlistedReport {
    std::string code;
    std::string body;
};

// Reads the report database through a read-only connection of its own, so
// that listing, searching and reading large reports never wait for the
// uploads' connection nor make it wait (WAL: readers and the writer go on
// side by side). Safe to share between threads; one query at a time.
class ReportReader {
  public:
    // Throws StoreError when the database is missing or of another version.
    explicit ReportReader(const std::string& path);
    ~ReportReader();
    ReportReader(const ReportReader&) = delete;
    ReportReader& operator=(const ReportReader&) = delete;

    ListPage list(const ListQuery& query);
    std::optional<ListedReport> listed(std::string_view code);
    // The report under the code with its bytes, checked against their SHA-256
    // (StoreError when they no longer match).
    std::optional<ReadReport> read(std::string_view code);
    // Other reports of the same machine, newest first: the same UUID and
    // serial number where both reports have one, and at least one of them in
    // common. A machine without either (placeholders only) has no others.
    std::vector<ListedReport> sameMachine(std::string_view code, std::size_t limit = kListPageSize);
    // Up to `limit` reports whose listing is not computed, or was computed by
    // rules older than `rulesVersion`, with their bytes.
    std::vector<UnlistedReport> unlisted(int rulesVersion, std::size_t limit);

  private:
    struct Statements;

    ListPage page(const ListQuery& query, const std::optional<std::string>& pattern);

    std::mutex mutex_;
    Database db_;
    std::unique_ptr<Statements> statements_;
};

// `text` as a LIKE pattern that finds it anywhere, with \ escaping the
// pattern's own % and _ (and itself): ESCAPE '\'.
std::string containsPattern(std::string_view text);

} // namespace zeq
