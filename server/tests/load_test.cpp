// Load test: many concurrent clients submitting reports the way the Windows
// tool does (a new TLS connection for the token, another for the report), with
// a restart of the server in the middle of the run. Clients retry failed
// submissions with the same bytes. At the end every report must be stored
// exactly once, under the code its client was given, and all codes must differ.
//
//   zeq-server-load --server BIN --certs DIR [--clients 16] [--submissions 2000]
//                   [--size 100000] [--restart 1] [--nginx SITE] [--addresses N]
//                   [--browse 0|1]
//
// --nginx SITE: the server listens on plain HTTP at 127.0.0.1 and Debian's
// nginx, run with that site file (deploy/nginx/zeq-server.conf; see
// support/nginx_process.h), stands in front of it for the whole run, the
// server's restart included; the clients speak TLS to nginx.
// --addresses N: the submissions come from N loopback source addresses in
// turn (submission n from the (n mod N)-th of 127.1.0.1, 127.1.0.2, ...), as
// from that many PCs, each retrying from its own. Default: 1, 127.0.0.1 (more
// than the server's quota of new reports per address and hour allows in a
// long run); with --nginx, one address per submission, since the site's
// per-address limits (a burst of 120 requests, then 3 a second) would refuse
// a load test from a few addresses: one client here makes 20 to 40 requests
// a second.
//
// --browse 1: the server's console is on as well, and a technician browses it
// for the whole run: the list, then the newest report's page, again and again
// (logging in again after the restart), so that the figures show what a
// technician reading reports costs the uploads.
//
// Prints submissions per second, latency percentiles and CPU time per
// submission (the server's, nginx's, the clients'); exits 0 when every check
// holds.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "store/receipt_code.h"
#include "store/report_store.h"
#include "support/console_session.h"
#include "support/http_client.h"
#include "support/nginx_process.h"
#include "support/sample_report.h"
#include "support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using zeq::test::HttpClient;
using zeq::test::HttpResponse;

struct Options {
    std::string server;
    std::string certs;
    int clients = 16;
    int submissions = 2000;
    std::size_t size = 100000;
    bool restart = true;
    std::string nginxSite; // empty: the server serves TLS itself
    int addresses = 0;     // 0: the mode's default
    bool browse = false;
    int consolePort = 0; // with browse: the same port after the restart
};

struct Outcome {
    std::string code;
    double millis = 0;
    int attempts = 0;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i], value = argv[i + 1];
        if (name == "--server") {
            options.server = value;
        } else if (name == "--certs") {
            options.certs = value;
        } else if (name == "--clients") {
            options.clients = std::stoi(value);
        } else if (name == "--submissions") {
            options.submissions = std::stoi(value);
        } else if (name == "--size") {
            options.size = std::stoul(value);
        } else if (name == "--restart") {
            options.restart = value != "0";
        } else if (name == "--nginx") {
            options.nginxSite = value;
        } else if (name == "--addresses") {
            options.addresses = std::stoi(value);
        } else if (name == "--browse") {
            options.browse = value != "0";
        } else {
            return false;
        }
    }
    if (options.addresses == 0) {
        options.addresses = options.nginxSite.empty() ? 1 : options.submissions;
    }
    return argc % 2 == 1 && !options.server.empty() && !options.certs.empty() &&
           options.clients > 0 && options.submissions > 0 && options.addresses > 0 &&
           options.addresses <= 250 * 256;
}

// The k-th source address (from 0): 127.1.0.1 to 127.1.0.250, 127.1.1.1, ...;
// empty for the single address of the direct default, which stays unbound.
std::string sourceAddress(const Options& options, int k) {
    if (options.addresses == 1 && options.nginxSite.empty()) {
        return "";
    }
    return "127.1." + std::to_string(k / 250) + "." + std::to_string(k % 250 + 1);
}

std::vector<std::string> serveArgs(const Options& options, const zeq::test::TempDir& dir,
                                   int port) {
    std::vector<std::string> args;
    if (!options.nginxSite.empty()) {
        // Plain HTTP on the loopback, for nginx.
        args = {options.server,       "serve", "--address",           "127.0.0.1", "--port",
                std::to_string(port), "--db",  dir.file("reports.db")};
    } else {
        args = {options.server, "serve",
                "--port",       std::to_string(port),
                "--cert",       options.certs + "/server.pem",
                "--key",        options.certs + "/server.key",
                "--db",         dir.file("reports.db")};
    }
    if (options.browse) {
        args.insert(args.end(), {"--console-port", std::to_string(options.consolePort)});
    }
    return args;
}

const std::string kTechnician = "carga";
const std::string kPassword = "contraseña de la prueba de carga";

