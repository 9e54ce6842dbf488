// The service over real TLS on 127.0.0.1, checked the way the Windows client
// checks it: token and receipt formats, status 200, no redirects, answers of at
// most 4096 bytes; and every kind of bad request refused with nothing stored.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <set>
#include <thread>

#include "base/crypto.h"
#include "upload/report_envelope.h"
#include "store/report_store.h"
#include "upload/secret_file.h"
#include "support/http_client.h"
#include "support/sample_report.h"
#include "support/server_process.h"
#include "support/stored_reports.h"
#include "upload/token.h"

namespace zeq {
namespace {

using namespace std::chrono_literals;
using test::HttpClient;
using test::HttpResponse;
using Seconds = std::chrono::duration<double>;

const std::string kBinary = ZEQ_SERVER_BINARY;
const std::string kCerts = ZEQ_TEST_CERT_DIR;
const std::string kCa = kCerts + "/ca.pem";
constexpr int kReadTimeout = 1;
constexpr int kBodyTimeout = 3;
constexpr std::size_t kClientResponseLimit = 4096;

bool isClientToken(const std::string& body) {
    static const std::regex shape("^[0-9a-f.]{80,200}$");
    return std::regex_match(body, shape);
}

bool isClientReceipt(const std::string& body) {
    static const std::regex shape("^ZEQ-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}$");
    return body.size() == 18 && std::regex_match(body, shape);
}

std::vector<std::string> serveArgs(const test::TempDir& dir, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {kBinary,          "serve",
                                     "--address",      "127.0.0.1",
                                     "--port",         "0",
                                     "--cert",         kCerts + "/server.pem",
                                     "--key",          kCerts + "/server.key",
                                     "--db",           dir.file("reports.db"),
                                     "--read-timeout", std::to_string(kReadTimeout),
                                     "--body-timeout", std::to_string(kBodyTimeout),
                                     "--threads",      "8"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// A refusal as the client sees it: not 200, never a redirect, a short text.
void expectRefusal(const HttpResponse& response, int status, const std::string& what) {
    EXPECT_EQ(response.status, status) << what << ": " << response.body;
    EXPECT_FALSE(response.body.empty()) << what;
    EXPECT_LE(response.body.size(), kClientResponseLimit) << what;
    EXPECT_TRUE(response.header("location").empty()) << what;
}

// One server for the whole suite; every test counts the reports it adds.
class HttpService : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        test::ignoreBrokenPipes();
        dir_ = new test::TempDir;
        server_ = new test::ServerProcess(
            serveArgs(*dir_, {"--retention-days", "45", "--operator", "Técnica de prueba"}),
            dir_->file("server.log"));
        client_ = new HttpClient(server_->port(), kCa);
    }
    static void TearDownTestSuite() {
        delete client_;
        delete server_;
        delete dir_;
    }

    static std::int64_t stored() {
        return test::storedReports(dir_->file("reports.db"));
    }
    static std::optional<std::string> storedBody(const std::string& code) {
        return ReportStore(dir_->file("reports.db"), ReportStore::Access::ReadOnly).body(code);
    }
    static std::string token() {
        HttpResponse response = client_->getToken();
        EXPECT_EQ(response.status, 200);
        return response.body;
    }
    // A connection that has sent the head of a report upload with a fresh token.
    static std::unique_ptr<test::Connection> startUpload(const std::string& report) {
        auto connection = client_->connect();
        if (connection) {
            connection->write(HttpClient::requestHead(
                "POST", "/api/report.php",
                {{"X-ZEQ-Token", token()}, {"Content-Length", std::to_string(report.size())}}));
        }
        return connection;
    }
    static std::string submit(const std::string& report) {
        HttpResponse response = client_->postReport(token(), report);
        EXPECT_EQ(response.status, 200) << response.body;
        return response.body;
    }
    static std::vector<unsigned char> serverSecret() {
        return loadOrCreateSecret(dir_->file("token-secret"));
    }

    static test::TempDir* dir_;
    static test::ServerProcess* server_;
    static HttpClient* client_;
};

test::TempDir* HttpService::dir_ = nullptr;
test::ServerProcess* HttpService::server_ = nullptr;
HttpClient* HttpService::client_ = nullptr;

TEST_F(HttpService, TokenAnswersAreWhatTheClientAccepts) {
    std::set<std::string> tokens;
    for (int i = 0; i < 20; ++i) {
        HttpResponse response = client_->getToken();
        ASSERT_EQ(response.status, 200);
        EXPECT_TRUE(isClientToken(response.body)) << response.body;
        EXPECT_LE(response.body.size(), kClientResponseLimit);
        EXPECT_TRUE(response.header("location").empty());
        tokens.insert(response.body);
    }
    EXPECT_EQ(tokens.size(), 20u);
}

TEST_F(HttpService, SpeaksTls12WithSuitesOldWindowsKnowsAndNothingOlder) {
    EXPECT_EQ(test::tlsOffersAnsweredWrongly(server_->port(), kCa), std::vector<std::string>{});
}

TEST_F(HttpService, ASubmissionIsAnsweredWithAReceiptCodeAndStoredVerbatim) {
    std::int64_t before = stored();
    std::string id = test::newReportId();
    std::string report = test::sampleReport(id, 100000);
    HttpResponse response = client_->postReport(token(), report);
    ASSERT_EQ(response.status, 200) << response.body;
    EXPECT_TRUE(isClientReceipt(response.body)) << response.body;
    EXPECT_TRUE(response.header("location").empty());
    EXPECT_EQ(stored(), before + 1);
    EXPECT_TRUE(storedBody(response.body) == report);
    std::optional<ReportSummary> summary =
        test::findListed(dir_->file("reports.db"), response.body);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->reportId, id);
    EXPECT_EQ(summary->sha256, toHex(sha256(report)));
    EXPECT_EQ(summary->clientAddress, "127.0.0.1");
}

TEST_F(HttpService, ForwardedForIsIgnoredOverTls) {
    std::string id = test::newReportId();
    HttpResponse response = client_->request(
        "POST", "/api/report.php", {{"X-ZEQ-Token", token()}, {"X-Forwarded-For", "203.0.113.9"}},
        test::sampleReport(id));
    ASSERT_EQ(response.status, 200);
    EXPECT_EQ(test::findListed(dir_->file("reports.db"), response.body)->clientAddress,
              "127.0.0.1");
}

TEST_F(HttpService, ARetryGetsTheCodeAlreadyGivenAndOtherBytesAConflict) {
    std::string id = test::newReportId();
    std::string report = test::sampleReport(id, 20000);
    std::string code = submit(report);
    std::int64_t after = stored();

    // The client's retry: a new token, the very same bytes.
    EXPECT_EQ(submit(report), code);
    EXPECT_EQ(submit(report), code);
    EXPECT_EQ(stored(), after);

    std::string other = test::sampleReport(id, 20001);
    expectRefusal(client_->postReport(token(), other), 409, "same report_id, other bytes");
    EXPECT_EQ(stored(), after);
    EXPECT_TRUE(storedBody(code) == report);
}

TEST_F(HttpService, BadRequestsAreRefusedAndStoreNothing) {
    // A token that has already carried a report.
    std::string spent = token();
    ASSERT_EQ(client_->postReport(spent, test::sampleReport(test::newReportId())).status, 200);
    std::string forged = token();
    forged.back() = forged.back() == '0' ? '1' : '0';
    std::string foreign = TokenAuthority(randomBytes(32), [] { return systemSeconds(); }).issue();
    std::string expired =
        TokenAuthority(serverSecret(), [] { return systemSeconds() - 15 * 60 - 1; }).issue();

    auto report = [] { return test::sampleReport(test::newReportId()); };
    std::string valid = report();
    std::string lowerId = valid;
    std::size_t idAt = lowerId.find("\"report_id\":\"") + 13;
    for (std::size_t i = idAt; i < idAt + 36; ++i) {
        lowerId[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerId[i])));
    }
    std::string noConsent = report();
    noConsent.replace(noConsent.find("\"consent\":true"), 14, "\"consent\":false");
    std::string shortSections = report();
    shortSections.erase(shortSections.find("{\"name\":\"Equipo\""),
                        shortSections.find("{\"name\":\"Identificación\"") -
                            shortSections.find("{\"name\":\"Equipo\""));
    std::string badUtf8 = report();
    badUtf8.replace(badUtf8.find("Navegador"), 1, "\xC0\xAE");

    const std::size_t tooLarge = kMaxReportBytes + 1;
    // Sends only a report request's head, with a fresh token and these headers:
    // the refusals below must come before any body byte is read.
    auto headOnly = [&](test::HeaderList headers) {
        headers.insert(headers.begin(), {"X-ZEQ-Token", token()});
        auto connection = client_->connect();
        connection->write(HttpClient::requestHead("POST", "/api/report.php", headers));
        return connection->readResponse();
    };
    struct Case {
        std::string what;
        std::function<HttpResponse()> send;
        int status;
    };
    const std::vector<Case> cases = {
        {"no token", [&] { return client_->request("POST", "/api/report.php", {}, report()); },
         401},
        {"malformed token", [&] { return client_->postReport("abc", report()); }, 403},
        {"forged token", [&] { return client_->postReport(forged, report()); }, 403},
        {"token of another server", [&] { return client_->postReport(foreign, report()); }, 403},
        {"expired token", [&] { return client_->postReport(expired, report()); }, 403},
        {"reused token", [&] { return client_->postReport(spent, report()); }, 403},
        {"upper-case token",
         [&] {
             std::string upper = token();
             for (char& c : upper) {
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             }
             return client_->postReport(upper, report());
         },
         403},
        {"two tokens",
         [&] {
             return client_->request("POST", "/api/report.php",
                                     {{"X-ZEQ-Token", token()}, {"X-ZEQ-Token", token()}},
                                     report());
         },
         403},
        {"invalid JSON", [&] { return client_->postReport(token(), valid.substr(1)); }, 400},
        {"invalid UTF-8", [&] { return client_->postReport(token(), badUtf8); }, 400},
        {"empty body", [&] { return client_->postReport(token(), ""); }, 400},
        {"lower-case report_id", [&] { return client_->postReport(token(), lowerId); }, 400},
        {"consent false", [&] { return client_->postReport(token(), noConsent); }, 400},
        {"25 sections", [&] { return client_->postReport(token(), shortSections); }, 400},
        {"no length", [&] { return headOnly({}); }, 411},
        {"compressed body",
         [&] {
             return client_->request("POST", "/api/report.php",
                                     {{"X-ZEQ-Token", token()}, {"Content-Encoding", "gzip"}},
                                     report());
         },
         415},
        {"2 MiB + 1 declared",
         [&] {
             return headOnly({{"Content-Length", std::to_string(tooLarge)}});
         },
         413},
        // Chunked bodies are refused from the headers alone: a server that
        // waited for the chunks would answer 408 after the read time-out.
        {"chunked",
         [&] {
             return headOnly({{"Transfer-Encoding", "chunked"}});
         },
         411},
        {"chunked with a Content-Length too",
         [&] {
             return headOnly({{"Transfer-Encoding", "chunked"}, {"Content-Length", "100"}});
         },
         411},
        {"Transfer-Encoding identity",
         [&] {
             return headOnly({{"Transfer-Encoding", "identity"}, {"Content-Length", "100"}});
         },
         411},
        {"byte-order mark", [&] { return client_->postReport(token(), "\xEF\xBB\xBF" + report()); },
         400},
    };
    for (const Case& c : cases) {
        std::int64_t before = stored();
        expectRefusal(c.send(), c.status, c.what);
        EXPECT_EQ(stored(), before) << c.what;
    }
}

