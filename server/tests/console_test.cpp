// The technicians' console over real HTTP: pages behind the login, the session
// cookie, anti-forgery tokens, the headers of every answer, a report whose
// values hold HTML shown as text, search, import, download and deletion, and
// what the audit records. A session's expiry is the browser test's.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <regex>

#include <nlohmann/json.hpp>

#include "accounts/audit_log.h"
#include "console/pages.h"
#include "store/report_store.h"
#include "support/console_session.h"
#include "support/findings_report.h"
#include "support/http_client.h"
#include "support/sample_report.h"
#include "support/server_process.h"

namespace zeq {
namespace {

using test::cookiePair;
using test::formBody;
using test::formToken;
using test::HttpClient;
using test::HttpResponse;
using test::setCookieLine;
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
            rows[0]["Manufacturer"] = kImage;
        } else if (name == "Windows" && !rows.empty()) {
            rows[0]["Caption"] = kScript;
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

Browser signedIn(HttpClient& client) {
    Browser browser{client, {}, {}};
    EXPECT_EQ(browser.login("ana", kPassword).status, 303);
    return browser;
}

// The codes of a page's report lines, in order.
std::vector<std::string> listedCodes(const std::string& body) {
    static const std::regex line(
        R"re(<td class="codigo"><a href="/informe/(ZEQ-[0-9A-Z-]{14})")re");
    std::vector<std::string> codes;
    for (std::sregex_iterator it(body.begin(), body.end(), line), end; it != end; ++it) {
        codes.push_back((*it)[1]);
    }
    return codes;
}

// The target of the link with this rel ("next" or "prev"), unescaped; empty when there is none.
std::string pageLink(const std::string& body, const std::string& rel) {
    std::regex link("<a href=\"(/\\?[^\"]*)\" rel=\"" + rel + "\">");
    std::smatch match;
    if (!std::regex_search(body, match, link)) {
        return {};
    }
    std::string href = match[1];
    for (std::size_t at = href.find("&amp;"); at != std::string::npos; at = href.find("&amp;")) {
        href.replace(at, 5, "&");
    }
    return href;
}

// The table line of one report on a list page.
std::string listLine(const std::string& body, const std::string& code) {
    std::size_t at = body.find("href=\"/informe/" + code + "\"");
    if (at == std::string::npos) {
        return {};
    }
    std::size_t start = body.rfind("<tr>", at);
    return body.substr(start, body.find("</tr>", at) - start);
}

std::vector<std::string> serveArgs(const test::TempDir& dir, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {kBinary, "serve",          "--port",         "0",
                                     "--db",  dir.file("r.db"), "--console-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
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
        ASSERT_TRUE(test::addTechnician(kBinary, dir_->file("r.db"), "ana", kPassword));
        report_ = hostileReport();
        code_ = upload(server_->port(), report_);
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
    }

    HttpClient client_{server_->consolePort(), ""};
    static inline test::TempDir* dir_ = nullptr;
    static inline test::ServerProcess* server_ = nullptr;
    static inline std::string report_;
    static inline std::string code_;
};

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
    HttpResponse answer = browser.login("ana", kPassword);
    ASSERT_EQ(answer.status, 303) << answer.body;
    EXPECT_EQ(answer.header("location"), "/");
    // Plain HTTP on loopback: the local demo, the one case without Secure.
    std::string pre = setCookieLine(form, "zeq-entrada");
    std::string session = setCookieLine(answer, "zeq-sesion");
    EXPECT_TRUE(std::regex_search(session, std::regex("^zeq-sesion=[0-9a-f]{64}; "))) << session;
    for (const char* attribute : {"HttpOnly", "SameSite=Strict", "Path=/"}) {
        EXPECT_NE(pre.find(attribute), std::string::npos) << pre;
        EXPECT_NE(session.find(attribute), std::string::npos) << session;
    }
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

// The login form: no token, a token for another pre-session, no cookie. (The
// signed-in forms: DeletingAsksFirstNeedsTheTokenAndIsAudited.)
TEST_F(Console, LoginsWithoutTheFormTokenAreRefused) {
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
}

// On the report's page and its line in the list.
TEST_F(Console, HostileReportValuesAreShownAsText) {
    Browser browser = signedIn(client_);
    HttpResponse page = browser.get("/informe/" + code_);
    HttpResponse list = browser.get("/?q=" + code_);
    ASSERT_EQ(page.status, 200);
    ASSERT_EQ(list.status, 200);
    for (const char* markup : {"<script", "<img", "<b>"}) {
        EXPECT_EQ(page.body.find(markup), std::string::npos) << markup;
        EXPECT_EQ(list.body.find(markup), std::string::npos) << markup;
    }
    const std::string script = "&lt;script&gt;alert(&#39;programa&#39;)&lt;/script&gt;";
    const std::string image = "&lt;img src=x onerror=alert(1)&gt;";
    const std::string quotes =
        "Modelo &quot;con comillas&quot; y &#39;simples&#39; &amp; &lt;b&gt;negrita&lt;/b&gt;";
    EXPECT_NE(page.body.find(image), std::string::npos);
    EXPECT_NE(page.body.find(quotes), std::string::npos);
    std::string line = listLine(list.body, code_);
    EXPECT_NE(line.find(image + " " + quotes), std::string::npos) << line;
    EXPECT_NE(line.find(script), std::string::npos) << line;
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
    EXPECT_LT(page.body.find(script), firstSection);

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
        int status;
    };
    const std::vector<Case> cases = {
        {"/entrar", 200},
        {"/", 200},
        {"/?q=x", 200},
        {"/informe/" + code_, 200},
        {"/informe/" + code_ + "/descargar", 200},
        {"/informe/" + code_ + "/borrar", 200},
        {"/informe/ZEQ-0000-0000-0000", 404},
        {"/no-existe", 404},
        {"/estilo.css", 200},
    };
    for (const Case& c : cases) {
        HttpResponse answer = browser.get(c.path);
        EXPECT_EQ(answer.status, c.status) << c.path;
        EXPECT_EQ(answer.header("content-security-policy"), kPolicy) << c.path;
        EXPECT_EQ(answer.header("x-content-type-options"), "nosniff") << c.path;
        EXPECT_EQ(answer.header("referrer-policy"), "no-referrer") << c.path;
        EXPECT_EQ(answer.header("content-encoding"), "") << c.path;
        // Every page and download; the style sheet is neither.
        if (c.path != "/estilo.css") {
            EXPECT_EQ(answer.header("cache-control"), "no-store") << c.path;
        } else {
            EXPECT_EQ(answer.header("content-type"), "text/css; charset=utf-8");
        }
    }
}

// A multipart/form-data body as a browser sends the import form.
const std::string kBoundary = "----zeqPruebaBoundary7MA4YWxkTrZu0gW";

struct Part {
    std::string name;
    std::string fileName; // empty: a plain field
    std::string content;
};

std::string multipartBody(const std::vector<Part>& parts) {
    std::string body;
    for (const Part& part : parts) {
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
        if (!part.fileName.empty()) {
            body += "; filename=\"" + part.fileName + "\"\r\nContent-Type: application/json";
        }
        body += "\r\n\r\n" + part.content + "\r\n";
    }
    return body + "--" + kBoundary + "--\r\n";
}

HttpResponse postImport(Browser& browser, const std::string& body) {
    test::HeaderList list = browser.headers();
    list.push_back({"Content-Type", "multipart/form-data; boundary=" + kBoundary});
    return browser.client.request("POST", "/importar", list, body);
}

// Each file is checked like an upload; the form takes its token and one file
// named "informe" only.
TEST_F(Console, TheImportFormStoresOneFileCheckedLikeAnUpload) {
    Browser browser = signedIn(client_);
    HttpResponse form = browser.get("/importar");
    ASSERT_EQ(form.status, 200);
    EXPECT_NE(form.body.find("enctype=\"multipart/form-data\""), std::string::npos);
    EXPECT_NE(form.body.find("type=\"file\""), std::string::npos);
    const std::string token = formToken(form.body);
    ASSERT_FALSE(token.empty());

    std::string largest = test::sampleReport(test::newReportId(), 2 * 1024 * 1024);
    std::string tooLarge = test::sampleReport(test::newReportId(), 2 * 1024 * 1024 + 1);
    std::string twice = test::sampleReport(test::newReportId());
    json changed = json::parse(twice);
    changed["client_version"] = "9.9.9";
    struct File {
        const char* what;
        std::string file;
        int status;
        std::string says; // in the answer: the page reached or the message
    };
    const std::vector<File> files = {
        {"empty", "", 422, "El informe"},
        {"2 MiB exactly", largest, 303, "?importado=nuevo"},
        {"one byte more", tooLarge, 422, "2 MiB"},
        {"not a report", "{\"hola\": 1}", 422, "informe"},
        {"a report", twice, 303, "?importado=nuevo"},
        {"the same again", twice, 303, "?importado=ya"},
        {"the same id, other bytes", changed.dump(), 409, "mismo report_id"},
    };
    std::string firstCode;
    for (const File& c : files) {
        HttpResponse answer = postImport(
            browser, multipartBody({{"token", "", token}, {"informe", "i.json", c.file}}));
        EXPECT_EQ(answer.status, c.status) << c.what << ": " << answer.body.substr(0, 2000);
        std::string where = answer.status == 303 ? answer.header("location") : answer.body;
        EXPECT_NE(where.find(c.says), std::string::npos) << c.what << ": " << where.substr(0, 3000);
        if (answer.status != 303) {
            EXPECT_NE(answer.body.find("type=\"file\""), std::string::npos)
                << c.what << ": the form again";
            continue;
        }
        HttpResponse page = browser.get(answer.header("location"));
        EXPECT_EQ(page.status, 200) << c.what;
        EXPECT_NE(page.body.find("importado por ana el "), std::string::npos) << c.what;
        if (c.file == twice) {
            std::string code = answer.header("location").substr(9, 18);
            if (firstCode.empty()) {
                firstCode = code;
            } else {
                EXPECT_EQ(code, firstCode) << "the same report, not a second copy";
                EXPECT_NE(page.body.find("ya estaba guardado"), std::string::npos);
            }
        }
    }

    const std::string report = test::sampleReport(test::newReportId());
    struct Form {
        const char* what;
        std::string body;
        int status;
    };
    const std::vector<Form> forms = {
        {"no token", multipartBody({{"informe", "i.json", report}}), 403},
        {"a wrong token",
         multipartBody({{"token", "", std::string(64, 'a')}, {"informe", "i.json", report}}), 403},
        {"no file", multipartBody({{"token", "", token}}), 400},
        {"the file as a field", multipartBody({{"token", "", token}, {"informe", "", report}}),
         400},
        {"a field of another name",
         multipartBody({{"token", "", token}, {kScript, "i.json", report}}), 400},
        {"a third part",
         multipartBody({{"token", "", token}, {"informe", "i.json", report}, {"otro", "", "x"}}),
         400},
        {"two files",
         multipartBody(
             {{"token", "", token}, {"informe", "a.json", report}, {"informe", "b.json", report}}),
         400},
        {"not multipart", "token=" + token, 400},
    };
    for (const Form& c : forms) {
        HttpResponse answer = postImport(browser, c.body);
        EXPECT_EQ(answer.status, c.status) << c.what << ": " << answer.body.substr(0, 2000);
        EXPECT_EQ(answer.body.find("<script>"), std::string::npos) << c.what;
    }
    // A hostile file name is neither needed nor shown.
    HttpResponse stored = postImport(
        browser, multipartBody({{"token", "", token},
                                {"informe", kImage + "\\..\\..\\" + kScript + ".json", report}}));
    ASSERT_EQ(stored.status, 303) << stored.body;
    HttpResponse page = browser.get(stored.header("location"));
    EXPECT_EQ(page.body.find("onerror"), std::string::npos);
    EXPECT_EQ(page.body.find("<script>"), std::string::npos);

    // Without a session the file is not read: the login.
    Browser stranger{client_, {}, {}};
    HttpResponse anonymous =
        postImport(stranger, multipartBody({{"token", "", token}, {"informe", "i.json", report}}));
    EXPECT_EQ(anonymous.status, 303);
    EXPECT_EQ(anonymous.header("location"), "/entrar");
    // Other forms keep their small limit.
    HttpResponse large =
        browser.post("/salir", formBody({{"token", token}, {"x", std::string(20000, 'a')}}));
    EXPECT_EQ(large.status, 413);

    // Only the new report is in the audit, by whom it was imported.
    accounts::AccountDatabase database(dir_->file("r.db"));
    int imported = 0;
    for (const accounts::AuditEntry& entry : accounts::AuditLog(database).entries()) {
        if (entry.event == "report_imported") {
            EXPECT_EQ(entry.technician, "ana");
            imported += entry.subject == firstCode ? 1 : 0;
        }
    }
    EXPECT_EQ(imported, 1);
}

TEST_F(Console, DeletingAsksFirstNeedsTheTokenAndIsAudited) {
    std::string code = upload(server_->port(), hostileReport());
    Browser browser = signedIn(client_);
    // Deleting and logging out need the session's own token.
    Browser other = signedIn(client_);
    std::string othersToken = formToken(other.get("/").body);
    for (const std::string& body :
         {std::string(), formBody({{"token", ""}}), formBody({{"token", othersToken}}),
          formBody({{"token", othersToken + "0"}})}) {
        EXPECT_EQ(browser.post("/informe/" + code + "/borrar", body).status, 403) << body;
        EXPECT_EQ(browser.post("/salir", body).status, 403) << body;
    }
    HttpResponse confirm = browser.get("/informe/" + code + "/borrar");
    ASSERT_EQ(confirm.status, 200);
    EXPECT_NE(confirm.body.find("method=\"post\" action=\"/informe/" + code + "/borrar\""),
              std::string::npos);
    // A HEAD is neither a view nor a download in the audit.
    EXPECT_EQ(client_.request("HEAD", "/informe/" + code, browser.headers()).status, 200);
    EXPECT_EQ(client_.request("HEAD", "/informe/" + code + "/descargar", browser.headers()).status,
              200);
    EXPECT_EQ(browser.get("/informe/" + code).status, 200)
        << "nor a GET nor a refused POST deletes";
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

// The office desktop, as machine n: its own model, serial number and UUID
// unless given; a self-built PC's firmware names neither maker nor model.
std::string machineReport(int n, const std::string& serial = "", const std::string& uuid = "",
                          bool selfBuilt = false) {
    json report = json::parse(test::fixtureText("windows10_office_desktop.json"));
    char ownSerial[32];
    std::snprintf(ownSerial, sizeof ownSerial, "SERIE-%04d", n);
    char ownUuid[64];
    std::snprintf(ownUuid, sizeof ownUuid, "4C4C4544-0000-0000-0000-%012d", n);
    report["report_id"] = test::reportIdFor(static_cast<unsigned long long>(n));
    for (json& section : report["sections"]) {
        json& rows = section["rows"];
        if (rows.empty()) {
            continue;
        }
        if (section["name"] == "Equipo") {
            rows[0]["Model"] = selfBuilt ? "System Product Name" : "Modelo " + std::to_string(n);
            if (selfBuilt) {
                rows[0]["Manufacturer"] = "System manufacturer";
            }
        } else if (section["name"] == "Identificación") {
            rows[0]["IdentifyingNumber"] = serial.empty() ? ownSerial : serial;
            rows[0]["UUID"] = uuid.empty() ? ownUuid : uuid;
            if (selfBuilt) {
                rows[0]["Vendor"] = "System manufacturer";
                rows[0]["Name"] = "System Product Name";
            }
        } else if (section["name"] == "Placa base" && selfBuilt) {
            rows[0]["Manufacturer"] = "Default string";
            rows[0]["Product"] = "Default string";
        } else if (section["name"] == "BIOS") {
            rows[0]["SerialNumber"] = serial.empty() ? ownSerial : serial;
        }
    }
    return report.dump();
}

// Received a day ago, well within any retention: the base of the list's times.
const std::int64_t kListBase = static_cast<std::int64_t>(std::time(nullptr)) - 86400;

// 120 office desktops received one second apart under codes ZEQ-0000-0000-0001
// to -0078 (hexadecimal), the newest imported by marta; machines 1 and 2 are
// the same PC, 3 and 4 report only firmware placeholders for their identity,
// and 3 also for its maker and model.
class ConsoleListing : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        test::ignoreBrokenPipes();
        dir_ = new test::TempDir;
        {
            int drawn = 0;
            ReportStore store(dir_->file("r.db"), ReportStore::Access::Service, [&drawn] {
                char code[32];
                std::snprintf(code, sizeof code, "ZEQ-0000-0000-%04X", ++drawn);
                return std::string(code);
            });
            const std::string placeholderUuid = "03000200-0400-0500-0006-000700080009";
            const std::string sameUuid = "4C4C4544-0000-0000-0000-000000000001";
            ImportMark marta{"marta", 1700000000};
            for (int i = 1; i <= 120; ++i) {
                std::string body = i == 2             ? machineReport(2, "SERIE-0001", sameUuid)
                                   : i <= 4 && i >= 3 ? machineReport(i, "To be filled by O.E.M.",
                                                                      placeholderUuid, i == 3)
                                                      : machineReport(i);
                StoreOutcome stored =
                    store.store(test::reportIdFor(static_cast<unsigned long long>(i)), body,
                                kListBase + i, "192.0.2.1", {}, i == 120 ? &marta : nullptr);
                ASSERT_EQ(stored.result, StoreResult::Stored);
            }
        }
        server_ = new test::ServerProcess(serveArgs(*dir_), dir_->file("server.log"));
        ASSERT_TRUE(test::addTechnician(kBinary, dir_->file("r.db"), "ana", kPassword));
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
    }

