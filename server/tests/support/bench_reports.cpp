#include "support/bench_reports.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>

#include "base/crypto.h"
#include "store/sqlite_handle.h"
#include "store/receipt_code.h"
#include "store/report_store.h"
#include "support/sample_report.h"

namespace zeq::test {

namespace {

using Clock = std::chrono::steady_clock;

struct MachineModel {
    const char* manufacturer;
    const char* model;
    const char* caption;
};
constexpr MachineModel kModels[] = {
    {"Dell Inc.", "OptiPlex 7050", "Microsoft Windows 10 Pro"},
    {"HP", "HP EliteBook 840 G5", "Microsoft Windows 11 Pro"},
    {"LENOVO", "20XW00K2SP", "Microsoft Windows 11 Pro"},
    {"ASUSTeK COMPUTER INC.", "VivoBook 15", "Microsoft Windows 11 Home"},
    {"Acer", "Aspire A315-58", "Microsoft Windows 10 Home"},
    {"To be filled by O.E.M.", "To be filled by O.E.M.", "Microsoft Windows 11 Home"},
    {"Micro-Star International Co., Ltd.", "MS-7C02", "Microsoft Windows 10 Pro"},
    {"Gigabyte Technology Co., Ltd.", "B450M DS3H", "Microsoft Windows 11 Pro"},
};

} // namespace

std::vector<std::string> fillReports(const std::string& path, long count) {
    { zeq::ReportStore create(path, zeq::ReportStore::Access::Service); }
    zeq::Database db(path, zeq::Database::Mode::ReadWrite);
    db.exec("PRAGMA synchronous = OFF");
    zeq::Statement report(db, "INSERT INTO reports(code, report_id, sha256, received_at, size, "
                              "client_address, body) VALUES(?, ?, ?, ?, ?, '203.0.113.7', ?)");
    zeq::Statement listing(db,
                           "INSERT INTO report_listing(code, received_at, size, manufacturer, "
                           "model, serial, machine_uuid, windows_caption, critical_count, "
                           "warning_count, rules_version) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    std::vector<std::string> codes;
    zeq::Transaction transaction(db);
    for (long n = 0; n < count; ++n) {
        std::string code = zeq::newReceiptCode();
        std::string id = zeq::test::reportIdFor(static_cast<unsigned long long>(n));
        std::string body = zeq::test::sampleReport(id);
        std::int64_t receivedAt = 1'700'000'000 + n * 60;
        long machine = n / 3;
        const MachineModel& model = kModels[machine % std::size(kModels)];
        char serial[32], uuid[40];
        std::snprintf(serial, sizeof serial, "SN%08lX", machine);
        std::snprintf(uuid, sizeof uuid, "4C4C4544-%04lX-%04lX-8051-B7C04F4B4D32",
                      (machine >> 16) & 0xFFFF, machine & 0xFFFF);
        bool placeholders = model.manufacturer[0] == 'T';
        {
            zeq::StatementUse use(report);
            report.bindText(1, code)
                .bindText(2, id)
                .bindText(3, zeq::toHex(zeq::sha256(body)))
                .bind(4, receivedAt)
                .bind(5, static_cast<std::int64_t>(body.size()))
                .bindBlob(6, body)
                .step();
        }
        {
            zeq::StatementUse use(listing);
            listing.bindText(1, code)
                .bind(2, receivedAt)
                .bind(3, static_cast<std::int64_t>(body.size()))
                .bindText(4, model.manufacturer)
                .bindText(5, model.model)
                .bindOptional(6, placeholders ? std::nullopt : std::optional<std::string>(serial))
                .bindOptional(7, placeholders ? std::nullopt : std::optional<std::string>(uuid))
                .bindText(8, model.caption)
                .bind(9, n % 7 == 0 ? 1 : 0)
                .bind(10, n % 3)
                .bind(11, 1)
                .step();
        }
        codes.push_back(code);
    }
    transaction.commit();
    return codes;
}

std::string lowerWithoutHyphens(const std::string& code) {
    std::string typed;
    for (char c : code) {
        if (c != '-') {
            typed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return typed;
}

void measure(const char* what, int runs, const std::function<std::size_t()>& work) {
    std::vector<double> times;
    std::size_t rows = 0;
    for (int run = 0; run < runs; ++run) {
        Clock::time_point start = Clock::now();
        rows = work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s %6zu filas  mediana %7.3f ms  p95 %7.3f ms  máx %7.3f ms\n", what, rows,
                times[times.size() / 2], times[times.size() * 95 / 100], times.back());
}

} // namespace zeq::test
