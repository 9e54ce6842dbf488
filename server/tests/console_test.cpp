// The technicians' console over real HTTP: pages behind the login, the session
// cookie and its expiry, anti-forgery tokens, the headers of every answer, a
// report whose values hold HTML shown as text, search, download and deletion,
// and what the audit records.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "accounts/audit_log.h"
#include "console/report_listing.h"
#include "support/findings_report.h"
#include "support/http_client.h"
#include "support/sample_report.h"
#include "support/server_process.h"

namespace zeq {
namespace {

using test::HttpClient;
using test::HttpResponse;
using json = nlohmann::json;

const std::string kBinary = ZEQ_SERVER_BINARY;
const std::string kCerts = ZEQ_TEST_CERT_DIR;
const std::string kPassword = "una clave bastante larga";
const std::string kPolicy = "default-src 'none'; style-src 'self'; img-src 'self'; "
                            "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

const std::string kScript = "<script>alert('programa')</script>";
const std::string kImage = "<img src=x onerror=alert(1)>";
const std::string kQuotes = "Modelo \"con comillas\" y 'simples' & <b>negrita</b>";

// A report with critical findings (the budget laptop) whose program names,
// models, device names and event sources hold markup, under a new report_id.
std::string hostileReport() {
    json report = json::parse(test::fixtureText("windows11_budget_laptop.json"));
    report["report_id"] = test::newReportId();
    for (json& section : report["sections"]) {
        std::string name = section["name"];
        json& rows = section["rows"];
        if (name == "Equipo" && !rows.empty()) {
            rows[0]["Model"] = kQuotes;
        } else if (name == "Discos físicos" && !rows.empty()) {
            rows[0]["Model"] = kImage;
        } else if (name == "Dispositivos con errores") {
            rows.push_back(
                {{"ConfigManagerErrorCode", "28"}, {"Name", kScript}, {"Status", "Error"}});
        } else if (name.rfind("Eventos", 0) == 0) {
            rows.push_back({{"EventCode", "10"},
                            {"SourceName", kImage},
                            {"TimeGenerated", "20260914190000.000000-000"},
                            {"Type", "Error"}});
        } else if (name == "Programas instalados" && !rows.empty()) {
            rows[0]["Name"] = kScript;
            rows[0][kImage] = "valor";
        }
    }
    return report.dump();
}

std::string cookiePair(const HttpResponse& response, const std::string& name) {
    auto range = response.headers.equal_range("set-cookie");
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.rfind(name + "=", 0) == 0) {
            return it->second.substr(0, it->second.find(';'));
        }
    }
    return {};
}

std::string setCookieLine(const HttpResponse& response, const std::string& name) {
    auto range = response.headers.equal_range("set-cookie");
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.rfind(name + "=", 0) == 0) {
            return it->second;
        }
    }
    return {};
}

std::string formToken(const std::string& body) {
    static const std::regex token(R"re(name="token" value="([0-9a-f]{64})")re");
    std::smatch match;
    return std::regex_search(body, match, token) ? std::string(match[1]) : std::string();
}

std::string formBody(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        std::string encoded;
        for (unsigned char c : value) {
            if (std::isalnum(c)) {
                encoded += static_cast<char>(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                encoded += hex;
            }
        }
        body += (body.empty() ? "" : "&") + name + "=" + encoded;
    }
    return body;
}

struct Browser {
    HttpClient& client;
    std::string cookies; // "a=b; c=d"
    std::vector<std::pair<std::string, std::string>> extra;

