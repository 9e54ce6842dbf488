// The console behind Debian's nginx with the repository's console site
// (deploy/nginx/zeq-console.conf, only ports, paths, certificates and the
// allow-list replaced): an office address gets the console over TLS, any other
// address gets nginx's 403 and nothing reaches the server, and the upload site
// (deploy/nginx/zeq-server.conf) passes on none of the console's paths.
#include <gtest/gtest.h>

#include <string>

#include "support/http_client.h"
#include "support/nginx_suite.h"

namespace zeq {
namespace {

using test::HttpClient;
using test::HttpResponse;

// The office, as the test's allow-list has it; every other loopback address is
// outside it.
const std::string kOffice = "127.0.0.1";
const std::string kOutsider = "127.0.0.9";

// The console's own paths, and one report page of a code that need not exist.
const char* const kConsolePaths[] = {"/",           "/entrar",
                                     "/estilo.css", "/?q=zeq",
                                     "/salir",      "/informe/ZEQ-AAAA-BBBB-CCCC",
                                     "/icono.svg",  "/informe/ZEQ-AAAA-BBBB-CCCC/descargar"};

// The server with its console, nginx with the upload site (nginx_) and nginx
// with the console's site (console_).
class ConsoleBehindNginx : public test::NginxSuite {
  protected:
    static void SetUpTestSuite() {
        startServerAndNginx({"--console-port", "0"});
        int consolePort = server_->consolePort();
        console_ = new test::NginxProcess(ZEQ_NGINX_CONSOLE_SITE, [consolePort](int port, int v6) {
            return test::NginxProcess::consoleSiteSubstitutions(port, v6, consolePort, kCerts,
                                                                kOffice);
        });
    }
    static void TearDownTestSuite() {
        delete console_;
        NginxSuite::TearDownTestSuite();
    }
    void TearDown() override {
        if (HasFailure()) {
            std::printf("console site error log:\n%s\n", console_->errorLog().c_str());
            std::printf("server log:\n%s\n", test::readFile(dir_->file("server.log")).c_str());
        }
    }

    static inline test::NginxProcess* console_ = nullptr;
};

TEST_F(ConsoleBehindNginx, AnOfficeAddressGetsTheConsoleOverTlsAndNoUploadPath) {
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
    EXPECT_EQ(browser.request("GET", "/api/token.php").status, 404);
    EXPECT_EQ(browser.request("GET", "/privacy.php").status, 404);
}

// Any other address gets nginx's 403 from the console's site, and nothing of
// it reaches the server; the upload site serves no console path to anyone.
TEST_F(ConsoleBehindNginx, ConsolePathsAreRefusedOutsideTheOfficeAndOnTheUploadSite) {
    std::string before = test::readFile(dir_->file("server.log"));
    HttpClient outsider(console_->port(), kCa, kOutsider), anyone(nginx_->port(), kCa, "127.0.0.3");
    for (const char* path : kConsolePaths) {
        HttpResponse refused = outsider.request("GET", path), missing = anyone.request("GET", path);
        EXPECT_EQ(refused.status, 403) << path;
        EXPECT_EQ(refused.body.find("Entrar"), std::string::npos) << path;
        EXPECT_EQ(missing.status, 404) << path;
        EXPECT_EQ(missing.body.find("Entrar"), std::string::npos) << path;
        EXPECT_EQ(missing.header("set-cookie"), "") << path;
    }
    const test::HeaderList form = {{"Content-Type", "application/x-www-form-urlencoded"}};
    EXPECT_EQ(outsider.request("POST", "/entrar", form, std::string("nombre=a&clave=b")).status,
              403);
    EXPECT_EQ(anyone.request("POST", "/entrar", {}, std::string("nombre=a")).status, 404);
    std::string after = test::readFile(dir_->file("server.log"));
    EXPECT_EQ(after.substr(before.size()).find(kOutsider), std::string::npos)
        << after.substr(before.size());
    // While the tool's own paths pass.
    EXPECT_EQ(anyone.getToken().status, 200);
}

} // namespace
} // namespace zeq