    HttpClient client_{server_->consolePort(), ""};
    static inline test::TempDir* dir_ = nullptr;
    static inline test::ServerProcess* server_ = nullptr;
};

TEST_F(ConsoleListing, ShowsTheMachineWindowsFindingsAndSizeOfEachReport) {
    Browser browser = signedIn(client_);
    HttpResponse list = browser.get("/");
    ASSERT_EQ(list.status, 200);
    for (const char* heading :
         {"Recibido", "Código", "Equipo", "Windows", "Críticos", "Avisos", "Tamaño"}) {
        EXPECT_NE(list.body.find(std::string(">") + heading + "</th>"), std::string::npos)
            << heading;
    }
    std::string newest = listLine(list.body, "ZEQ-0000-0000-0078");
    ASSERT_FALSE(newest.empty());
    std::time_t received = static_cast<std::time_t>(kListBase + 120);
    char receivedText[40];
    std::strftime(receivedText, sizeof receivedText, "<td>%Y-%m-%d %H:%M:%S UTC</td>",
                  std::gmtime(&received));
    EXPECT_NE(newest.find(receivedText), std::string::npos) << newest;
    EXPECT_NE(newest.find("<td>Dell Inc. Modelo 120</td>"), std::string::npos) << newest;
    std::string selfBuilt =
        listLine(browser.get("/?q=System+Product+Name").body, "ZEQ-0000-0000-0003");
    EXPECT_NE(selfBuilt.find("<td>(sin marca ni modelo)</td>"), std::string::npos) << selfBuilt;
    EXPECT_NE(newest.find("<td>Microsoft Windows 10 Pro</td>"), std::string::npos) << newest;
    EXPECT_NE(newest.find("importado por marta el 2023-11-14 22:13:20 UTC"), std::string::npos)
        << newest;
    EXPECT_EQ(listLine(list.body, "ZEQ-0000-0000-0077").find("importado"), std::string::npos);

    // The counts are those the report's own page gives.
    HttpResponse report = browser.get("/informe/ZEQ-0000-0000-0078");
    std::smatch counts;
    ASSERT_TRUE(std::regex_search(report.body, counts,
                                  std::regex("<p>([0-9]+) críticos, ([0-9]+) avisos, ")));
    // Counts above zero stand out.
    auto cell = [](const std::string& count, const char* standOut) {
        return std::string("<td class=\"") + standOut + (count == "0" ? "" : " destaca") + "\">" +
               count + "</td>";
    };
    EXPECT_NE(newest.find(cell(counts[1], "num critico") + cell(counts[2], "num aviso")),
              std::string::npos)
        << newest;
    EXPECT_NE(report.body.find("importado por marta el 2023-11-14 22:13:20 UTC"),
              std::string::npos);
}

