// zeq-server behind Debian's nginx with the repository's site file
// (deploy/nginx/zeq-server.conf, only ports, paths and certificates replaced):
// the wire contract as the Windows client checks it, over TLS through nginx;
// the 2 MiB limit; the per-address limits that let an office of 50 PCs behind
// one address through and refuse a flood with 429 and Retry-After; and the
// real client address in the server's store and log.
//
// Every test acts from loopback source addresses of its own (127.0.0.x), so
// the per-address limits of one test do not touch another.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "base/crypto.h"
#include "support/http_client.h"
#include "support/nginx_suite.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"
#include "support/wire_contract.h"

namespace zeq {
namespace {

using test::HttpClient;
using test::HttpResponse;

constexpr std::size_t kMax = test::kClientMaxReportBytes;

// The site's numbers (deploy/nginx/zeq-server.conf), as the tests rely on them.
constexpr int kBurst = 120;            // limit_req burst, nodelay
constexpr double kRatePerSecond = 3.0; // limit_req_zone rate=180r/m
constexpr int kConnectionsPerAddress = 60;
const std::string kRetryAfter = "60";

// One zeq-server on plain HTTP at 127.0.0.1 and nginx in front of it, for the
// whole suite; every test counts the reports it adds.
class BehindNginx : public test::NginxSuite {
  protected:
    void TearDown() override {
        if (HasFailure()) {
            std::printf("nginx error log:\n%s\n", nginx_->errorLog().c_str());
            std::printf("nginx access log:\n%s\n", nginx_->accessLog().c_str());
        }
    }

    static std::int64_t stored() {
        return test::storedReports(database());
    }
    static std::optional<std::string> storedBody(const std::string& code) {
        return ReportStore(database(), ReportStore::Access::ReadOnly).body(code);
    }
    // A client of nginx's HTTPS port, from a loopback address of its own.
    static HttpClient client(const std::string& source) {
        return HttpClient(nginx_->port(), kCa, source);
    }
    static std::string token(HttpClient& from) {
        HttpResponse response = from.getToken();
        EXPECT_EQ(response.status, 200) << response.body;
        return response.body;
    }
};

// Whether the server's log has a request line from this client address.
bool logged(const std::string& log, const std::string& address, const std::string& request,
            int status) {
    std::string pattern = "Z " + address + " " + request + " " + std::to_string(status) + " ";
    return log.find(pattern) != std::string::npos;
}

// Starts n threads that run body(i) at the same moment; returns when all end.
void together(int n, const std::function<void(int)>& body) {
    std::mutex mutex;
    std::condition_variable ready;
    int waiting = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&, i] {
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (++waiting == n) {
                    ready.notify_all();
                }
                ready.wait(lock, [&] { return waiting == n; });
            }
            body(i);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

TEST_F(BehindNginx, TheSiteIsTheRepositorysWithOnlyPortsPathsAndCertificatesReplaced) {
    std::string site = test::readFile(kSite);
    for (const auto& [from, to] : test::NginxProcess::siteSubstitutions(
             nginx_->port(), nginx_->ipv6Port(), server_->port(), kCerts)) {
        std::size_t at;
        while ((at = site.find(from)) != std::string::npos) {
            site.replace(at, from.size(), to);
        }
    }
    EXPECT_EQ(nginx_->site(), site);
}

TEST_F(BehindNginx, TheWireContractHoldsAsTheClientChecksIt) {
    HttpClient pc = client("127.0.0.2");
    // Debian's nginx.conf says "gzip on"; the site must turn it off.
    const test::HeaderList compressed = {{"Accept-Encoding", "gzip, deflate"}};

    HttpResponse tokenAnswer =
        pc.request("GET", "/api/token.php", {{"Content-Type", "application/json"}, compressed[0]});
    ASSERT_EQ(tokenAnswer.status, 200) << tokenAnswer.body;
    EXPECT_TRUE(test::isClientToken(tokenAnswer.body)) << tokenAnswer.body;
    EXPECT_EQ(tokenAnswer.header("content-type").rfind("text/plain", 0), 0u);

    std::string report = test::sampleReport(test::newReportId(), 100000);
    std::int64_t before = stored();
    HttpResponse codeAnswer = pc.postReport(tokenAnswer.body, report);
    ASSERT_EQ(codeAnswer.status, 200) << codeAnswer.body;
    EXPECT_TRUE(test::isClientReceipt(codeAnswer.body)) << codeAnswer.body;
    EXPECT_EQ(codeAnswer.header("content-type").rfind("text/plain", 0), 0u);
    EXPECT_EQ(stored(), before + 1);
    EXPECT_TRUE(storedBody(codeAnswer.body) == report);
    // The client's retry with the same bytes gets the same code.
    EXPECT_EQ(pc.postReport(token(pc), report).body, codeAnswer.body);

    HttpResponse page = pc.request("GET", "/privacy.php", compressed);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body.rfind("<!DOCTYPE html>", 0), 0u);