    test::HeaderList headers() const {
        test::HeaderList list(extra.begin(), extra.end());
        if (!cookies.empty()) {
            list.push_back({"Cookie", cookies});
        }
        return list;
    }
    HttpResponse get(const std::string& path) {
        return client.request("GET", path, headers());
    }
    HttpResponse post(const std::string& path, const std::string& body) {
        test::HeaderList list = headers();
        list.push_back({"Content-Type", "application/x-www-form-urlencoded"});
        return client.request("POST", path, list, body);
    }
    // The login form, then the form sent with the name and password.
    HttpResponse login(const std::string& name, const std::string& password,
                       const std::string& cookiePrefix = "") {
        HttpResponse form = get("/entrar");
        std::string pre = cookiePair(form, cookiePrefix + "zeq-entrada");
        if (!pre.empty()) {
            cookies = pre;
        }
        HttpResponse answer = post(
            "/entrar",
            formBody({{"token", formToken(form.body)}, {"nombre", name}, {"clave", password}}));
        std::string session = cookiePair(answer, cookiePrefix + "zeq-sesion");
        if (!session.empty()) {
            cookies = session;
        }
        return answer;
    }
};

std::vector<std::string> serveArgs(const test::TempDir& dir, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {kBinary, "serve",          "--port",         "0",
                                     "--db",  dir.file("r.db"), "--console-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

void addTechnician(const test::TempDir& dir, const std::string& name) {
    std::string input = kPassword + "\n";
    std::string out, err;
    ASSERT_EQ(test::runProgram({kBinary, "user", "add", name, "--db", dir.file("r.db")}, &out, &err,
                               &input),
              0)
        << err;
}

std::string upload(int port, const std::string& report) {
    HttpClient uploader(port, "");
    HttpResponse token = uploader.getToken();
    HttpResponse stored = uploader.postReport(token.body, report);
    EXPECT_EQ(stored.status, 200) << stored.body;
    return stored.body;
}

class Console : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        test::ignoreBrokenPipes();
        dir_ = new test::TempDir;
        server_ = new test::ServerProcess(serveArgs(*dir_), dir_->file("server.log"));
        addTechnician(*dir_, "ana");
        report_ = hostileReport();
        code_ = upload(server_->port(), report_);
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
    }

    HttpClient client_{server_->consolePort(), ""};

    static test::TempDir* dir_;
    static test::ServerProcess* server_;
    static std::string report_;
    static std::string code_;
};
test::TempDir* Console::dir_ = nullptr;
test::ServerProcess* Console::server_ = nullptr;
std::string Console::report_;
std::string Console::code_;

TEST_F(Console, ListensApartFromTheUploads) {
    ASSERT_NE(server_->consolePort(), 0);
    EXPECT_NE(server_->consolePort(), server_->port());
    HttpClient uploads(server_->port(), "");
    EXPECT_EQ(uploads.request("GET", "/entrar").status, 404);
    EXPECT_EQ(client_.request("GET", "/api/token.php").status, 404);
}

TEST_F(Console, PagesWithoutAValidSessionLeadToTheLogin) {
    const std::vector<std::string> cookies = {"", "zeq-sesion=" + std::string(64, 'a'),
                                              "zeq-sesion=<script>", "otra=1"};
    for (const std::string& cookie : cookies) {
        for (const std::string& path :
             {std::string("/"), std::string("/?q=zeq"), "/informe/" + code_,
              "/informe/" + code_ + "/descargar", "/informe/" + code_ + "/borrar"}) {
            Browser browser{client_, cookie, {}};
            HttpResponse answer = browser.get(path);
            EXPECT_EQ(answer.status, 303) << path << " with '" << cookie << "'";
            EXPECT_EQ(answer.header("location"), "/entrar") << path;
            EXPECT_EQ(answer.body.find(code_), std::string::npos) << path;
        }
    }
}

