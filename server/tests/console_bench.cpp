// Benchmark of the technician's console over HTTP, as a browser uses it: the
// page of a 2 MiB report, and with many stored reports the list's first page
// and a search by a receipt code typed as a person types it. The server runs
// as a child process with its console on loopback; every figure is one
// request answered in full (the connection included). Prints figures; run by
// hand:
//
//   zeq-server-console-bench --server BIN [--reports 100000] [--runs 100]
//
// The 2 MiB report is a real PC's (the Windows 10 fixture) with its installed
// programs repeated until it has just under 2 MiB, so its page is a table of
// many thousand rows.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "store/report_store.h"
#include "support/bench_reports.h"
#include "support/console_session.h"
#include "support/findings_report.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "upload/report_envelope.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kTechnician = "banco";
const std::string kPassword = "contraseña del banco de pruebas";

struct Options {
    std::string server;
    long reports = 100000;
    int runs = 100;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i], value = argv[i + 1];
        if (name == "--server") {
            options.server = value;
        } else if (name == "--reports") {
            options.reports = std::stol(value);
        } else if (name == "--runs") {
            options.runs = std::stoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.server.empty() && options.reports > 0 && options.runs > 0;
}

// The Windows 10 fixture with its programs repeated up to just under the
// largest report the server takes.
std::string largeReport() {
    nlohmann::json report =
        nlohmann::json::parse(zeq::test::fixtureText("windows10_office_desktop.json"));
    report["report_id"] = zeq::test::newReportId();
    nlohmann::json* programs = nullptr;
    for (nlohmann::json& section : report["sections"]) {
        if (section["name"] == "Programas instalados") {
            programs = &section["rows"];
        }
    }
    const nlohmann::json originals = *programs;
    std::size_t size = report.dump().size();
    for (std::size_t n = 0;; ++n) {
        nlohmann::json row = originals[n % originals.size()];
        row["Name"] = row["Name"].get<std::string>() + " (" + std::to_string(n) + ")";
        std::size_t rowSize = row.dump().size() + 1;
        if (size + rowSize > zeq::kMaxReportBytes) {
            break;
        }
        programs->push_back(std::move(row));
        size += rowSize;
    }
    return report.dump();
}

std::size_t okBytes(const zeq::test::HttpResponse& response) {
    if (response.status != 200) {
        throw std::runtime_error("status " + std::to_string(response.status));
    }
    return response.body.size();
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "uso: zeq-server-console-bench --server BIN [--reports N] [--runs N]\n");
        return 2;
    }
    zeq::test::TempDir dir;
    std::string path = dir.file("reports.db");
    Clock::time_point start = Clock::now();
    std::vector<std::string> codes = zeq::test::fillReports(path, options.reports);
    std::string large = largeReport();
    std::string largeCode;
    {
        zeq::ReportStore store(path, zeq::ReportStore::Access::Service);
        zeq::EnvelopeCheck check = zeq::checkReport(large);
        largeCode = store.store(check.reportId, large, 1'900'000'000, "203.0.113.9").code;
    }
    std::printf("%ld informes y uno de %zu bytes guardados en %.1f s\n", options.reports,
                large.size(), std::chrono::duration<double>(Clock::now() - start).count());
    if (!zeq::test::addTechnician(options.server, path, kTechnician, kPassword)) {
        std::fprintf(stderr, "user add failed\n");
        return 1;
    }
    // The stored reports are dated 2023: kept as long as the server allows.
    zeq::test::ServerProcess server({options.server, "serve", "--port", "0", "--db", path,
                                     "--console-port", "0", "--retention-days", "3650"},
                                    dir.file("server.log"));
    zeq::test::ConsoleSession browser(server.consolePort());
    if (!browser.login(kTechnician, kPassword)) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }
    try {
        std::string reportPage = "/informe/" + largeCode;
        std::printf("página del informe de 2 MiB: %zu bytes de HTML\n",
                    okBytes(browser.get(reportPage)));
        zeq::test::measure("página del informe de 2 MiB", options.runs,
                           [&] { return okBytes(browser.get(reportPage)) > 0 ? 1u : 0u; });
        zeq::test::HttpResponse first = browser.get("/");
        std::size_t listed = 0;
        for (std::size_t at = first.body.find("/informe/ZEQ-"); at != std::string::npos;
             at = first.body.find("/informe/ZEQ-", at + 1)) {
            ++listed;
        }
        std::printf("lista: %zu bytes de HTML, %zu informes enlazados\n", okBytes(first), listed);
        if (std::getenv("ZEQ_BENCH_LOG")) {
            std::printf("%s\n%s\n", first.body.c_str(),
                        zeq::test::readFile(dir.file("server.log")).c_str());
        }
        zeq::test::measure("lista, primera página", options.runs,
                           [&] { return okBytes(browser.get("/")) > 0 ? 50u : 0u; });
        std::string typed = zeq::test::lowerWithoutHyphens(codes[codes.size() / 3]);
        zeq::test::measure(("búsqueda del código \"" + typed + "\"").c_str(), options.runs, [&] {
            zeq::test::HttpResponse found = browser.get("/?q=" + typed);
            okBytes(found);
            return found.body.find(codes[codes.size() / 3]) != std::string::npos ? 1u : 0u;
        });
        zeq::test::measure("búsqueda de texto \"optiplex\"", options.runs,
                           [&] { return okBytes(browser.get("/?q=optiplex")) > 0 ? 50u : 0u; });
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n%s", error.what(),
                     zeq::test::readFile(dir.file("server.log")).c_str());
        return 1;
    }
    return 0;
}