TEST_F(HttpService, AnOversizedBodySentInFullIsRefusedAndNotStored) {
    std::int64_t before = stored();
    std::string body = test::sampleReport(test::newReportId(), kMaxReportBytes) + " ";
    HttpResponse response = client_->postReport(token(), body);
    // The server answers before the body is in; a client still sending may
    // see the connection reset instead of the answer.
    if (response.status != 0) {
        expectRefusal(response, 413, "2 MiB + 1 sent");
    }
    EXPECT_EQ(stored(), before);
}

TEST_F(HttpService, AReportOfExactlyTwoMiBIsAccepted) {
    std::string report = test::sampleReport(test::newReportId(), kMaxReportBytes);
    std::string code = submit(report);
    EXPECT_TRUE(isClientReceipt(code));
    EXPECT_TRUE(storedBody(code) == report);
}

// A chunk-size line has no length bound of its own: an endless one would grow
// the server's memory without limit if a chunked body were ever read.
TEST_F(HttpService, AChunkedBodyIsNeverRead) {
    std::int64_t before = stored();
    long peakBefore = server_->peakMemoryKiB();
    auto connection = client_->connect();
    ASSERT_TRUE(connection);
    connection->write(HttpClient::requestHead(
        "POST", "/api/report.php", {{"X-ZEQ-Token", token()}, {"Transfer-Encoding", "chunked"}}));
    bool sentAll = connection->writeUnlessAnswered("10;x=" + std::string(32 << 20, 'a'));
    HttpResponse response = connection->readResponse();
    EXPECT_FALSE(sentAll) << "the server took a 32 MiB chunk-size line";
    // The answer comes before the body; the rest of the line may reset the
    // connection before the client reads it.
    if (response.status != 0) {
        expectRefusal(response, 411, "endless chunk-size line");
    }
    EXPECT_LT(server_->peakMemoryKiB() - peakBefore, 4096);
    EXPECT_EQ(stored(), before);
}