TEST_F(ConsoleListing, PagesOfFiftyNewestFirstThereAndBack) {
    Browser browser = signedIn(client_);
    struct Step {
        const char* follow; // the link taken from the page before
        std::size_t lines;
        std::string first;
        std::string last;
        bool newer;
        bool older;
    };
    const std::vector<Step> steps = {
        {nullptr, 50, "ZEQ-0000-0000-0078", "ZEQ-0000-0000-0047", false, true},
        {"next", 50, "ZEQ-0000-0000-0046", "ZEQ-0000-0000-0015", true, true},
        {"next", 20, "ZEQ-0000-0000-0014", "ZEQ-0000-0000-0001", true, false},
        {"prev", 50, "ZEQ-0000-0000-0046", "ZEQ-0000-0000-0015", true, true},
        {"prev", 50, "ZEQ-0000-0000-0078", "ZEQ-0000-0000-0047", false, true},
    };
    std::string body;
    for (const Step& step : steps) {
        std::string target = step.follow ? pageLink(body, step.follow) : "/";
        ASSERT_FALSE(target.empty()) << step.first;
        HttpResponse page = browser.get(target);
        ASSERT_EQ(page.status, 200) << target;
        body = page.body;
        std::vector<std::string> codes = listedCodes(body);
        ASSERT_EQ(codes.size(), step.lines) << target;
        EXPECT_EQ(codes.front(), step.first) << target;
        EXPECT_EQ(codes.back(), step.last) << target;
        EXPECT_EQ(!pageLink(body, "prev").empty(), step.newer) << target;
        EXPECT_EQ(!pageLink(body, "next").empty(), step.older) << target;
    }
    // A place in the list that is not one is the first page.
    for (const char* bad :
         {"/?despues=abc", "/?despues=1050.ZEQ-0000", "/?antes=.ZEQ-0000-0000-0001",
          "/?despues=99999999999999999999999.ZEQ-0000-0000-0001"}) {
        HttpResponse page = browser.get(bad);
        EXPECT_EQ(page.status, 200) << bad;
        EXPECT_EQ(listedCodes(page.body).front(), "ZEQ-0000-0000-0078") << bad;
    }
}