    for (const HttpResponse* answer : {&tokenAnswer, &codeAnswer, &page}) {
        EXPECT_TRUE(answer->header("content-encoding").empty());
        EXPECT_TRUE(answer->header("location").empty());
    }
    for (const HttpResponse* answer : {&tokenAnswer, &codeAnswer}) {
        EXPECT_LE(answer->body.size(), test::kClientResponseLimit);
    }
    // Anything else: 404 from nginx, never a redirect.
    HttpResponse other = pc.request("GET", "/api/");
    EXPECT_EQ(other.status, 404);
    EXPECT_TRUE(other.header("location").empty());
}

TEST_F(BehindNginx, SpeaksTls12WithSuitesOldWindowsKnowsAndNothingOlder) {
    // Debian's nginx.conf allows TLS 1.0 and 1.1; the site must not.
    EXPECT_EQ(test::tlsOffersAnsweredWrongly(nginx_->port(), kCa), std::vector<std::string>{});
}

// nginx's small header buffers: a head of at most 4 buffers of 4 KiB, no
// line longer than 4 KiB; the server never sees a longer one.
TEST_F(BehindNginx, LongRequestHeadsAreRefusedByNginx) {
    struct Case {
        int lines;
        std::size_t lineBytes;
        int status;
    };
    const Case cases[] = {
        {1, 3000, 200},
        {8, 1000, 200},
        {1, 5000, 400},
        {40, 1000, 400},
    };
    HttpClient pc = client("127.0.0.13");
    for (const Case& c : cases) {
        test::HeaderList headers;
        for (int i = 0; i < c.lines; ++i) {
            headers.emplace_back("X-Extra-" + std::to_string(i), std::string(c.lineBytes, 'a'));
        }
        HttpResponse response = pc.request("GET", "/api/token.php", headers);
        EXPECT_EQ(response.status, c.status) << c.lines << " lines of " << c.lineBytes;
    }
}

// A body sent whole, framed with Content-Length or chunked (which nginx reads
// whole and passes on with a Content-Length).
HttpResponse sendReport(HttpClient& from, const std::string& token, const std::string& body,
                        bool chunked) {
    auto connection = from.connect();
    if (!connection) {
        return {};
    }
    test::HeaderList headers = {{"Content-Type", "application/json"}, {"X-ZEQ-Token", token}};
    std::string framed = body;
    if (chunked) {
        headers.emplace_back("Transfer-Encoding", "chunked");
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", body.size());
        framed = size + body + "\r\n0\r\n\r\n";
    } else {
        headers.emplace_back("Content-Length", std::to_string(body.size()));
    }
    connection->write(HttpClient::requestHead("POST", "/api/report.php", headers));
    connection->writeUnlessAnswered(framed);
    return connection->readResponse();
}

TEST_F(BehindNginx, TwoMiBAreStoredAndOneByteMoreIsRefusedByNginx) {
    struct Case {
        std::size_t size;
        bool chunked;
        int status;
    };
    const Case cases[] = {
        {kMax, false, 200},         {kMax + 1, false, 413}, {kMax - 1, false, 200},
        {kMax + 50000, false, 413}, {kMax, true, 200},      {kMax + 1, true, 413},
    };
    HttpClient pc = client("127.0.0.6");
    for (const Case& c : cases) {
        std::string what = std::to_string(c.size) + (c.chunked ? " bytes chunked" : " bytes");
        std::string report = test::sampleReport(test::newReportId(), c.size);
        std::int64_t before = stored();
        HttpResponse response = sendReport(pc, token(pc), report, c.chunked);
        EXPECT_EQ(response.status, c.status) << what << ": " << response.body;
        EXPECT_LE(response.body.size(), test::kClientResponseLimit) << what;
        if (c.status == 200) {
            EXPECT_TRUE(test::isClientReceipt(response.body)) << what << ": " << response.body;
            EXPECT_EQ(stored(), before + 1) << what;
            EXPECT_TRUE(storedBody(response.body) == report) << what;
        } else {
            EXPECT_EQ(stored(), before) << what;
        }
    }
}

// The server refuses these from the head; nginx has already read the whole
// body and is sending it on. The client must get the server's answer, never
// nginx's 502 for a server that closed early.
TEST_F(BehindNginx, ARefusedReportOfTwoMiBGetsTheServersAnswerNot502) {
    constexpr int kClients = 4, kRounds = 5;
    HttpClient pc = client("127.0.0.11");
    std::string spent = token(pc);
    ASSERT_EQ(pc.postReport(spent, test::sampleReport(test::newReportId())).status, 200);
    struct Case {
        std::string what;
        test::HeaderList headers;
        int status;
    };
    const std::vector<Case> cases = {
        {"malformed token", {{"X-ZEQ-Token", "abc"}}, 403},
        {"spent token", {{"X-ZEQ-Token", spent}}, 403},
        {"no token", {}, 401},
    };
    std::string report = test::sampleReport(test::newReportId(), kMax);
    std::int64_t before = stored();
    // Twenty times each, four clients at once: against a server that answers
    // and closes at once, nginx's 502 came for about one request in ten when
    // sent one at a time (it depends on how much of the body nginx has passed
    // on by then), and for about one in four like this.
    std::mutex mutex;
    std::map<std::string, std::map<int, int>> statuses; // case -> status -> count
    together(kClients, [&](int) {
        for (int round = 0; round < kRounds; ++round) {
            for (const Case& c : cases) {
                test::HeaderList headers = c.headers;
                headers.emplace_back("Content-Type", "application/json");
                int status = pc.request("POST", "/api/report.php", headers, report).status;
                std::lock_guard<std::mutex> lock(mutex);
                ++statuses[c.what][status];
            }
        }
    });
    for (const Case& c : cases) {
        EXPECT_EQ(statuses[c.what], (std::map<int, int>{{c.status, kClients * kRounds}})) << c.what;
    }
    EXPECT_EQ(stored(), before);
}

TEST_F(BehindNginx, FiftyPcsBehindOneAddressReportingAtOnceAreAllStored) {
    const std::string office = "127.0.0.3";
    constexpr int kPcs = 50;
    std::int64_t before = stored();
    std::vector<std::string> reports(kPcs), codes(kPcs);
    std::vector<int> tokenStatus(kPcs), reportStatus(kPcs);
    for (int i = 0; i < kPcs; ++i) {
        reports[static_cast<std::size_t>(i)] = test::sampleReport(test::newReportId(), 100000);
    }
    together(kPcs, [&](int i) {
        auto at = static_cast<std::size_t>(i);
        HttpClient pc = client(office);
        HttpResponse tokenAnswer = pc.getToken();
        tokenStatus[at] = tokenAnswer.status;
        if (tokenAnswer.status == 200) {
            HttpResponse receipt = pc.postReport(tokenAnswer.body, reports[at]);
            reportStatus[at] = receipt.status;
            codes[at] = receipt.body;
        }
    });
    std::set<std::string> distinct;
    for (int i = 0; i < kPcs; ++i) {
        auto at = static_cast<std::size_t>(i);
        EXPECT_EQ(tokenStatus[at], 200) << "PC " << i;
        EXPECT_EQ(reportStatus[at], 200) << "PC " << i << ": " << codes[at];
        if (reportStatus[at] == 200) {
            distinct.insert(codes[at]);
            std::optional<ReportSummary> summary = test::findListed(database(), codes[at]);
            ASSERT_TRUE(summary) << codes[at];
            EXPECT_EQ(summary->clientAddress, office);
        }
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kPcs));
    EXPECT_EQ(stored(), before + kPcs);
}