TEST_F(HttpService, ATokenIsSpentEvenByARefusedReport) {
    std::string spent = token();
    std::string report = test::sampleReport(test::newReportId());
    expectRefusal(client_->postReport(spent, "{"), 400, "broken report");
    expectRefusal(client_->postReport(spent, report), 403, "same token again");
}

TEST_F(HttpService, ATricklingClientIsCutOffByTheBodyDeadline) {
    std::int64_t before = stored();
    std::string report = test::sampleReport(test::newReportId());
    auto start = std::chrono::steady_clock::now();
    auto connection = startUpload(report);
    ASSERT_TRUE(connection);
    // One byte every 200 ms: never silent for a whole read time-out.
    auto giveUp = start + std::chrono::seconds(kBodyTimeout + kReadTimeout + 3);
    for (std::size_t i = 0; i < report.size() && !connection->answerPending(200); ++i) {
        ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << "still reading a trickle";
        if (!connection->write(report.substr(i, 1))) {
            break;
        }
    }
    HttpResponse response = connection->readResponse();
    double elapsed = Seconds(std::chrono::steady_clock::now() - start).count();
    expectRefusal(response, 408, "trickling body");
    EXPECT_GE(elapsed, kBodyTimeout - 0.5);
    EXPECT_LE(elapsed, kBodyTimeout + kReadTimeout + 2.0);
    EXPECT_EQ(stored(), before);
}