TEST_F(Console, LoginSetsAStrictSessionCookie) {
    Browser browser{client_, {}, {}};
    HttpResponse form = browser.get("/entrar");
    std::string pre = setCookieLine(form, "zeq-entrada");
    EXPECT_NE(pre.find("HttpOnly"), std::string::npos) << pre;
    EXPECT_NE(pre.find("SameSite=Strict"), std::string::npos) << pre;
    HttpResponse answer = browser.login("ana", kPassword);
    ASSERT_EQ(answer.status, 303) << answer.body;
    EXPECT_EQ(answer.header("location"), "/");
    // Plain HTTP on loopback: the local demo, the one case without Secure.
    std::string session = setCookieLine(answer, "zeq-sesion");
    EXPECT_TRUE(std::regex_search(session, std::regex("^zeq-sesion=[0-9a-f]{64}; "))) << session;
    EXPECT_NE(session.find("HttpOnly"), std::string::npos);
    EXPECT_NE(session.find("SameSite=Strict"), std::string::npos);
    EXPECT_NE(session.find("Path=/"), std::string::npos);
    EXPECT_EQ(session.find("Secure"), std::string::npos);
    EXPECT_EQ(browser.get("/").status, 200);

    // Behind a proxy that ends TLS, the cookie is a Secure "__Host-" one.
    Browser proxied{client_, {}, {{"X-Forwarded-Proto", "https"}}};
    HttpResponse secure = proxied.login("ana", kPassword, "__Host-");
    ASSERT_EQ(secure.status, 303);
    std::string line = setCookieLine(secure, "__Host-zeq-sesion");
    EXPECT_NE(line.find("; Secure"), std::string::npos) << line;
    EXPECT_NE(line.find("Path=/"), std::string::npos) << line;
    EXPECT_EQ(line.find("Domain"), std::string::npos) << line;
    EXPECT_EQ(proxied.get("/").status, 200);

    // Logout ends the session on the server, not only in the browser.
    std::string kept = browser.cookies;
    HttpResponse out =
        browser.post("/salir", formBody({{"token", formToken(browser.get("/").body)}}));
    EXPECT_EQ(out.status, 303);
    EXPECT_NE(setCookieLine(out, "zeq-sesion").find("Max-Age=0"), std::string::npos);
    Browser replay{client_, kept, {}};
    EXPECT_EQ(replay.get("/").status, 303);
}

TEST_F(Console, WrongPasswordsAreAnsweredAlikeAndSlowTheNextAttempt) {
    HttpClient from(server_->consolePort(), "", "127.0.0.9");
    Browser browser{from, {}, {}};
    HttpResponse unknown = browser.login("nadie", kPassword);
    HttpResponse wrong = browser.login("ana", "otra clave distinta");
    EXPECT_EQ(unknown.status, 401);
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(cookiePair(wrong, "zeq-sesion"), "");
    EXPECT_NE(wrong.body.find("Nombre o contraseña incorrectos."), std::string::npos);
    HttpResponse last;
    for (int i = 0; i < 3; ++i) {
        last = browser.login("ana", "otra clave distinta");
    }
    // Past the free attempts the page says how long to wait, and even the
    // right password is not checked until then.
    EXPECT_NE(last.body.find("Espere "), std::string::npos) << last.body;
    HttpResponse right = browser.login("ana", kPassword);
    EXPECT_EQ(right.status, 429);
    EXPECT_NE(right.body.find("Demasiados intentos fallidos. Espere "), std::string::npos);
    EXPECT_EQ(cookiePair(right, "zeq-sesion"), "");
}

TEST_F(Console, PostsWithoutTheFormTokenAreRefused) {
    // The login form: no token, a token for another pre-session, no cookie.
    Browser stranger{client_, {}, {}};
    HttpResponse form = stranger.get("/entrar");
    std::string token = formToken(form.body);
    std::string pre = cookiePair(form, "zeq-entrada");
    const std::vector<std::pair<std::string, std::string>> logins = {
        {pre, formBody({{"nombre", "ana"}, {"clave", kPassword}})},
        {pre, formBody({{"token", std::string(64, '0')}, {"nombre", "ana"}, {"clave", kPassword}})},
        {"", formBody({{"token", token}, {"nombre", "ana"}, {"clave", kPassword}})},
        {"zeq-entrada=" + std::string(64, 'b'),
         formBody({{"token", token}, {"nombre", "ana"}, {"clave", kPassword}})},
    };
    for (const auto& [cookie, body] : logins) {
        Browser browser{client_, cookie, {}};
        HttpResponse answer = browser.post("/entrar", body);
        EXPECT_EQ(answer.status, 403) << cookie << " " << body;
        EXPECT_EQ(cookiePair(answer, "zeq-sesion"), "");
    }

    // Signed in: deleting and logging out need the session's token.
    Browser browser{client_, {}, {}};
    ASSERT_EQ(browser.login("ana", kPassword).status, 303);
    Browser other{client_, {}, {}};
    ASSERT_EQ(other.login("ana", kPassword).status, 303);
    std::string othersToken = formToken(other.get("/").body);
    for (const std::string& body :
         {std::string(), formBody({{"token", ""}}), formBody({{"token", othersToken}}),
          formBody({{"token", othersToken + "0"}})}) {
        EXPECT_EQ(browser.post("/informe/" + code_ + "/borrar", body).status, 403) << body;
        EXPECT_EQ(browser.post("/salir", body).status, 403) << body;
    }
    EXPECT_EQ(browser.get("/informe/" + code_).status, 200);
    EXPECT_EQ(browser.get("/").status, 200);
}