TEST_F(ConsoleListing, SearchesByCodeHoweverTypedOrByMachineText) {
    Browser browser = signedIn(client_);
    struct Case {
        std::string typed;
        std::size_t lines;
        std::string first;
    };
    // Each way of typing a code and the search's wildcards are the reader's
    // (report_search_test); here, that the box reaches it and what the page shows.
    const std::vector<Case> cases = {
        {"zeq-0000-0000-006e", 1, "ZEQ-0000-0000-006E"},
        {" zeq 0000 0000 0078 ", 1, "ZEQ-0000-0000-0078"},
        {"ZEQ-0000-0000-0079", 0, ""},           // no such report, nor such text
        {"modelo 11", 11, "ZEQ-0000-0000-0077"}, // 119 down to 110, then 11
        {"SERIE-0001", 2, "ZEQ-0000-0000-0002"}, // the same PC twice
        {"to be filled", 0, ""},                 // placeholders are not serial numbers
        {"<script>", 0, ""},
    };
    for (const Case& c : cases) {
        HttpResponse page = browser.get("/?q=" + formBody({{"q", c.typed}}).substr(2));
        ASSERT_EQ(page.status, 200) << c.typed;
        std::vector<std::string> codes = listedCodes(page.body);
        EXPECT_EQ(codes.size(), c.lines) << c.typed;
        if (!codes.empty()) {
            EXPECT_EQ(codes.front(), c.first) << c.typed;
        } else {
            EXPECT_NE(page.body.find("Ningún informe coincide con la búsqueda."),
                      std::string::npos);
        }
        EXPECT_EQ(page.body.find("<script>"), std::string::npos);
    }
    // A search's pages keep the search.
    HttpResponse first = browser.get("/?q=Dell");
    EXPECT_EQ(listedCodes(first.body).size(), 50u);
    std::string next = pageLink(first.body, "next");
    EXPECT_NE(next.find("&q=Dell"), std::string::npos) << next;
    HttpResponse third = browser.get(pageLink(browser.get(next).body, "next"));
    EXPECT_EQ(listedCodes(third.body).size(), 19u); // machine 3 names no maker
}