TEST_F(HttpService, ASilentClientIsCutOffByTheReadTimeout) {
    std::int64_t before = stored();
    std::string report = test::sampleReport(test::newReportId());
    auto start = std::chrono::steady_clock::now();
    auto connection = startUpload(report);
    ASSERT_TRUE(connection);
    connection->write(report.substr(0, report.size() / 2));
    HttpResponse response = connection->readResponse();
    double elapsed = Seconds(std::chrono::steady_clock::now() - start).count();
    expectRefusal(response, 408, "silent client");
    EXPECT_GE(elapsed, kReadTimeout - 0.2);
    EXPECT_LE(elapsed, kReadTimeout + 2.0);
    EXPECT_EQ(stored(), before);
}

TEST_F(HttpService, NothingIsEverRedirected) {
    struct Case {
        const char* method;
        const char* path;
        int status;
    };
    const Case cases[] = {
        {"GET", "/", 404},
        {"GET", "/api", 404},
        {"GET", "/api/", 404},
        {"GET", "/api/token.php/", 404},
        {"GET", "/API/TOKEN.PHP", 404},
        {"GET", "/privacy.php/", 404},
        {"GET", "/index.php", 404},
        {"GET", "/../etc/passwd", 404},
        {"GET", "/api/report.php", 405},
        {"POST", "/api/token.php", 405},
        {"POST", "/privacy.php", 405},
        {"PUT", "/api/report.php", 405},
        {"DELETE", "/api/report.php", 405},
        {"OPTIONS", "/api/token.php", 405},
    };
    for (const Case& c : cases) {
        std::optional<std::string> body;
        if (std::string(c.method) != "GET") {
            body = std::string("{}");
        }
        HttpResponse response = client_->request(c.method, c.path, {}, body);
        std::string what = std::string(c.method) + " " + c.path;
        expectRefusal(response, c.status, what);
        if (c.status == 405) {
            EXPECT_FALSE(response.header("allow").empty()) << what;
        }
    }
    // Requests the HTTP layer itself refuses still get a short text.
    auto garbage = client_->connect();
    ASSERT_TRUE(garbage);
    garbage->write("NOT HTTP AT ALL\r\n\r\n");
    expectRefusal(garbage->readResponse(), 400, "not HTTP");

    HttpResponse withQuery = client_->request("GET", "/api/token.php?x=1");
    EXPECT_EQ(withQuery.status, 200);
    EXPECT_TRUE(isClientToken(withQuery.body));
    expectRefusal(client_->request("GET", "/api/token.php", {}, std::string("x")), 400,
                  "token request with a body");
}

