// The service served directly over TLS, tried as an attacker would from one
// loopback address, while other addresses (127.0.0.x) stand for everyone else.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "store/report_store.h"
#include "support/http_client.h"
#include "support/sample_report.h"
#include "support/server_probe.h"
#include "support/server_process.h"
#include "support/stored_reports.h"

namespace zeq {
namespace {

using namespace std::chrono_literals;
using test::HttpClient;
using test::HttpResponse;
using SteadyClock = std::chrono::steady_clock;

const std::string kBinary = ZEQ_SERVER_BINARY;
const std::string kCerts = ZEQ_TEST_CERT_DIR;
const std::string kCa = kCerts + "/ca.pem";
// The first bytes of a TLS ClientHello record: a handshake that never goes on.
const std::string kStalledHandshake("\x16\x03\x01\x02\x00\x01", 6);

// Raw sockets closed with the object.
struct Sockets {
    std::vector<int> fds;
    ~Sockets() {
        for (int fd : fds) {
            ::close(fd);
        }
    }
};

// What one address holds open against the server.
struct Attack {
    Sockets idle;
    Sockets stalledHandshakes;
    std::vector<std::unique_ptr<test::Connection>> slowHeads;
    std::vector<std::unique_ptr<test::Connection>> slowBodies;
};

class HttpLimits : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ignoreBrokenPipes();
    }
    std::unique_ptr<test::ServerProcess> start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {kBinary,  "serve",
                                         "--port", "0",
                                         "--cert", kCerts + "/server.pem",
                                         "--key",  kCerts + "/server.key",
                                         "--db",   dir_.file("reports.db")};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<test::ServerProcess>(args, dir_.file("server.log"));
    }
    std::int64_t stored() const {
        return test::storedReports(dir_.file("reports.db"));
    }
    std::string log() const {
        return test::readFile(dir_.file("server.log"));
    }
    // The server logs an exchange once its answer is written, which may be
    // just after the client has read it: waits (up to 5 s) for the line.
    bool logShows(const std::string& text) const {
        for (int i = 0; i < 500; ++i) {
            if (log().find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // Opens, from 127.0.0.1, uploads that never finish their body, heads that
    // never end, TLS handshakes that never go on and sockets that say nothing.
    static void attackFrom127001(int port, Attack& attack, int idle, int heads, int bodies) {
        HttpClient client(port, kCa);
        std::vector<std::string> tokens;
        for (int i = 0; i < bodies; ++i) {
            tokens.push_back(client.getToken().body);
        }
        for (const std::string& token : tokens) {
            if (auto connection = client.connect()) {
                connection->write(HttpClient::requestHead(
                    "POST", "/api/report.php",
                    {{"X-ZEQ-Token", token}, {"Content-Length", "100000"}}));
                connection->write(std::string(100, '{'));
                attack.slowBodies.push_back(std::move(connection));
            }
        }
        for (int i = 0; i < heads; ++i) {
            if (auto connection = client.connect()) {
                connection->write("POST /api/report.php HTTP/1.1\r\nHost: x\r\nX-Slow: ");
                attack.slowHeads.push_back(std::move(connection));
            }
            int fd = test::rawConnect(port);
            if (fd >= 0) {
                (void)::write(fd, kStalledHandshake.data(), kStalledHandshake.size());
                attack.stalledHandshakes.fds.push_back(fd);
            }
        }
        for (int i = 0; i < idle; ++i) {
            int fd = test::rawConnect(port);
            if (fd >= 0) {
                attack.idle.fds.push_back(fd);
            }
        }
    }

    test::TempDir dir_;
};

TEST_F(HttpLimits, OneAddressCannotStarveTheOthers) {
    struct Case {
        const char* what;
        std::vector<std::string> flags;
    };
    const Case cases[] = {
        {"the default cap per address", {}},
        // Every attacking connection admitted: the event loop alone must cope.
        {"no effective cap", {"--max-connections-per-client", "1000"}},
    };
    for (const Case& c : cases) {
        auto server = start(c.flags);
        Attack attack;
        attackFrom127001(server->port(), attack, 300, 40, 40);

        auto began = SteadyClock::now();
        HttpClient other(server->port(), kCa, "127.0.0.2");
        HttpResponse response =
            other.postReport(other.getToken().body, test::sampleReport(test::newReportId()));
        EXPECT_EQ(response.status, 200) << c.what << ": " << response.body;
        EXPECT_LT(SteadyClock::now() - began, 2s) << c.what;

        // The attacking address itself is served or refused, never kept waiting.
        began = SteadyClock::now();
        HttpClient same(server->port(), kCa);
        int status = same.getToken().status;
        EXPECT_TRUE(status == 200 || status == 0) << c.what << ": " << status;
        EXPECT_LT(SteadyClock::now() - began, 2s) << c.what;
    }
}

// Each phase of a connection has a deadline; each cut is logged with the
// address of the client that was cut.
TEST_F(HttpLimits, EveryPhaseIsCutAtItsDeadline) {
    auto server = start({"--head-timeout", "1", "--read-timeout", "1", "--body-timeout", "2"});
    HttpClient slowHead(server->port(), kCa, "127.0.0.4");
    auto head = slowHead.connect();
    ASSERT_TRUE(head);
    head->write("GET /api/token.php HTTP/1.1\r\nHost: x\r\n");

    int idle = test::rawConnect(server->port(), "127.0.0.3", 5);
    int stalled = test::rawConnect(server->port(), "127.0.0.5", 5);
    ASSERT_GE(idle, 0);
    ASSERT_GE(stalled, 0);
    ASSERT_EQ(::write(stalled, kStalledHandshake.data(), kStalledHandshake.size()),
              static_cast<ssize_t>(kStalledHandshake.size()));
    auto began = SteadyClock::now();
    EXPECT_TRUE(test::closedByPeer(idle)) << "idle socket";
    EXPECT_TRUE(test::closedByPeer(stalled)) << "stalled TLS handshake";
    EXPECT_EQ(head->readResponse().status, 0) << "unfinished head";
    EXPECT_LT(SteadyClock::now() - began, 4s);
    ::close(idle);
    ::close(stalled);

    // A body that trickles is answered 408 at the body deadline.
    HttpClient trickler(server->port(), kCa, "127.0.0.6");
    std::string token = trickler.getToken().body;
    auto upload = trickler.connect();
    ASSERT_TRUE(upload);
    upload->write(HttpClient::requestHead("POST", "/api/report.php",
                                          {{"X-ZEQ-Token", token}, {"Content-Length", "1000"}}));
    for (int i = 0; i < 40 && !upload->answerPending(100); ++i) {
        upload->write("{");
    }
    EXPECT_EQ(upload->readResponse().status, 408);

    for (const char* expected :
         {" 127.0.0.3 - (tls) 408", " 127.0.0.5 - (tls) 408", " 127.0.0.4 - (cabecera) 408",
          " 127.0.0.6 POST /api/report.php 408"}) {
        EXPECT_TRUE(logShows(expected)) << expected << "\n" << log();
    }
    EXPECT_EQ(stored(), 0);
}

TEST_F(HttpLimits, ABodyThatFallsSilentIsCutAtTheIdleDeadline) {
    // The body deadline is far away; only the silence can end this upload early.
    auto server = start({"--read-timeout", "1", "--body-timeout", "60"});
    HttpClient client(server->port(), kCa, "127.0.0.7");
    std::string token = client.getToken().body;
    auto upload = client.connect();
    ASSERT_TRUE(upload);
    upload->write(HttpClient::requestHead("POST", "/api/report.php",
                                          {{"X-ZEQ-Token", token}, {"Content-Length", "1000"}}));
    for (int i = 0; i < 15; ++i) { // 1.5 s of steady progress outlives one idle period
        upload->write("{");
        ASSERT_FALSE(upload->answerPending(100));
    }
    auto fellSilent = SteadyClock::now();
    EXPECT_EQ(upload->readResponse().status, 408);
    EXPECT_LT(SteadyClock::now() - fellSilent, 30s);
    EXPECT_TRUE(logShows(" 127.0.0.7 POST /api/report.php 408")) << log();
}

TEST_F(HttpLimits, ATermSignalEndsTheServerWhateverSlowClientsDo) {
    auto server = start({"--shutdown-timeout", "10"});
    Attack attack;
    attackFrom127001(server->port(), attack, 50, 20, 20);
    auto began = SteadyClock::now();
    server->signal(SIGTERM);
    EXPECT_EQ(server->wait(), 0) << log();
    EXPECT_LT(SteadyClock::now() - began, 3s);
    EXPECT_EQ(stored(), 0);
}

TEST_F(HttpLimits, MemoryComesBackAfterAFloodOfLargeHeads) {
    auto server = start();
    HttpClient client(server->port(), kCa, "127.0.0.7");
    ASSERT_EQ(
        client.postReport(client.getToken().body, test::sampleReport(test::newReportId())).status,
        200);
    long before = test::residentMemoryKiB(server->pid());

    // 400 heads of 50 header lines of 1 KB each (50 KB), 8 at a time; each is
    // refused with 431 once it passes the bound.
    std::string line = "X-Filler: " + std::string(1000, 'a') + "\r\n";
    std::string flood = "GET /api/token.php HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 50; ++i) {
        flood += line;
    }
    std::vector<std::thread> senders;
    std::atomic<int> refused{0};
    for (int t = 0; t < 8; ++t) {
        senders.emplace_back([&] {
            HttpClient sender(server->port(), kCa, "127.0.0.8");
            for (int i = 0; i < 50; ++i) {
                if (auto connection = sender.connect()) {
                    connection->writeUnlessAnswered(flood, 4096);
                    refused += connection->readResponse().status == 431 ? 1 : 0;
                }
            }
        });
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    EXPECT_GT(refused.load(), 0);
    // The server gives freed memory back within a few seconds.
    long after = test::residentMemoryKiB(server->pid());
    for (int i = 0; i < 100 && after > before + 8 * 1024; ++i) {
        std::this_thread::sleep_for(100ms);
        after = test::residentMemoryKiB(server->pid());
    }
    EXPECT_LE(after, before + 8 * 1024) << "before " << before << " KiB";
    EXPECT_LT(server->peakMemoryKiB(), before + 64 * 1024);
    EXPECT_TRUE(logShows(" 127.0.0.8 - (cabecera-grande) 431"));
}

// Report bodies are held in memory until complete: beyond 128 of them at once
// a new upload is refused instead of growing the process.
TEST_F(HttpLimits, UploadsBeyondTheBodiesHeldAtOnceGet503) {
    auto server = start();
    std::vector<std::unique_ptr<test::Connection>> uploads;
    for (int group = 0; group < 5; ++group) {
        HttpClient client(server->port(), kCa, "127.0.1." + std::to_string(group + 1));
        for (int i = 0; i < (group < 4 ? 32 : 1); ++i) {
            std::string token = client.getToken().body;
            auto connection = client.connect();
            ASSERT_TRUE(connection);
            connection->write(HttpClient::requestHead(
                "POST", "/api/report.php", {{"X-ZEQ-Token", token}, {"Content-Length", "100000"}}));
            connection->write("{");
            uploads.push_back(std::move(connection));
        }
    }
    // Whichever upload came last to the server is the one refused.
    std::vector<test::Connection*> answered;
    for (int round = 0; round < 100 && answered.empty(); ++round) {
        for (auto& upload : uploads) {
            if (upload->answerPending(round == 0 ? 0 : 1)) {
                answered.push_back(upload.get());
            }
        }
    }
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered.front()->readResponse().status, 503);
}

// A refusal decided from the head still takes in the body it was sent, so a
// client or proxy that sends it whole reads the answer instead of a reset.
TEST_F(HttpLimits, ARefusedBodyIsReadBeforeTheConnectionCloses) {
    auto server = start();
    HttpClient client(server->port(), kCa);
    std::string body(2 * 1024 * 1024, 'x');
    auto connection = client.connect();
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->write(
        HttpClient::requestHead(
            "POST", "/api/report.php",
            {{"X-ZEQ-Token", "nada"}, {"Content-Length", std::to_string(body.size())}}) +
        body));
    HttpResponse response = connection->readResponse();
    EXPECT_EQ(response.status, 403);
    EXPECT_EQ(response.body, "Token no válido.");
}