// The section of a report page that lists the same machine's other reports.
std::string sameMachineSection(const std::string& body) {
    std::size_t at = body.find("id=\"mismo-equipo\"");
    return at == std::string::npos ? std::string()
                                   : body.substr(at, body.find("</section>", at) - at);
}

TEST_F(ConsoleListing, AReportLinksTheOtherReportsOfItsMachine) {
    Browser browser = signedIn(client_);
    struct Case {
        std::string code;
        std::vector<std::string> others;
        const char* none; // the text when there are none
    };
    const std::vector<Case> cases = {
        {"ZEQ-0000-0000-0001", {"ZEQ-0000-0000-0002"}, nullptr},
        {"ZEQ-0000-0000-0003", {}, "El equipo no da un UUID ni un número de serie propios."},
        {"ZEQ-0000-0000-0005", {}, "Ninguno."},
    };
    for (const Case& c : cases) {
        HttpResponse page = browser.get("/informe/" + c.code);
        ASSERT_EQ(page.status, 200) << c.code;
        std::string section = sameMachineSection(page.body);
        ASSERT_FALSE(section.empty()) << c.code;
        EXPECT_EQ(listedCodes(section), c.others) << c.code;
        if (c.none != nullptr) {
            EXPECT_NE(section.find(c.none), std::string::npos) << c.code << section;
        }
    }
}

