// The service as a process: start-up checks, plain HTTP behind a proxy,
// restarts, graceful shutdown and retention at start.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <thread>

#include "store/report_store.h"
#include "support/http_client.h"
#include "support/sample_report.h"
#include "support/server_probe.h"
#include "support/server_process.h"
#include "support/stored_reports.h"
#include "base/clock.h"

namespace zeq {
namespace {

using namespace std::chrono_literals;
using test::HttpClient;
using test::HttpResponse;

const std::string kBinary = ZEQ_SERVER_BINARY;
const std::string kCerts = ZEQ_TEST_CERT_DIR;
const std::string kCa = kCerts + "/ca.pem";

std::vector<std::string> tlsArgs(const test::TempDir& dir, const std::string& port = "0") {
    return {kBinary,  "serve",
            "--port", port,
            "--cert", kCerts + "/server.pem",
            "--key",  kCerts + "/server.key",
            "--db",   dir.file("reports.db")};
}

// A connection with an upload under way: a fresh token, the head and the first
// half of the report sent.
std::unique_ptr<test::Connection> sendHalfOf(HttpClient& client, const std::string& report) {
    std::string token = client.getToken().body;
    auto connection = client.connect();
    if (connection) {
        connection->write(HttpClient::requestHead(
            "POST", "/api/report.php",
            {{"X-ZEQ-Token", token}, {"Content-Length", std::to_string(report.size())}}));
        connection->write(report.substr(0, report.size() / 2));
    }
    return connection;
}

class ServerLifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ignoreBrokenPipes();
    }
    std::int64_t stored() const {
        return test::storedReports(dir_.file("reports.db"));
    }
    test::TempDir dir_;
};

TEST_F(ServerLifecycle, PlainHttpIsOnlyForLoopbackBehindAProxy) {
    std::string err;
    for (const char* address : {"0.0.0.0", "192.0.2.1", "::"}) {
        EXPECT_EQ(test::runProgram({kBinary, "serve", "--address", address, "--port", "0", "--db",
                                    dir_.file("reports.db")},
                                   nullptr, &err),
                  1)
            << address;
        EXPECT_NE(err.find("proxy"), std::string::npos) << err;
    }
    EXPECT_EQ(test::runProgram({kBinary, "serve", "--port", "0", "--cert", kCerts + "/server.pem",
                                "--db", dir_.file("reports.db")},
                               nullptr, &err),
              1);
    EXPECT_NE(err.find("--cert y --key"), std::string::npos) << err;
}

TEST_F(ServerLifecycle, BehindTheProxyTheForwardedAddressIsKept) {
    test::ServerProcess server({kBinary, "serve", "--address", "127.0.0.1", "--port", "0", "--db",
                                dir_.file("reports.db")},
                               dir_.file("server.log"));
    EXPECT_NE(server.log().find("escuchando en http://127.0.0.1:"), std::string::npos);
    HttpClient client(server.port(), "");
    HttpResponse token = client.getToken();
    ASSERT_EQ(token.status, 200);
    std::string report = test::sampleReport(test::newReportId());
    HttpResponse receipt = client.request(
        "POST", "/api/report.php",
        {{"X-ZEQ-Token", token.body}, {"X-Forwarded-For", "198.51.100.7, 203.0.113.9"}}, report);
    ASSERT_EQ(receipt.status, 200) << receipt.body;
    EXPECT_EQ(test::findListed(dir_.file("reports.db"), receipt.body)->clientAddress,
              "203.0.113.9");

    // A forwarded value that is not an address is not believed.
    std::string other = test::sampleReport(test::newReportId());
    HttpResponse second = client.request(
        "POST", "/api/report.php",
        {{"X-ZEQ-Token", client.getToken().body}, {"X-Forwarded-For", "<script>"}}, other);
    ASSERT_EQ(second.status, 200);
    EXPECT_EQ(test::findListed(dir_.file("reports.db"), second.body)->clientAddress, "127.0.0.1");
}

TEST_F(ServerLifecycle, TokensOutliveARestartAndStaySpent) {
    std::string unused, spent;
    int port = 0;
    {
        test::ServerProcess server(tlsArgs(dir_), dir_.file("server.log"));
        port = server.port();
        HttpClient client(port, kCa);
        unused = client.getToken().body;
        spent = client.getToken().body;
        ASSERT_EQ(client.postReport(spent, test::sampleReport(test::newReportId())).status, 200);
        server.signal(SIGTERM);
        ASSERT_EQ(server.wait(), 0);
    }
    test::ServerProcess server(tlsArgs(dir_, std::to_string(port)), dir_.file("server.log"));
    HttpClient client(server.port(), kCa);
    HttpResponse reused = client.postReport(spent, test::sampleReport(test::newReportId()));
    EXPECT_EQ(reused.status, 403);
    EXPECT_EQ(reused.body, "Token ya usado.");
    EXPECT_EQ(client.postReport(unused, test::sampleReport(test::newReportId())).status, 200);
    EXPECT_EQ(stored(), 2);
}

