// The console behind Debian's nginx with the repository's console site
// (deploy/nginx/zeq-console.conf, only ports, paths, certificates and the
// allow-list replaced): an office address gets the console over TLS, any other
// address gets nginx's 403 and nothing reaches the server, and the upload site
// (deploy/nginx/zeq-server.conf) passes on none of the console's paths.
#include <gtest/gtest.h>

#include <string>

#include "support/http_client.h"
#include "support/nginx_process.h"
#include "support/server_process.h"

namespace zeq {
namespace {

using test::HttpClient;
using test::HttpResponse;

const std::string kBinary = ZEQ_SERVER_BINARY;
const std::string kUploadSite = ZEQ_NGINX_SITE;
const std::string kConsoleSite = ZEQ_NGINX_CONSOLE_SITE;
const std::string kCerts = ZEQ_TEST_CERT_DIR;
const std::string kCa = kCerts + "/ca.pem";

// The office, as the test's allow-list has it; every other loopback address is
// outside it.
const std::string kOffice = "127.0.0.1";
const std::string kOutsider = "127.0.0.9";

// The console's own paths, and one report page of a code that need not exist.
const char* const kConsolePaths[] = {"/",           "/entrar",
                                     "/estilo.css", "/?q=zeq",
                                     "/salir",      "/informe/ZEQ-AAAA-BBBB-CCCC",
                                     "/icono.svg",  "/informe/ZEQ-AAAA-BBBB-CCCC/descargar"};

class ConsoleBehindNginx : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        test::ignoreBrokenPipes();
        dir_ = new test::TempDir;
        server_ = new test::ServerProcess({kBinary, "serve", "--address", "127.0.0.1", "--port",
                                           "0", "--db", dir_->file("r.db"), "--console-port", "0"},
                                          dir_->file("server.log"));
        int consolePort = server_->consolePort();
        std::string certs = kCerts;
        console_ = new test::NginxProcess(kConsoleSite, [consolePort, certs](int port, int v6) {
            return test::NginxProcess::consoleSiteSubstitutions(port, v6, consolePort, certs,
                                                                kOffice);
        });
        upload_ = new test::NginxProcess(kUploadSite, server_->port(), kCerts);
    }
    static void TearDownTestSuite() {
        delete upload_;
        delete console_;
        delete server_;
        delete dir_;
    }
    void TearDown() override {
        if (HasFailure()) {
            std::printf("console site error log:\n%s\n", console_->errorLog().c_str());
            std::printf("server log:\n%s\n", test::readFile(dir_->file("server.log")).c_str());
        }
    }

    static test::TempDir* dir_;
    static test::ServerProcess* server_;
    static test::NginxProcess* console_;
    static test::NginxProcess* upload_;
};

test::TempDir* ConsoleBehindNginx::dir_ = nullptr;
test::ServerProcess* ConsoleBehindNginx::server_ = nullptr;
test::NginxProcess* ConsoleBehindNginx::console_ = nullptr;
test::NginxProcess* ConsoleBehindNginx::upload_ = nullptr;

TEST_F(ConsoleBehindNginx, AnOfficeAddressGetsTheLoginOverTls) {
    HttpClient browser(console_->port(), kCa, kOffice);
    HttpResponse login = browser.request("GET", "/entrar");
    ASSERT_EQ(login.status, 200) << login.body;
    EXPECT_NE(login.body.find("<h1>Entrar</h1>"), std::string::npos) << login.body;
    EXPECT_NE(login.body.find("type=\"password\""), std::string::npos) << login.body;
    // nginx tells the console the browser spoke HTTPS: the pre-session cookie
    // is the Secure __Host- one.
    EXPECT_EQ(login.header("set-cookie").rfind("__Host-zeq-entrada=", 0), 0u)
        << login.header("set-cookie");
    EXPECT_NE(login.header("set-cookie").find("Secure"), std::string::npos);
    EXPECT_EQ(login.header("content-encoding"), "");

    HttpResponse list = browser.request("GET", "/", {{"Accept-Encoding", "gzip"}});
    EXPECT_EQ(list.status, 303);
    EXPECT_EQ(list.header("location"), "/entrar");
    EXPECT_EQ(browser.request("GET", "/estilo.css").status, 200);
}

TEST_F(ConsoleBehindNginx, AnyOtherAddressIsRefusedByNginx) {
    std::string before = test::readFile(dir_->file("server.log"));
    HttpClient outsider(console_->port(), kCa, kOutsider);
    for (const char* path : kConsolePaths) {
        HttpResponse answer = outsider.request("GET", path);
        EXPECT_EQ(answer.status, 403) << path;
        EXPECT_EQ(answer.body.find("Entrar"), std::string::npos) << path;
    }
    HttpResponse post =
        outsider.request("POST", "/entrar", {{"Content-Type", "application/x-www-form-urlencoded"}},
                         std::string("nombre=a&clave=b"));
    EXPECT_EQ(post.status, 403);
    // Nothing of it reached the server.
    std::string after = test::readFile(dir_->file("server.log"));
    EXPECT_EQ(after.substr(before.size()).find(kOutsider), std::string::npos)
        << after.substr(before.size());
}

TEST_F(ConsoleBehindNginx, TheUploadSiteServesNoConsolePath) {
    HttpClient anyone(upload_->port(), kCa, "127.0.0.3");
    for (const char* path : kConsolePaths) {
        HttpResponse answer = anyone.request("GET", path);
        EXPECT_EQ(answer.status, 404) << path;
        EXPECT_EQ(answer.body.find("Entrar"), std::string::npos) << path;
        EXPECT_EQ(answer.header("set-cookie"), "") << path;
    }
    EXPECT_EQ(anyone.request("POST", "/entrar", {}, std::string("nombre=a")).status, 404);
    // While the tool's own paths pass.
    EXPECT_EQ(anyone.getToken().status, 200);
}

TEST_F(ConsoleBehindNginx, TheConsoleSiteServesNoUploadPath) {
    HttpClient browser(console_->port(), kCa, kOffice);
    EXPECT_EQ(browser.request("GET", "/api/token.php").status, 404);
    EXPECT_EQ(browser.request("GET", "/privacy.php").status, 404);
}

} // namespace
} // namespace zeq