TEST_F(HttpService, HeadIsAnsweredOnlyForThePrivacyPage) {
    struct Case {
        const char* path;
        int status;
        const char* allow;
    };
    const Case cases[] = {
        // A HEAD for the token would issue one and throw it away.
        {"/api/token.php", 405, "GET"},
        {"/api/report.php", 405, "POST"},
        {"/privacy.php", 200, ""},
    };
    for (const Case& c : cases) {
        HttpResponse response = client_->request("HEAD", c.path);
        EXPECT_EQ(response.status, c.status) << c.path;
        EXPECT_EQ(response.header("allow"), c.allow) << c.path;
        EXPECT_TRUE(response.body.empty()) << c.path;
    }
}

// A proxy on the way may ask for compression; the client reads the body as
// the token or code itself, so every answer stays plain.
TEST_F(HttpService, AnswersAreNeverCompressed) {
    const test::HeaderList compressed = {{"Accept-Encoding", "gzip, deflate, br"}};
    HttpResponse tokenAnswer = client_->request("GET", "/api/token.php", compressed);
    EXPECT_EQ(tokenAnswer.status, 200);
    EXPECT_TRUE(isClientToken(tokenAnswer.body)) << tokenAnswer.body;

    std::string report = test::sampleReport(test::newReportId());
    test::HeaderList reportHeaders = compressed;
    reportHeaders.push_back({"X-ZEQ-Token", tokenAnswer.body});
    reportHeaders.push_back({"Content-Type", "application/json"});
    HttpResponse codeAnswer = client_->request("POST", "/api/report.php", reportHeaders, report);
    EXPECT_EQ(codeAnswer.status, 200) << codeAnswer.body;
    EXPECT_TRUE(isClientReceipt(codeAnswer.body)) << codeAnswer.body;

    HttpResponse page = client_->request("GET", "/privacy.php", compressed);
    EXPECT_EQ(page.body.rfind("<!DOCTYPE html>", 0), 0u);
    HttpResponse refusal = client_->request("GET", "/nothing", compressed);
    EXPECT_EQ(refusal.body, "No encontrado.");
    for (const HttpResponse* answer : {&tokenAnswer, &codeAnswer, &page, &refusal}) {
        EXPECT_TRUE(answer->header("content-encoding").empty());
    }
}

TEST_F(HttpService, RangeHeadersAreIgnoredAndAnswersComeWhole) {
    std::string page = client_->request("GET", "/privacy.php").body;
    ASSERT_GT(page.size(), 100u);
    struct Case {
        const char* path;
        const char* range;
        int status;
        std::string body; // empty: a token
    };
    const Case cases[] = {
        {"/api/token.php", "bytes=0-9", 200, ""},
        {"/api/token.php", "bytes=100-", 200, ""},
        {"/api/token.php", "bytes=-5", 200, ""},
        {"/api/token.php", "bytes=0-1,3-4", 200, ""},
        {"/privacy.php", "bytes=0-99", 200, page},
        {"/nothing", "bytes=0-3", 404, "No encontrado."},
        {"/api/report.php", "bytes=0-3", 405, "Método no admitido."},
        // Ranges that cannot be parsed are ignored too.
        {"/api/token.php", "bytes=x", 200, ""},
        {"/api/token.php", "bytes=3-1", 200, ""},
        {"/api/token.php", "bytes=0-1,3-1", 200, ""},
    };
    for (const Case& c : cases) {
        HttpResponse response = client_->request("GET", c.path, {{"Range", c.range}});
        std::string what = std::string(c.path) + " " + c.range;
        EXPECT_EQ(response.status, c.status) << what;
        EXPECT_TRUE(response.header("content-range").empty()) << what;
        EXPECT_EQ(response.header("content-type").rfind("multipart", 0), std::string::npos) << what;
        if (c.body.empty()) {
            EXPECT_TRUE(isClientToken(response.body)) << what << ": " << response.body;
            EXPECT_EQ(response.body.size(), TokenAuthority::tokenLength) << what;
        } else {
            EXPECT_EQ(response.body, c.body) << what;
        }
    }
}