TEST_F(Console, HostileReportValuesAreShownAsText) {
    Browser browser{client_, {}, {}};
    ASSERT_EQ(browser.login("ana", kPassword).status, 303);
    HttpResponse page = browser.get("/informe/" + code_);
    ASSERT_EQ(page.status, 200);
    for (const std::string& markup :
         {std::string("<script"), std::string("<img"), std::string("<b>")}) {
        EXPECT_EQ(page.body.find(markup), std::string::npos) << markup;
    }
    EXPECT_NE(page.body.find("&lt;script&gt;alert(&#39;programa&#39;)&lt;/script&gt;"),
              std::string::npos);
    EXPECT_NE(page.body.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(page.body.find("Modelo &quot;con comillas&quot; y &#39;simples&#39; &amp; "
                             "&lt;b&gt;negrita&lt;/b&gt;"),
              std::string::npos);
    // Findings first, most severe first, before the first section.
    std::size_t findings = page.body.find("id=\"hallazgos\"");
    std::size_t critical = page.body.find("class=\"hallazgo critico\"");
    std::size_t warning = page.body.find("class=\"hallazgo aviso\"");
    std::size_t firstSection = page.body.find("id=\"seccion-1\"");
    ASSERT_NE(critical, std::string::npos);
    ASSERT_NE(warning, std::string::npos);
    EXPECT_LT(findings, critical);
    EXPECT_LT(critical, warning);
    EXPECT_LT(warning, firstSection);
    EXPECT_NE(page.body.find("id=\"seccion-26\""), std::string::npos);
    // The hostile names reach the findings' evidence, as text.
    std::size_t device = page.body.find("&lt;script&gt;alert(&#39;programa&#39;)&lt;/script&gt;");
    EXPECT_LT(device, firstSection);

    // The download is the stored bytes, as an attachment named by the code.
    HttpResponse download = browser.get("/informe/" + code_ + "/descargar");
    EXPECT_EQ(download.status, 200);
    EXPECT_EQ(download.body, report_);
    EXPECT_EQ(download.header("content-disposition"),
              "attachment; filename=\"" + code_ + ".json\"");
}

TEST_F(Console, EveryAnswerCarriesTheSecurityHeaders) {
    Browser browser{client_, {}, {{"Accept-Encoding", "gzip, deflate, br"}}};
    ASSERT_EQ(browser.login("ana", kPassword).status, 303);
    struct Case {
        std::string path;
        bool noStore;
    };
    const std::vector<Case> cases = {
        {"/entrar", true},
        {"/", true},
        {"/?q=x", true},
        {"/informe/" + code_, true},
        {"/informe/" + code_ + "/descargar", true},
        {"/informe/" + code_ + "/borrar", true},
        {"/informe/ZEQ-0000-0000-0000", true},
        {"/no-existe", true},
        {"/estilo.css", false},
    };
    for (const Case& c : cases) {
        HttpResponse answer = browser.get(c.path);
        EXPECT_NE(answer.status, 0) << c.path;
        EXPECT_EQ(answer.header("content-security-policy"), kPolicy) << c.path;
        EXPECT_EQ(answer.header("x-content-type-options"), "nosniff") << c.path;
        EXPECT_EQ(answer.header("referrer-policy"), "no-referrer") << c.path;
        EXPECT_EQ(answer.header("content-encoding"), "") << c.path;
        if (c.noStore) {
            EXPECT_EQ(answer.header("cache-control"), "no-store") << c.path;
        }
    }
    EXPECT_EQ(browser.get("/informe/ZEQ-0000-0000-0000").status, 404);
    HttpResponse style = browser.get("/estilo.css");
    EXPECT_EQ(style.status, 200);
    EXPECT_EQ(style.header("content-type"), "text/css; charset=utf-8");
}

TEST_F(Console, SearchFindsACodeHoweverItIsTyped) {
    Browser browser{client_, {}, {}};
    ASSERT_EQ(browser.login("ana", kPassword).status, 303);
    std::string lower;
    for (char c : code_) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string compact;
    for (char c : lower) {
        if (c != '-') {
            compact += c;
        }
    }
    std::string spaced = code_.substr(4, 4) + " " + code_.substr(9, 4) + " " + code_.substr(14, 4);
    struct Case {
        std::string typed;
        bool found;
    };
    const std::vector<Case> cases = {
        {code_, true},
        {lower, true},
        {compact, true},
        {" " + spaced + " ", true},
        {code_.substr(9, 4), true},
        {"ZEQ-FFFF-FFFF-FFFG", false},
        {"<script>", false},
    };
    for (const Case& c : cases) {
        HttpResponse page = browser.get("/?q=" + formBody({{"q", c.typed}}).substr(2));
        ASSERT_EQ(page.status, 200) << c.typed;
        EXPECT_EQ(page.body.find("href=\"/informe/" + code_ + "\"") != std::string::npos, c.found)
            << c.typed;
        EXPECT_EQ(page.body.find("<script>"), std::string::npos);
    }
}

TEST_F(Console, DeletingAsksFirstAndIsAudited) {
    std::string code = upload(server_->port(), hostileReport());
    Browser browser{client_, {}, {}};
    ASSERT_EQ(browser.login("ana", kPassword).status, 303);
    HttpResponse confirm = browser.get("/informe/" + code + "/borrar");
    ASSERT_EQ(confirm.status, 200);
    EXPECT_NE(confirm.body.find("method=\"post\" action=\"/informe/" + code + "/borrar\""),
              std::string::npos);
    // A HEAD is neither a view nor a download in the audit.
    EXPECT_EQ(client_.request("HEAD", "/informe/" + code, browser.headers()).status, 200);
    EXPECT_EQ(client_.request("HEAD", "/informe/" + code + "/descargar", browser.headers()).status,
              200);
    EXPECT_EQ(browser.get("/informe/" + code).status, 200) << "a GET deletes nothing";
    ASSERT_EQ(browser.get("/informe/" + code + "/descargar").status, 200);
    HttpResponse deleted = browser.post("/informe/" + code + "/borrar",
                                        formBody({{"token", formToken(confirm.body)}}));
    EXPECT_EQ(deleted.status, 303);
    EXPECT_EQ(deleted.header("location"), "/?borrado=" + code);
    EXPECT_EQ(browser.get("/informe/" + code).status, 404);
    EXPECT_NE(browser.get("/?borrado=" + code).body.find("Informe " + code + " borrado."),
              std::string::npos);

    accounts::AccountDatabase database(dir_->file("r.db"));
    std::vector<std::string> events;
    for (const accounts::AuditEntry& entry : accounts::AuditLog(database).entries()) {
        if (entry.subject == code) {
            EXPECT_EQ(entry.technician, "ana");
            EXPECT_EQ(entry.address, "127.0.0.1");
            events.push_back(entry.event);
        }
    }
    EXPECT_EQ(events,
              (std::vector<std::string>{"report_viewed", "report_downloaded", "report_deleted"}));
}

TEST(ConsoleListing, NewestFirstFiftyAPageAndCodesHoweverTyped) {
    test::TempDir dir;
    int drawn = 0;
    ReportStore store(dir.file("r.db"), ReportStore::Access::Service, [&drawn] {
        char code[32];
        std::snprintf(code, sizeof code, "ZEQ-0000-0000-%04X", ++drawn);
        return std::string(code);
    });
    for (int i = 1; i <= 120; ++i) {
        std::string id = test::reportIdFor(static_cast<unsigned long long>(i));
        ASSERT_EQ(store.store(id, "{}", 1000 + i, "192.0.2.1").result, StoreResult::Stored);
    }
    console::ListingPage first = console::listReports(store, "", 0);
    ASSERT_EQ(first.reports.size(), 50u);
    EXPECT_TRUE(first.more);
    EXPECT_EQ(first.reports.front().code, "ZEQ-0000-0000-0078"); // the 120th, newest
    EXPECT_EQ(first.reports.back().code, "ZEQ-0000-0000-0047");
    console::ListingPage last = console::listReports(store, "", 2);
    ASSERT_EQ(last.reports.size(), 20u);
    EXPECT_FALSE(last.more);
    EXPECT_EQ(last.reports.back().code, "ZEQ-0000-0000-0001");
    EXPECT_TRUE(console::listReports(store, "", 3).reports.empty());

    struct Case {
        std::string typed;
        std::vector<std::string> codes;
    };
    const std::vector<Case> cases = {
        {"zeq-0000-0000-0078", {"ZEQ-0000-0000-0078"}},
        {"ZEQ000000000078", {"ZEQ-0000-0000-0078"}},
        {" zeq 0000 0000 0078 ", {"ZEQ-0000-0000-0078"}},
        {"0000 006e", {"ZEQ-0000-0000-006E"}},
        {"0000-0000-0079", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> codes;
        for (const ReportSummary& report : console::listReports(store, c.typed, 0).reports) {
            codes.push_back(report.code);
        }
        EXPECT_EQ(codes, c.codes) << c.typed;
    }
}

TEST(ConsoleSessions, AnExpiredSessionLeadsToTheLogin) {
    test::ignoreBrokenPipes();
    test::TempDir dir;
    test::ServerProcess server(serveArgs(dir, {"--session-idle-seconds", "1"}),
                               dir.file("server.log"));
    addTechnician(dir, "ana");
    HttpClient client(server.consolePort(), "");
    Browser browser{client, {}, {}};
    ASSERT_EQ(browser.login("ana", kPassword).status, 303);
    EXPECT_EQ(browser.get("/").status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    HttpResponse expired = browser.get("/");
    EXPECT_EQ(expired.status, 303);
    EXPECT_EQ(expired.header("location"), "/entrar");
}

TEST(ConsoleSessions, OverTlsTheCookieIsSecure) {
    test::ignoreBrokenPipes();
    test::TempDir dir;
    test::ServerProcess server(serveArgs(dir, {"--console-cert", kCerts + "/server.pem",
                                               "--console-key", kCerts + "/server.key"}),
                               dir.file("server.log"));
    addTechnician(dir, "ana");
    HttpClient client(server.consolePort(), kCerts + "/ca.pem");
    Browser browser{client, {}, {}};
    HttpResponse answer = browser.login("ana", kPassword, "__Host-");
    ASSERT_EQ(answer.status, 303);
    std::string line = setCookieLine(answer, "__Host-zeq-sesion");
    EXPECT_NE(line.find("; Secure"), std::string::npos) << line;
    EXPECT_EQ(browser.get("/").status, 200);
}

TEST(ConsoleSettings, PlainHttpOnlyOnLoopback) {
    test::TempDir dir;
    std::string err;
    EXPECT_EQ(test::runProgram({kBinary, "serve", "--port", "0", "--db", dir.file("r.db"),
                                "--console-port", "0", "--console-address", "0.0.0.0"},
                               nullptr, &err),
              1);
    EXPECT_NE(err.find("la consola solo se sirve en una dirección local"), std::string::npos)
        << err;
}

} // namespace
} // namespace zeq