TEST_F(BehindNginx, AFloodFromOneAddressIsRefusedWith429AndRetryAfterAndOthersAreServed) {
    const std::string flooder = "127.0.0.4";
    constexpr int kThreads = 4, kEach = 75; // 300 token requests, as fast as they go
    std::mutex mutex;
    std::map<int, int> statuses;
    int withRetryAfter = 0;
    HttpResponse aRefusal;
    auto start = std::chrono::steady_clock::now();
    together(kThreads, [&](int) {
        HttpClient pc = client(flooder);
        for (int i = 0; i < kEach; ++i) {
            HttpResponse response = pc.getToken();
            std::lock_guard<std::mutex> lock(mutex);
            ++statuses[response.status];
            if (response.status == 429) {
                withRetryAfter += response.header("retry-after") == kRetryAfter ? 1 : 0;
                aRefusal = response;
            }
        }
    });
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int served = statuses[200], refused = statuses[429];
    EXPECT_EQ(served + refused, kThreads * kEach) << "only 200 and 429 expected";
    EXPECT_GT(refused, 0);
    // The burst and the rate, and no more (one spare for a refill at the edge).
    EXPECT_GE(served, kBurst);
    EXPECT_LE(served, kBurst + 1 + static_cast<int>(kRatePerSecond * seconds) + 1)
        << "in " << seconds << " s";
    EXPECT_EQ(withRetryAfter, refused);
    EXPECT_EQ(aRefusal.header("content-type"), "text/plain; charset=utf-8");
    EXPECT_FALSE(aRefusal.body.empty());
    EXPECT_LE(aRefusal.body.size(), test::kClientResponseLimit);

    // Another address is served at once.
    HttpClient neighbour = client("127.0.0.5");
    std::int64_t before = stored();
    HttpResponse tokenAnswer = neighbour.getToken();
    ASSERT_EQ(tokenAnswer.status, 200);
    HttpResponse receipt =
        neighbour.postReport(tokenAnswer.body, test::sampleReport(test::newReportId()));
    EXPECT_EQ(receipt.status, 200) << receipt.body;
    EXPECT_EQ(stored(), before + 1);
}