// A stop does not wait for clients still sending: their uploads are cut, the
// process ends well within its bound, and nothing half-received is stored.
TEST_F(ServerLifecycle, AnUploadStillSendingIsClosedOnShutdown) {
    std::vector<std::string> args = tlsArgs(dir_);
    args.insert(args.end(), {"--shutdown-timeout", "3"});
    test::ServerProcess server(args, dir_.file("server.log"));
    HttpClient client(server.port(), kCa);
    std::string report = test::sampleReport(test::newReportId(), 200000);
    auto connection = sendHalfOf(client, report);
    ASSERT_TRUE(connection);

    auto start = std::chrono::steady_clock::now();
    server.signal(SIGTERM);
    EXPECT_EQ(connection->readResponse().status, 0);
    EXPECT_EQ(server.wait(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(client.connect(), nullptr);
    EXPECT_EQ(stored(), 0);
    EXPECT_NE(test::readFile(dir_.file("server.log")).find("zeq-server: detenido"),
              std::string::npos);
}

// An operator who signals again does not wait for a request to be answered:
// here a complete upload whose report cannot be stored while the test holds
// the database.
TEST_F(ServerLifecycle, ASecondSignalEndsTheWaitAtOnce) {
    test::ServerProcess server({kBinary, "serve", "--port", "0", "--db", dir_.file("reports.db")},
                               dir_.file("server.log"));
    HttpClient client(server.port(), "");
    std::string token = client.getToken().body;
    std::string report = test::sampleReport(test::newReportId());
    auto connection = client.connect();
    ASSERT_TRUE(connection);
    connection->write(HttpClient::requestHead(
        "POST", "/api/report.php",
        {{"X-ZEQ-Token", token}, {"Content-Length", std::to_string(report.size())}}));
    for (int i = 0; i < 1000 && test::usedTokens(dir_.file("reports.db")) < 1; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(test::usedTokens(dir_.file("reports.db")), 1);
    test::DatabaseLock lock(dir_.file("reports.db"));
    connection->write(report);
    ASSERT_TRUE(test::waitUntilReadByServer(server.port()));

    server.signal(SIGHUP);
    auto start = std::chrono::steady_clock::now();
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_NE(test::readFile(dir_.file("server.log")).find("segunda señal"), std::string::npos);
}

TEST_F(ServerLifecycle, RetentionIsAppliedWhenTheServiceStarts) {
    std::string oldCode, recentCode;
    {
        ReportStore store(dir_.file("reports.db"), ReportStore::Access::Service);
        std::string oldId = test::newReportId(), recentId = test::newReportId();
        std::int64_t now = systemSeconds();
        oldCode = store.store(oldId, test::sampleReport(oldId), now - 11 * 86400, "x").code;
        recentCode = store.store(recentId, test::sampleReport(recentId), now - 9 * 86400, "x").code;
    }
    std::vector<std::string> args = tlsArgs(dir_);
    args.insert(args.end(), {"--retention-days", "10"});
    test::ServerProcess server(args, dir_.file("server.log"));
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        gone = !test::findListed(dir_.file("reports.db"), oldCode);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(gone);
    EXPECT_TRUE(test::findListed(dir_.file("reports.db"), recentCode));
}

TEST_F(ServerLifecycle, ASecretOthersCanReadStopsTheStart) {
    std::string secret = dir_.file("token-secret");
    std::ofstream(secret) << std::string(32, 's');
    ::chmod(secret.c_str(), 0644);
    std::string err;
    EXPECT_EQ(test::runProgram(tlsArgs(dir_), nullptr, &err), 1);
    EXPECT_NE(err.find("chmod 600"), std::string::npos) << err;
}

TEST_F(ServerLifecycle, ADatabaseOthersCanReadStopsTheStart) {
    { ReportStore store(dir_.file("reports.db"), ReportStore::Access::Service); }
    ::chmod(dir_.file("reports.db").c_str(), 0644);
    std::string err;
    EXPECT_EQ(test::runProgram(tlsArgs(dir_), nullptr, &err), 1);
    EXPECT_NE(err.find("otros usuarios pueden leerla"), std::string::npos) << err;
    EXPECT_NE(err.find("chmod 600 " + dir_.file("reports.db")), std::string::npos) << err;

    // A folder others can enter, made by someone else before the first start.
    std::string folder = dir_.file("shared");
    ::mkdir(folder.c_str(), 0755);
    std::vector<std::string> args = tlsArgs(dir_);
    args.back() = folder + "/reports.db";
    EXPECT_EQ(test::runProgram(args, nullptr, &err), 1);
    EXPECT_NE(err.find("chmod 700 " + folder), std::string::npos) << err;
}

TEST_F(ServerLifecycle, TheSecretAndDatabaseAreCreatedPrivate) {
    { test::ServerProcess server(tlsArgs(dir_), dir_.file("server.log")); }
    struct stat status {};
    ASSERT_EQ(::stat(dir_.file("token-secret").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(dir_.file("reports.db").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u);
}

TEST_F(ServerLifecycle, ABadCertificateOrABusyPortStopsTheStart) {
    std::string err;
    std::vector<std::string> args = tlsArgs(dir_);
    args[7] = kCerts + "/missing.key";
    EXPECT_EQ(test::runProgram(args, nullptr, &err), 1);
    EXPECT_NE(err.find("certificado"), std::string::npos) << err;

    test::ServerProcess first(tlsArgs(dir_), dir_.file("server.log"));
    EXPECT_EQ(test::runProgram(tlsArgs(dir_, std::to_string(first.port())), nullptr, &err), 1);
    EXPECT_NE(err.find("no se puede escuchar"), std::string::npos) << err;
}

} // namespace
} // namespace zeq