TEST_F(HttpLimits, QuotasBoundNewReportsPerAddressButNotRetries) {
    auto server = start({"--quota-reports", "2"});
    HttpClient office(server->port(), kCa, "127.0.0.9");
    std::string first = test::sampleReport(test::newReportId());
    HttpResponse stored1 = office.postReport(office.getToken().body, first);
    ASSERT_EQ(stored1.status, 200);
    ASSERT_EQ(
        office.postReport(office.getToken().body, test::sampleReport(test::newReportId())).status,
        200);

    HttpResponse third =
        office.postReport(office.getToken().body, test::sampleReport(test::newReportId()));
    EXPECT_EQ(third.status, 429);
    int retryAfter = std::atoi(third.header("retry-after").c_str());
    EXPECT_GE(retryAfter, 1);
    EXPECT_LE(retryAfter, 3660);

    HttpResponse retry = office.postReport(office.getToken().body, first);
    EXPECT_EQ(retry.status, 200);
    EXPECT_EQ(retry.body, stored1.body);

    HttpClient elsewhere(server->port(), kCa, "127.0.0.10");
    EXPECT_EQ(
        elsewhere.postReport(elsewhere.getToken().body, test::sampleReport(test::newReportId()))
            .status,
        200);
    EXPECT_EQ(stored(), 3);
}

TEST_F(HttpLimits, BelowTheDiskFloorNewReportsGet503AndStoredOnesStayReadable) {
    std::string report = test::sampleReport(test::newReportId());
    std::string code;
    {
        auto server = start();
        HttpClient client(server->port(), kCa);
        code = client.postReport(client.getToken().body, report).body;
    }
    auto server = start({"--min-free-disk-mb", "1073741823"});
    HttpClient client(server->port(), kCa);
    HttpResponse refused =
        client.postReport(client.getToken().body, test::sampleReport(test::newReportId()));
    EXPECT_EQ(refused.status, 503);
    EXPECT_FALSE(refused.header("retry-after").empty());
    EXPECT_EQ(stored(), 1);
    EXPECT_TRUE(logShows("poco espacio libre"));

    HttpResponse retry = client.postReport(client.getToken().body, report);
    EXPECT_EQ(retry.status, 200);
    EXPECT_EQ(retry.body, code);
    std::string shown;
    EXPECT_EQ(test::runProgram({kBinary, "show", code, "--db", dir_.file("reports.db")}, &shown),
              0);
    EXPECT_TRUE(shown == report);
}

} // namespace
} // namespace zeq