// Served directly over TLS: the console holds 16 form bodies at once, and one
// address sending 16 slow forms gets 4 of them and cannot keep others from
// logging in; the session cookie is Secure.
TEST(ConsoleSessions, OverTlsSlowFormsFromOneAddressLeaveOthersASecureLogin) {
    test::ignoreBrokenPipes();
    test::TempDir dir;
    test::ServerProcess server(serveArgs(dir, {"--console-cert", kCerts + "/server.pem",
                                               "--console-key", kCerts + "/server.key"}),
                               dir.file("server.log"));
    ASSERT_TRUE(test::addTechnician(kBinary, dir.file("r.db"), "ana", kPassword));
    HttpClient slow(server.consolePort(), kCerts + "/ca.pem", "127.0.0.3");
    std::vector<std::unique_ptr<test::Connection>> forms;
    for (int i = 0; i < 16; ++i) {
        auto connection = slow.connect();
        ASSERT_TRUE(connection);
        connection->write(HttpClient::requestHead(
            "POST", "/entrar",
            {{"Content-Type", "application/x-www-form-urlencoded"}, {"Content-Length", "16000"}}));
        connection->write("nombre=");
        forms.push_back(std::move(connection));
    }
    // Without a cap of its own, the address would hold all 16 slots.
    std::vector<int> refusals;
    for (int round = 0; round < 2000 && refusals.size() < 12; ++round) {
        for (auto& form : forms) {
            if (form && form->answerPending(round == 0 ? 0 : 1)) {
                refusals.push_back(form->readResponse().status);
                form.reset();
            }
        }
    }
    EXPECT_EQ(refusals, std::vector<int>(12, 429));
    HttpClient other(server.consolePort(), kCerts + "/ca.pem", "127.0.0.4");
    Browser browser{other, {}, {}};
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

using ShownRow = std::map<std::string, std::string>;

// The table of section `number` on a report page: its column headings, and
// each row as heading → cell, empty cells left out.
std::pair<std::vector<std::string>, std::vector<ShownRow>> shownTable(const std::string& page,
                                                                      int number) {
    std::size_t at = page.find("id=\"seccion-" + std::to_string(number) + "\"");
    std::string table = page.substr(at, page.find("</table>", at) - at);
    auto cellsOf = [](const std::string& row, const char* tag) {
        std::vector<std::string> cells;
        std::regex cell(std::string("<") + tag + "[^>]*>([^<]*)</" + tag + ">");
        for (std::sregex_iterator i(row.begin(), row.end(), cell), end; i != end; ++i) {
            cells.push_back((*i)[1]);
        }
        return cells;
    };
    std::vector<std::string> columns = cellsOf(table.substr(0, table.find("</thead>")), "th");
    std::vector<ShownRow> rows;
    std::regex rowPattern("<tr>(.*?)</tr>");
    std::string body = table.substr(table.find("<tbody>"));
    for (std::sregex_iterator i(body.begin(), body.end(), rowPattern), end; i != end; ++i) {
        std::vector<std::string> cells = cellsOf((*i)[1], "td");
        ShownRow row;
        for (std::size_t c = 0; c < cells.size() && c < columns.size(); ++c) {
            if (!cells[c].empty()) {
                row[columns[c]] = cells[c];
            }
        }
        rows.push_back(row);
    }
    return {columns, rows};
}

// A section's rows need not share their members: each value is shown under
// its own member's column, and a row that is not an object says so. A report
// whose every row has members of its own still gets a table of bounded width
// (not rows × members cells) that shows every value.
TEST(ConsolePages, EachValueIsShownUnderItsOwnMember) {
    json report = json::parse(test::fixtureText("windows10_office_desktop.json"));
    json ownMembers = json::array();
    for (int i = 0; i < 40; ++i) {
        ownMembers.push_back({{"Name", "n" + std::to_string(i)},
                              {"k" + std::to_string(i), "v" + std::to_string(i)}});
    }
    for (json& section : report["sections"]) {
        if (section["name"] == "Programas instalados") {
            section["rows"] = json::parse(R"([
                {"Name": "Uno", "Publisher": "P1"},
                {"DisplayVersion": "2.0", "Name": "Dos"},
                "texto",
                {"Publisher": "P4", "Zeta": "z4", "Alfa": "a4"},
                {"Zeta": "z5", "Publisher": "P5", "Name": "Cinco", "DisplayVersion": "5"}
            ])");
        } else if (section["name"] == "Controladores") {
            section["rows"] = ownMembers;
        }
    }
    ReadReport stored;
    stored.listing.code = "ZEQ-0000-0000-0001";
    stored.body = report.dump();
    std::string page = console::reportPage({"ana", "t"}, stored, {}, "");

    auto [columns, shown] = shownTable(page, 26);
    EXPECT_EQ(shown, (std::vector<ShownRow>{
                         {{"#", "1"}, {"Name", "Uno"}, {"Publisher", "P1"}},
                         {{"#", "2"}, {"Name", "Dos"}, {"DisplayVersion", "2.0"}},
                         {{"#", "3"}, {columns.at(1), "(no es un objeto)"}},
                         {{"#", "4"}, {"Publisher", "P4"}, {"Zeta", "z4"}, {"Alfa", "a4"}},
                         {{"#", "5"},
                          {"Name", "Cinco"},
                          {"DisplayVersion", "5"},
                          {"Publisher", "P5"},
                          {"Zeta", "z5"}},
                     }));
    EXPECT_EQ(columns.size(), 6u); // #, then each member once

    auto [wideColumns, wide] = shownTable(page, 22);
    EXPECT_LE(wideColumns.size(), 34u); // #, at most 32 members, then "Otros miembros"
    ASSERT_EQ(wide.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        std::string key = "k" + std::to_string(i), value = "v" + std::to_string(i);
        const ShownRow& row = wide[static_cast<std::size_t>(i)];
        EXPECT_EQ(row.at("Name"), "n" + std::to_string(i));
        bool inItsColumn = row.count(key) && row.at(key) == value;
        bool listed = row.count("Otros miembros") && row.at("Otros miembros") == key + ": " + value;
        EXPECT_TRUE(inItsColumn != listed) << key;
    }
}
} // namespace
} // namespace zeq