// The newest report's page, as linked from the list; empty when none is listed.
std::string newestReportPage(const std::string& list) {
    std::size_t at = list.find("href=\"/informe/ZEQ-");
    return at == std::string::npos ? std::string() : list.substr(at + 6, 27);
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    std::size_t index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: zeq-server-load --server BIN --certs DIR [--clients N] "
                             "[--submissions N] [--size BYTES] [--restart 0|1] "
                             "[--nginx SITE] [--addresses N] [--browse 0|1]\n");
        return 2;
    }
    zeq::test::ignoreBrokenPipes();
    zeq::test::TempDir dir;
    if (options.browse) {
        options.consolePort = zeq::test::freeLoopbackPort();
        zeq::ReportStore create(dir.file("reports.db"), zeq::ReportStore::Access::Service);
        if (!zeq::test::addTechnician(options.server, dir.file("reports.db"), kTechnician,
                                      kPassword)) {
            std::fprintf(stderr, "cannot add the technician\n");
            return 1;
        }
    }
    auto server = std::make_unique<zeq::test::ServerProcess>(serveArgs(options, dir, 0),
                                                             dir.file("server.log"));
    const int port = server->port();
    std::unique_ptr<zeq::test::NginxProcess> nginx;
    if (!options.nginxSite.empty()) {
        nginx = std::make_unique<zeq::test::NginxProcess>(options.nginxSite, port, options.certs);
    }
    const int clientPort = nginx ? nginx->port() : port;

    std::vector<Outcome> outcomes(static_cast<std::size_t>(options.submissions));
    std::atomic<int> next{0}, done{0}, failures{0}, refusals{0};
    std::mutex errorsMutex;
    std::map<std::string, int> errors;
    auto note = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(errorsMutex);
        ++errors[what];
    };

    auto worker = [&] {
        HttpClient client(clientPort, options.certs + "/ca.pem");
        for (int n = next++; n < options.submissions; n = next++) {
            client.sourceAddress(sourceAddress(options, n % options.addresses));
            std::string id = zeq::test::reportIdFor(static_cast<unsigned long long>(n));
            std::string report = zeq::test::sampleReport(id, options.size);
            Outcome& outcome = outcomes[static_cast<std::size_t>(n)];
            auto start = Clock::now();
            // Retry as a user would, with growing pauses, for up to a minute.
            // A refusal (4xx) is a fault of the server here, not retried: a run
            // the server or nginx refuses (a quota, a rate limit) fails at
            // once instead of retrying into the time-out.
            bool refused = false;
            for (auto pause = 20ms; outcome.code.empty() && !refused && Clock::now() - start < 60s;
                 pause = std::min(pause * 2, std::chrono::milliseconds(500))) {
                ++outcome.attempts;
                HttpResponse token = client.getToken();
                if (token.status == 200) {
                    HttpResponse receipt = client.postReport(token.body, report);
                    if (receipt.status == 200 && zeq::isReceiptCode(receipt.body)) {
                        outcome.code = receipt.body;
                        break;
                    }
                    // The body's first line: a server's short text, not nginx's page.
                    std::string text = receipt.body.substr(0, receipt.body.find('\n'));
                    note("report: " + std::to_string(receipt.status) +
                         (text.rfind('<', 0) == 0 ? "" : " " + text));
                    refused = receipt.status >= 400 && receipt.status < 500;
                } else {
                    note("token: " + std::to_string(token.status));
                    refused = token.status >= 400 && token.status < 500;
                }
                if (refused) {
                    ++refusals;
                } else {
                    std::this_thread::sleep_for(pause);
                }
            }
            outcome.millis =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (outcome.code.empty()) {
                ++failures;
            }
            ++done;
        }
    };

    // The technician: pages fetched until every submission has ended; after a
    // failed fetch (the restart), a new login.
    std::atomic<long> pagesFetched{0}, pageFailures{0};
    auto technician = [&] {
        std::unique_ptr<zeq::test::ConsoleSession> browser;
        while (done < options.submissions) {
            if (!browser) {
                browser = std::make_unique<zeq::test::ConsoleSession>(options.consolePort);
                if (!browser->login(kTechnician, kPassword)) {
                    browser.reset();
                    std::this_thread::sleep_for(50ms);
                    continue;
                }
            }
            HttpResponse list = browser->get("/");
            std::string page = list.status == 200 ? newestReportPage(list.body) : "";
            HttpResponse report = page.empty() ? list : browser->get(page);
            if (list.status != 200 || report.status != 200) {
                ++pageFailures;
                browser.reset();
                continue;
            }
            pagesFetched += page.empty() ? 1 : 2;
        }
    };

    auto runStart = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < options.clients; ++i) {
        threads.emplace_back(worker);
    }
    std::thread browsing;
    if (options.browse) {
        browsing = std::thread(technician);
    }
    double downtime = 0;
    double serverCpu = 0;
    long peakKiB = 0;
    if (options.restart) {
        while (done < options.submissions / 2) {
            std::this_thread::sleep_for(5ms);
        }
        auto stopAt = Clock::now();
        serverCpu += server->cpuSeconds();
        peakKiB = std::max(peakKiB, server->peakMemoryKiB());
        server->signal(SIGTERM);
        int status = server->wait();
        if (status != 0) {
            std::fprintf(stderr, "server exit status %d on restart\n", status);
            failures++;
        }
        server = std::make_unique<zeq::test::ServerProcess>(serveArgs(options, dir, port),
                                                            dir.file("server.log"));
        downtime = std::chrono::duration<double, std::milli>(Clock::now() - stopAt).count();
    }
    for (auto& thread : threads) {
        thread.join();
    }
    if (browsing.joinable()) {
        browsing.join();
    }
    double seconds = std::chrono::duration<double>(Clock::now() - runStart).count();
    double nginxCpu = nginx ? nginx->cpuSeconds() : 0;
    serverCpu += server->cpuSeconds();
    peakKiB = std::max(peakKiB, server->peakMemoryKiB());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double clientCpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    server->signal(SIGTERM);
    int lastStatus = server->wait();

    // Every accepted report stored exactly once, under its own code.
    zeq::ReportStore store(dir.file("reports.db"), zeq::ReportStore::Access::ReadOnly);
    std::map<std::string, zeq::ReportSummary> listed;
    for (zeq::ReportSummary& summary : store.list()) {
        listed.emplace(summary.code, std::move(summary));
    }
    std::set<std::string> codes;
    int retried = 0, mismatched = 0;
    std::vector<double> latencies;
    for (int n = 0; n < options.submissions; ++n) {
        const Outcome& outcome = outcomes[static_cast<std::size_t>(n)];
        latencies.push_back(outcome.millis);
        retried += outcome.attempts > 1 ? 1 : 0;
        if (outcome.code.empty()) {
            continue;
        }
        codes.insert(outcome.code);
        auto summary = listed.find(outcome.code);
        std::string id = zeq::test::reportIdFor(static_cast<unsigned long long>(n));
        if (summary == listed.end() || summary->second.reportId != id ||
            store.body(outcome.code) != zeq::test::sampleReport(id, options.size)) {
            ++mismatched;
        }
    }
    auto rows = static_cast<std::int64_t>(listed.size());

    std::printf("clients %d, submissions %d, report size %zu bytes, restart %s\n", options.clients,
                options.submissions, options.size, options.restart ? "yes" : "no");
    std::printf("%s, from %d source address%s\n",
                nginx ? "through nginx with the site file" : "direct to the server (TLS)",
                options.addresses, options.addresses == 1 ? "" : "es");
    std::printf("wall time %.2f s, %.1f submissions/s (%.1f MB/s of reports)\n", seconds,
                options.submissions / seconds,
                options.submissions * static_cast<double>(options.size) / seconds / 1e6);
    std::printf("latency per submission (token + report, retries included): p50 %.1f ms, "
                "p99 %.1f ms, max %.1f ms\n",
                percentile(latencies, 0.50), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
    if (nginx) {
        std::printf("CPU per submission: server %.2f ms, nginx %.2f ms, clients %.2f ms "
                    "(all on this machine)\n",
                    serverCpu * 1000 / options.submissions, nginxCpu * 1000 / options.submissions,
                    clientCpu * 1000 / options.submissions);
    } else {
        std::printf("CPU per submission: server %.2f ms, clients %.2f ms (both on this machine)\n",
                    serverCpu * 1000 / options.submissions, clientCpu * 1000 / options.submissions);
    }
    if (options.browse) {
        std::printf("console pages fetched meanwhile: %ld (%.1f/s), failed fetches %ld\n",
                    pagesFetched.load(), static_cast<double>(pagesFetched.load()) / seconds,
                    pageFailures.load());
    }
    std::printf("server peak resident memory %.1f MiB\n", static_cast<double>(peakKiB) / 1024);
    if (options.restart) {
        std::printf("restart: server down %.0f ms; %d submissions needed more than one attempt\n",
                    downtime, retried);
    }
    for (const auto& [what, count] : errors) {
        std::printf("  failed attempts: %dx %s\n", count, what.c_str());
    }
    std::printf("stored rows %lld, distinct codes %zu, failed submissions %d, refusals %d, "
                "mismatches %d, last exit %d\n",
                static_cast<long long>(rows), codes.size(), failures.load(), refusals.load(),
                mismatched, lastStatus);

    bool ok = failures == 0 && refusals == 0 && mismatched == 0 && rows == options.submissions &&
              codes.size() == static_cast<std::size_t>(options.submissions) && lastStatus == 0;
    std::printf("%s\n", ok ? "OK: every report stored exactly once, all codes distinct" : "FAILED");
    return ok ? 0 : 1;
}