TEST_F(BehindNginx, MoreRequestsInProgressFromOneAddressThanTheSiteAllowsGet429) {
    // Report heads whose bodies never come: each holds a request in progress.
    // nginx counts a request once it has read its head, and then, about to
    // read the body, answers "100 Continue": so once every held connection
    // has that, all are counted (nginx has two workers; without waiting, a
    // later request could be counted before the last held one).
    HttpClient pc = client("127.0.0.8");
    std::vector<std::unique_ptr<test::Connection>> holding;
    for (int i = 0; i < kConnectionsPerAddress; ++i) {
        auto connection = pc.connect();
        ASSERT_TRUE(connection) << i;
        connection->write(HttpClient::requestHead(
            "POST", "/api/report.php",
            {{"X-ZEQ-Token", "abc"}, {"Content-Length", "1000"}, {"Expect", "100-continue"}}));
        holding.push_back(std::move(connection));
    }
    for (std::size_t i = 0; i < holding.size(); ++i) {
        std::string interim = holding[i]->readUntil("\r\n\r\n");
        ASSERT_EQ(interim.rfind("HTTP/1.1 100 Continue\r\n", 0), 0u) << i << ": " << interim;
    }
    HttpResponse refused = pc.getToken();
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.header("retry-after"), kRetryAfter);
    EXPECT_NE(nginx_->errorLog().find("limiting connections by zone \"zeq_connections\""),
              std::string::npos);
    for (const auto& connection : holding) {
        EXPECT_FALSE(connection->answerPending()) << "a held request was answered";
    }
    // Another address is not affected.
    EXPECT_EQ(client("127.0.0.12").getToken().status, 200);
    // Once they are gone, the address is served again as soon as nginx has
    // seen them close (a few tries, within limit_req's burst).
    holding.clear();
    HttpResponse again;
    for (int tries = 0; tries < 50 && again.status != 200; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        again = pc.getToken();
    }
    EXPECT_EQ(again.status, 200);
}

TEST_F(BehindNginx, TheStoredAndLoggedAddressIsTheClientsNotNginxs) {
    struct Case {
        std::string source;
        std::string forwardedFor; // sent by the client; empty: none
    };
    const Case cases[] = {
        {"127.0.0.7", ""},
        {"127.0.0.9", "203.0.113.9"},
        {"127.0.0.10", "127.0.0.1, 198.51.100.7"},
    };
    std::map<std::string, std::string> codes; // source address -> receipt code
    for (const Case& c : cases) {
        HttpClient pc = client(c.source);
        test::HeaderList headers = {{"X-ZEQ-Token", token(pc)}};
        if (!c.forwardedFor.empty()) {
            headers.emplace_back("X-Forwarded-For", c.forwardedFor);
        }
        HttpResponse receipt =
            pc.request("POST", "/api/report.php", headers, test::sampleReport(test::newReportId()));
        ASSERT_EQ(receipt.status, 200) << c.source << ": " << receipt.body;
        codes[c.source] = receipt.body;
        std::optional<ReportSummary> summary = test::findListed(database(), receipt.body);
        ASSERT_TRUE(summary);
        EXPECT_EQ(summary->clientAddress, c.source) << "forwarded for " << c.forwardedFor;
    }
    // The technician's listing shows them too.
    std::string listing;
    ASSERT_EQ(test::runProgram({kBinary, "list", "--db", database()}, &listing), 0);
    std::string log = server_->log();
    for (const Case& c : cases) {
        std::regex row(codes[c.source] + " .* " +
                       std::regex_replace(c.source, std::regex("\\."), "\\.") + "\n");
        EXPECT_TRUE(std::regex_search(listing, row)) << c.source << " not listed:\n" << listing;
        EXPECT_TRUE(logged(log, c.source, "GET /api/token.php", 200)) << c.source;
        EXPECT_TRUE(logged(log, c.source, "POST /api/report.php", 200)) << c.source;
    }
    // Nothing reaches the server without a forwarded address: no line is
    // nginx's own 127.0.0.1 (no test here acts from it).
    EXPECT_EQ(log.find("Z 127.0.0.1 "), std::string::npos) << log;
}

} // namespace
} // namespace zeq