TEST_F(HttpService, RequestsWithMoreThanAHundredHeadersAreRefused) {
    // The request head always carries Host and User-Agent.
    auto headers = [](std::size_t count) {
        test::HeaderList list;
        for (std::size_t i = 2; i < count; ++i) {
            list.emplace_back("X-Extra-" + std::to_string(i), "1");
        }
        return list;
    };
    HttpResponse hundred = client_->request("GET", "/api/token.php", headers(100));
    EXPECT_EQ(hundred.status, 200);
    EXPECT_TRUE(isClientToken(hundred.body));
    expectRefusal(client_->request("GET", "/api/token.php", headers(101)), 431, "101 headers");
    // The limit is counted before the route: a report with too many is refused too.
    std::int64_t before = stored();
    test::HeaderList many = headers(101);
    many.emplace_back("X-ZEQ-Token", token());
    expectRefusal(
        client_->request("POST", "/api/report.php", many, test::sampleReport(test::newReportId())),
        431, "report with 103 headers");
    EXPECT_EQ(stored(), before);
}

TEST_F(HttpService, ThePrivacyPageIsServedInSpanishWithTheRetention) {
    HttpResponse response = client_->request("GET", "/privacy.php");
    ASSERT_EQ(response.status, 200);
    EXPECT_EQ(response.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(response.body.find("name=\"viewport\""), std::string::npos);
    EXPECT_NE(response.body.find("se conserva 45 días"), std::string::npos);
    EXPECT_NE(response.body.find("Técnica de prueba"), std::string::npos);
    EXPECT_NE(response.body.find("<li>Programas instalados</li>"), std::string::npos);
}

TEST(HttpServiceLog, OneLinePerRequestWithoutTokensOrContent) {
    test::TempDir dir;
    std::string token, id = test::newReportId();
    {
        test::ServerProcess server(serveArgs(dir), dir.file("server.log"));
        HttpClient client(server.port(), kCa);
        token = client.getToken().body;
        ASSERT_EQ(client.postReport(token, test::sampleReport(id, 4000)).status, 200);
        ASSERT_EQ(client.postReport(token, test::sampleReport(id, 4000)).status, 403);
        ASSERT_EQ(client.request("GET", "/nothing%0Ahere").status, 404);
        server.signal(SIGTERM);
        ASSERT_EQ(server.wait(), 0);
    }
    std::string log = test::readFile(dir.file("server.log"));
    std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z 127\.0\.0\.1 (GET|POST) (\S+) )"
                    R"((\d{3}) in=(\d+) out=(\d+) (\d+)ms)");
    std::vector<std::string> requests;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it) {
        requests.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() +
                           " in=" + (*it)[4].str() + " out=" + (*it)[5].str());
    }
    // A line is written once its answer has gone out, so the client may already
    // have sent the next request: the order of the lines is not the requests'.
    std::sort(requests.begin(), requests.end());
    EXPECT_EQ(requests, (std::vector<std::string>{
                            "GET /api/token.php 200 in=0 out=117",
                            "GET /nothing%250Ahere 404 in=0 out=14",
                            "POST /api/report.php 200 in=4000 out=18",
                            "POST /api/report.php 403 in=0 out=15",
                        }));
    EXPECT_EQ(log.find(token), std::string::npos);
    EXPECT_EQ(log.find(token.substr(20, 32)), std::string::npos);
    EXPECT_EQ(log.find(id), std::string::npos);
    EXPECT_EQ(log.find("Programas"), std::string::npos);
}

} // namespace
} // namespace zeq
