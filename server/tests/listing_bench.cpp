// Benchmark of the technician's list: a database of many stored reports, then
// the first page, later pages, a search by receipt code typed as a person
// types it and searches by text, each timed over many runs through the
// list's own read-only connection. Also what computing a report's listing
// costs an upload, and the upgrade of a database of the earlier version with
// as many reports. Prints figures; run by hand:
//
//   zeq-server-listing-bench [--reports 100000] [--runs 200] [--keep DIR]
//
// The reports are the sample report (a few KB each): the list never reads a
// report's bytes, only the listing beside it, so their size does not change
// these figures. --keep DIR builds the database in DIR and leaves it there.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/crypto.h"
#include "findings/report_overview.h"
#include "store/listing_filler.h"
#include "store/receipt_code.h"
#include "store/report_reader.h"
#include "store/report_store.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using zeq::Statement;

struct Options {
    long reports = 100000;
    int runs = 200;
    std::string keep;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i], value = argv[i + 1];
        if (name == "--reports") {
            options.reports = std::stol(value);
        } else if (name == "--runs") {
            options.runs = std::stoi(value);
        } else if (name == "--keep") {
            options.keep = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && options.reports > 0 && options.runs > 0;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median, 95th percentile and longest of `runs` runs of `work`, in ms.
void measure(const char* what, int runs, const std::function<std::size_t()>& work) {
    std::vector<double> times;
    std::size_t rows = 0;
    for (int run = 0; run < runs; ++run) {
        Clock::time_point start = Clock::now();
        rows = work();
        times.push_back(millisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s %6zu filas  mediana %7.3f ms  p95 %7.3f ms  máx %7.3f ms\n", what, rows,
                times[times.size() / 2], times[times.size() * 95 / 100], times.back());
}

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

// Stored as the service stores them, in one transaction for speed: three
// reports per machine, one a minute.
std::vector<std::string> fill(const std::string& path, long count) {
    { zeq::ReportStore create(path, zeq::ReportStore::Access::Service); }
    zeq::Database db(path, zeq::Database::Mode::ReadWrite);
    db.exec("PRAGMA synchronous = OFF");
    Statement report(db, "INSERT INTO reports(code, report_id, sha256, received_at, size, "
                         "client_address, body) VALUES(?, ?, ?, ?, ?, '203.0.113.7', ?)");
    Statement listing(db, "INSERT INTO report_listing(code, received_at, size, manufacturer, "
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

// The same reports as a database of the earlier version holds them: how long
// the service takes to open it, and to list them all in the background.
void upgradeEarlierDatabase(const std::string& path) {
    {
        zeq::Database db(path, zeq::Database::Mode::ReadWrite);
        db.exec("DROP TABLE report_listing; PRAGMA user_version = 1");
    }
    Clock::time_point start = Clock::now();
    zeq::ReportStore store(path, zeq::ReportStore::Access::Service);
    std::printf("base de datos anterior abierta y actualizada en %.0f ms\n",
                millisecondsSince(start));
    start = Clock::now();
    zeq::ListingFiller filler(store, path);
    while (!filler.done()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("%lld resúmenes calculados en segundo plano en %.1f s\n",
                static_cast<long long>(filler.filled()), millisecondsSince(start) / 1000);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "uso: zeq-server-listing-bench [--reports N] [--runs N] [--keep DIR]\n");
        return 2;
    }
    zeq::test::TempDir temp;
    std::string path = (options.keep.empty() ? temp.path() : options.keep) + "/reports.db";

    Clock::time_point start = Clock::now();
    std::vector<std::string> codes = fill(path, options.reports);
    std::printf("%ld informes guardados en %.1f s\n", options.reports,
                millisecondsSince(start) / 1000);

    zeq::ReportReader reader(path);
    auto rows = [&](const zeq::ListQuery& query) { return reader.list(query).reports.size(); };
    // A cursor as the page before it left it.
    auto cursorAt = [&](long position) {
        std::optional<zeq::ListedReport> report = reader.listed(codes.at(codes.size() - position));
        return zeq::ListCursor{report->receivedAt, report->code};
    };
    int runs = options.runs;
    measure("primera página", runs, [&] { return rows({}); });
    zeq::ListCursor middle = cursorAt(codes.size() / 2);
    measure("página a mitad de la lista (siguiente)", runs, [&] { return rows({"", middle, {}}); });
    zeq::ListCursor deep = cursorAt(codes.size() - 60);
    measure("penúltima página (siguiente)", runs, [&] { return rows({"", deep, {}}); });
    measure("página a mitad de la lista (anterior)", runs, [&] { return rows({"", {}, middle}); });
    std::string typed = lowerWithoutHyphens(codes[codes.size() / 3]);
    measure(("código tecleado \"" + typed + "\"").c_str(), runs, [&] {
        return rows({typed, {}, {}});
    });
    measure("texto frecuente \"dell\"", runs, [&] { return rows({"dell", {}, {}}); });
    measure("texto en 3 informes (un número de serie)", runs, [&] {
        return rows({"SN00001234", {}, {}});
    });
    measure("texto que no está \"zzzz\"", runs, [&] { return rows({"zzzz", {}, {}}); });
    measure("mismo equipo", runs, [&] { return reader.sameMachine(codes[3000]).size(); });

    // What an upload now spends computing its listing.
    std::string large = zeq::test::sampleReport(zeq::test::newReportId(), 2 * 1024 * 1024);
    std::string fixture = zeq::test::fixtureText("windows10_office_desktop.json");
    measure("resumen de un informe de 2 MiB (subida)", 20, [&] {
        return static_cast<std::size_t>(zeq::findings::overviewOf(large).rulesVersion);
    });
    measure("resumen del informe de un PC real (subida)", runs, [&] {
        return static_cast<std::size_t>(zeq::findings::overviewOf(fixture).rulesVersion);
    });
    upgradeEarlierDatabase(path);
    return 0;
}
