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
#include "support/bench_reports.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"

namespace {

using zeq::test::lowerWithoutHyphens;
using zeq::test::measure;
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
    std::vector<std::string> codes = zeq::test::fillReports(path, options.reports);
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
