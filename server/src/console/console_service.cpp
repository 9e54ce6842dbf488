#include "console/console_service.h"

#include <cctype>
#include <map>
#include <optional>
#include <string_view>

#include "accounts/account_rules.h"
#include "accounts/audit_log.h"
#include "accounts/login.h"
#include "accounts/login_throttle.h"
#include "accounts/technicians.h"
#include "base/crypto.h"
#include "base/request_log.h"
#include "base/text_shapes.h"
#include "console/multipart_form.h"
#include "console/pages.h"
#include "http/http_server.h"
#include "http/listener.h"
#include "store/receipt_code.h"
#include "store/report_reader.h"
#include "upload/report_envelope.h"
#include "upload/report_import.h"

namespace zeq {

namespace {

using http::HeadDecision;
using http::RequestHead;
using http::Response;

// A login form, a logout or a deletion: a few hundred bytes.
constexpr std::size_t kMaxFormBytes = 16 * 1024;
// An imported report file: a report as large as an upload may be, plus the
// form around it (the token, part headers, a long file name).
constexpr std::size_t kMaxImportBytes = kMaxReportBytes + 64 * 1024;
constexpr const char* kImportPath = "/importar";
constexpr const char* kReportPrefix = "/informe/";
constexpr const char* kFormType = "application/x-www-form-urlencoded";

constexpr const char* kPolicy = "default-src 'none'; style-src 'self'; img-src 'self'; "
                                "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

// Every answer carries these; the pages behind the login also "no-store".
void addSecurityHeaders(Response& response) {
    response.headers.push_back({"Content-Security-Policy", kPolicy});
    response.headers.push_back({"X-Content-Type-Options", "nosniff"});
    response.headers.push_back({"Referrer-Policy", "no-referrer"});
}

Response page(int status, std::string html) {
    Response response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = std::move(html);
    response.headers.push_back({"Cache-Control", "no-store"});
    addSecurityHeaders(response);
    return response;
}

Response redirect(const std::string& location) {
    Response response = page(303, {});
    response.contentType = "text/plain; charset=utf-8";
    response.headers.push_back({"Location", location});
    return response;
}

Response refusal(int status, std::string_view title, std::string_view message) {
    return page(status, console::messagePage(title, message));
}

HeadDecision answerNow(Response response) {
    HeadDecision decision;
    decision.answer = std::move(response);
    return decision;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// application/x-www-form-urlencoded, as forms and query strings send it.
std::string urlDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The fields of a form or query; a field given twice keeps its first value.
std::map<std::string, std::string> parseFields(std::string_view text) {
    std::map<std::string, std::string> fields;
    while (!text.empty()) {
        std::size_t amp = text.find('&');
        std::string_view pair = text.substr(0, amp);
        std::size_t equals = pair.find('=');
        std::string name = urlDecode(pair.substr(0, equals));
        std::string value =
            equals == std::string_view::npos ? std::string() : urlDecode(pair.substr(equals + 1));
        fields.emplace(std::move(name), std::move(value));
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    }
    return fields;
}

std::string field(const std::map<std::string, std::string>& fields, const std::string& name) {
    auto found = fields.find(name);
    return found == fields.end() ? std::string() : found->second;
}

std::string queryOf(const RequestHead& head) {
    std::size_t mark = head.target.find('?');
    return mark == std::string::npos ? std::string() : head.target.substr(mark + 1);
}

std::optional<std::string> cookie(const RequestHead& head, std::string_view name) {
    for (std::size_t i = 0; i < head.count("Cookie"); ++i) {
        std::string list = head.value("Cookie", i);
        std::string_view rest = list;
        while (!rest.empty()) {
            std::size_t semicolon = rest.find(';');
            std::string pair(trimmed(rest.substr(0, semicolon)));
            std::size_t equals = pair.find('=');
            if (equals != std::string::npos && std::string_view(pair).substr(0, equals) == name) {
                return pair.substr(equals + 1);
            }
            rest = semicolon == std::string_view::npos ? std::string_view()
                                                       : rest.substr(semicolon + 1);
        }
    }
    return std::nullopt;
}

// A route of the report pages: "/informe/CODE", ".../descargar", ".../borrar".
struct ReportRoute {
    std::string code;
    std::string action; // "", "descargar" or "borrar"
};

std::optional<ReportRoute> reportRoute(const std::string& path) {
    std::string_view rest(path);
    if (rest.substr(0, 9) != kReportPrefix) {
        return std::nullopt;
    }
    rest.remove_prefix(9);
    ReportRoute route;
    route.code = std::string(rest.substr(0, kReceiptCodeLength));
    if (!isReceiptCode(route.code)) {
        return std::nullopt;
    }
    rest.remove_prefix(kReceiptCodeLength);
    if (rest == "/descargar" || rest == "/borrar") {
        route.action = std::string(rest.substr(1));
    } else if (!rest.empty()) {
        return std::nullopt;
    }
    return route;
}

} // namespace

struct ConsoleService::Pages : http::Application {
    Pages(const ConsoleSettings& settings, ReportStore& reports, const std::string& databasePath,
          std::vector<unsigned char> key, Clock time)
        : settings(settings), store(reports), formKey(std::move(key)), clock(std::move(time)),
          reader(databasePath), database(databasePath), technicians(database, clock),
          sessions(database, clock, settings.sessionLimits), throttle(database, clock),
          audit(database), desk(technicians, sessions, throttle, audit, clock) {}

    const ConsoleSettings& settings;
    ReportStore& store; // writes: imports and deletions
    std::vector<unsigned char> formKey;
    Clock clock;
    ReportReader reader; // everything the pages read, never holding up the uploads
    accounts::AccountDatabase database;
    accounts::Technicians technicians;
    accounts::Sessions sessions;
    accounts::LoginThrottle throttle;
    accounts::AuditLog audit;
    accounts::LoginDesk desk;

    struct SignedIn {
        std::string sessionId;
        accounts::SessionTechnician technician;
        console::Visitor visitor;
    };

    bool usesTls() const {
        return !settings.certFile.empty();
    }

    // Secure cookies, and the "__Host-" names that browsers keep only with
    // Secure, unless the page went to the browser as plain HTTP: the local
    // demo on a loopback address. Behind a proxy that ends TLS, the proxy says
    // so with X-Forwarded-Proto.
    bool secureCookies(const RequestHead& head) const {
        return usesTls() || head.value("X-Forwarded-Proto") == "https";
    }
    std::string sessionCookie(const RequestHead& head) const {
        return secureCookies(head) ? "__Host-zeq-sesion" : "zeq-sesion";
    }
    std::string loginCookie(const RequestHead& head) const {
        return secureCookies(head) ? "__Host-zeq-entrada" : "zeq-entrada";
    }
    std::string setCookie(const RequestHead& head, const std::string& name,
                          const std::string& value, bool expire) const {
        std::string text = name + "=" + value + "; Path=/; HttpOnly; SameSite=Strict";
        if (secureCookies(head)) {
            text += "; Secure";
        }
        if (expire) {
            text += "; Max-Age=0";
        }
        return text;
    }

    // The anti-forgery token of a session's forms, or of the login form for
    // the browser's pre-session cookie: bound to that value, and not
    // derivable from it without the key.
    std::string formToken(std::string_view purpose, std::string_view value) const {
        return toHex(hmacSha256(formKey, std::string(purpose) + ":" + std::string(value)));
    }

    std::string clientAddress(const RequestHead& head) override {
        return http::clientAddressOf(head, usesTls());
    }

    Response refusal(int status) override {
        switch (status) {
        case 408:
            return zeq::refusal(status, "Tiempo agotado", "La petición tardó demasiado.");
        case 413:
            return zeq::refusal(status, "Demasiado grande", "La petición es demasiado grande.");
        case 429:
            return zeq::refusal(status, "Demasiadas peticiones",
                                "Este equipo tiene demasiados formularios enviándose a la vez. "
                                "Espere un momento y vuelva a intentarlo.");
        default:
            break;
        }
        return zeq::refusal(status, status < 500 ? "Petición rechazada" : "Error del servidor",
                            status < 500 ? "El servidor no puede atender esta petición."
                                         : "Algo ha fallado en el servidor; inténtelo de nuevo.");
    }

    std::optional<SignedIn> signedIn(const RequestHead& head) {
        std::optional<std::string> id = cookie(head, sessionCookie(head));
        if (!id) {
            return std::nullopt;
        }
        std::optional<accounts::SessionTechnician> technician = sessions.use(*id);
        if (!technician) {
            return std::nullopt;
        }
        SignedIn who{*id, *technician, {}};
        who.visitor.technician = technician->name;
        who.visitor.formToken = formToken("sesion", *id);
        return who;
    }

    HeadDecision decide(const RequestHead& head, const std::string& client) override {
        bool get = head.method == "GET" || head.method == "HEAD";
        if (head.method != "POST" && !get) {
            Response response =
                zeq::refusal(405, "Método no admitido", "Esta dirección no admite ese método.");
            response.headers.push_back({"Allow", "GET, HEAD, POST"});
            return answerNow(std::move(response));
        }
        if (get) {
            if (head.has("Transfer-Encoding") ||
                (head.has("Content-Length") && head.value("Content-Length") != "0")) {
                return answerNow(
                    zeq::refusal(400, "Petición no válida", "Esta petición no lleva cuerpo."));
            }
            Response response = answerGet(head, client);
            response.headOnly = head.method == "HEAD";
            return answerNow(std::move(response));
        }
        if (head.has("Transfer-Encoding") || head.count("Content-Length") != 1) {
            return answerNow(
                zeq::refusal(411, "Petición no válida", "Falta la longitud del formulario."));
        }
        // Only a signed-in technician's import may send a large body; anyone
        // else is answered before it is read.
        bool import = head.path == kImportPath;
        if (import && !signedIn(head)) {
            return answerNow(redirect("/entrar"));
        }
        std::size_t limit = import ? kMaxImportBytes : kMaxFormBytes;
        std::string length = head.value("Content-Length");
        std::size_t bytes = 0;
        for (char c : length) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || bytes > limit) {
                return answerNow(
                    zeq::refusal(413, "Demasiado grande", "El formulario es demasiado grande."));
            }
            bytes = bytes * 10 + static_cast<std::size_t>(c - '0');
        }
        if (length.empty() || bytes > limit) {
            return answerNow(
                zeq::refusal(413, "Demasiado grande",
                             import ? "El archivo es demasiado grande: un informe ocupa como "
                                      "mucho 2 MiB."
                                    : "El formulario es demasiado grande."));
        }
        HeadDecision decision;
        decision.bodyBytes = bytes;
        return decision;
    }

    Response respond(const RequestHead& head, const std::string& client,
                     std::string body) override {
        std::string type = head.value("Content-Type");
        if (head.path == kImportPath) {
            return importFile(head, client, type, body);
        }
        if (type.substr(0, type.find(';')) != kFormType) {
            return zeq::refusal(415, "Petición no válida", "Se esperaba un formulario.");
        }
        std::map<std::string, std::string> fields = parseFields(body);
        if (head.path == "/entrar") {
            return login(head, client, fields);
        }
        std::optional<SignedIn> who = signedIn(head);
        if (!who) {
            return redirect("/entrar");
        }
        if (!constantTimeEqual(field(fields, "token"), who->visitor.formToken)) {
            return forgedForm();
        }
        if (head.path == "/salir") {
            sessions.end(who->sessionId);
            audit.append(accounts::AuditEvent::Logout, clock(), who->technician.name, {}, client);
            Response response = redirect("/entrar");
            response.headers.push_back(
                {"Set-Cookie", setCookie(head, sessionCookie(head), "", true)});
            return response;
        }
        std::optional<ReportRoute> route = reportRoute(head.path);
        if (!route || route->action != "borrar") {
            return zeq::refusal(404, "No encontrado", "Esta dirección no existe.");
        }
        if (!store.remove(route->code)) {
            return zeq::refusal(404, "Informe no encontrado",
                                "No hay ningún informe con el código " + route->code + ".");
        }
        audit.append(accounts::AuditEvent::ReportDeleted, clock(), who->technician.name,
                     route->code, client);
        return redirect("/?borrado=" + route->code);
    }

    Response answerGet(const RequestHead& head, const std::string& client) {
        if (head.path == "/estilo.css" || head.path == "/icono.svg" ||
            head.path == "/favicon.ico") {
            Response response;
            bool style = head.path == "/estilo.css";
            response.contentType = style ? "text/css; charset=utf-8" : "image/svg+xml";
            response.body = std::string(style ? console::styleSheet() : console::icon());
            response.headers.push_back({"Cache-Control", "no-cache"});
            addSecurityHeaders(response);
            return response;
        }
        if (head.path == "/entrar") {
            return loginForm(head, {}, {}, 200);
        }
        std::optional<ReportRoute> route = reportRoute(head.path);
        if (head.path != "/" && head.path != kImportPath && !route) {
            return zeq::refusal(404, "No encontrado", "Esta dirección no existe.");
        }
        std::optional<SignedIn> who = signedIn(head);
        if (!who) {
            return redirect("/entrar");
        }
        if (head.path == kImportPath) {
            return page(200, console::importPage(who->visitor, {}));
        }
        if (!route) {
            return listing(head, *who);
        }
        const std::string& name = who->technician.name;
        bool get = head.method == "GET"; // a HEAD neither views nor downloads
        if (route->action == "borrar") {
            std::optional<ListedReport> listed = reader.listed(route->code);
            return listed ? page(200, console::deletePage(who->visitor, *listed))
                          : missingReport(route->code);
        }
        std::optional<ReadReport> report = reader.read(route->code);
        if (!report) {
            return missingReport(route->code);
        }
        if (route->action == "descargar") {
            if (get) {
                audit.append(accounts::AuditEvent::ReportDownloaded, clock(), name, route->code,
                             client);
            }
            Response response;
            response.contentType = "application/json";
            response.body = std::move(report->body);
            response.headers.push_back(
                {"Content-Disposition", "attachment; filename=\"" + route->code + ".json\""});
            response.headers.push_back({"Cache-Control", "no-store"});
            addSecurityHeaders(response);
            return response;
        }
        if (get) {
            audit.append(accounts::AuditEvent::ReportViewed, clock(), name, route->code, client);
        }
        std::string notice;
        std::string said = field(parseFields(queryOf(head)), "importado");
        if (said == "nuevo") {
            notice = "Informe importado.";
        } else if (said == "ya") {
            notice = "Este informe ya estaba guardado con los mismos datos: no se ha importado "
                     "otra vez.";
        }
        return page(200, console::reportPage(who->visitor, *report, reader.sameMachine(route->code),
                                             notice));
    }

    static Response missingReport(const std::string& code) {
        return zeq::refusal(404, "Informe no encontrado",
                            "No hay ningún informe con el código " + code +
                                ". Puede que se haya borrado o que haya caducado.");
    }

    static Response forgedForm() {
        return zeq::refusal(403, "Formulario no válido",
                            "El formulario no lleva una clave válida de esta sesión. Vuelva a "
                            "la página, recárguela y repita la acción.");
    }

    // A report file sent from the import form: its token and the file, and
    // nothing else.
    Response importFile(const RequestHead& head, const std::string& client, const std::string& type,
                        const std::string& body) {
        std::optional<SignedIn> who = signedIn(head);
        if (!who) {
            return redirect("/entrar");
        }
        std::optional<std::vector<console::FormPart>> parts =
            console::parseMultipartForm(type, body, 2);
        const console::FormPart* token = nullptr;
        const console::FormPart* file = nullptr;
        bool wellFormed = parts.has_value();
        for (std::size_t i = 0; wellFormed && i < parts->size(); ++i) {
            const console::FormPart& part = (*parts)[i];
            bool isToken = part.name == "token" && !part.fileName && token == nullptr;
            bool isFile = part.name == "informe" && part.fileName && file == nullptr;
            wellFormed = isToken || isFile;
            (isToken ? token : file) = &part;
        }
        if (wellFormed &&
            (token == nullptr || !constantTimeEqual(token->content, who->visitor.formToken))) {
            return forgedForm();
        }
        if (!wellFormed || file == nullptr) {
            return page(400, console::importPage(who->visitor,
                                                 "El formulario no es el de importar un informe. "
                                                 "Vuelva a esta página y elija el archivo."));
        }
        const std::string& name = who->technician.name;
        ImportOutcome outcome = importReport(store, file->content, name, clock());
        switch (outcome.result) {
        case ImportResult::Stored:
            audit.append(accounts::AuditEvent::ReportImported, clock(), name, outcome.code, client);
            return redirect("/informe/" + outcome.code + "?importado=nuevo");
        case ImportResult::AlreadyStored:
            return redirect("/informe/" + outcome.code + "?importado=ya");
        case ImportResult::Conflict:
            return page(409, console::importPage(who->visitor, outcome.message));
        case ImportResult::Refused:
            break;
        }
        return page(422, console::importPage(who->visitor, outcome.message));
    }

    Response listing(const RequestHead& head, const SignedIn& who) {
        std::map<std::string, std::string> fields = parseFields(queryOf(head));
        ListQuery query;
        query.search = trimmed(field(fields, "q"));
        query.after = console::cursorFrom(field(fields, "despues"));
        query.before = console::cursorFrom(field(fields, "antes"));
        std::string notice;
        std::string deleted = field(fields, "borrado");
        if (isReceiptCode(deleted)) {
            notice = "Informe " + deleted + " borrado.";
        }
        return page(200, console::listPage(who.visitor, reader.list(query), query.search, notice));
    }

    // The login form with a fresh pre-session cookie when the browser has none.
    Response loginForm(const RequestHead& head, std::string_view message, std::string_view name,
                       int status) {
        std::optional<std::string> presession = cookie(head, loginCookie(head));
        bool fresh = !presession || presession->size() != 64 ||
                     presession->find_first_not_of("0123456789abcdef") != std::string::npos;
        if (fresh) {
            std::vector<unsigned char> random = randomBytes(32);
            presession = toHex(random.data(), random.size());
        }
        Response response =
            page(status, console::loginPage(formToken("entrada", *presession), message, name));
        if (fresh) {
            response.headers.push_back(
                {"Set-Cookie", setCookie(head, loginCookie(head), *presession, false)});
        }
        return response;
    }

    Response login(const RequestHead& head, const std::string& client,
                   const std::map<std::string, std::string>& fields) {
        std::optional<std::string> presession = cookie(head, loginCookie(head));
        if (!presession ||
            !constantTimeEqual(field(fields, "token"), formToken("entrada", *presession))) {
            return loginForm(head,
                             "El formulario ha caducado o no viene de esta página. Vuelva a "
                             "escribir su nombre y contraseña.",
                             {}, 403);
        }
        std::string name = field(fields, "nombre");
        accounts::LoginOutcome outcome = desk.attempt(name, field(fields, "clave"), client);
        // The name is shown again only in the shape of an account name: a
        // password typed into the name field is not echoed.
        std::string echo = accounts::isAccountName(name) ? name : std::string();
        switch (outcome.result) {
        case accounts::LoginResult::LoggedIn: {
            // Expired sessions are deleted when used; those never used again go here.
            sessions.forgetExpired();
            Response response = redirect("/");
            response.headers.push_back(
                {"Set-Cookie", setCookie(head, sessionCookie(head), outcome.session, false)});
            response.headers.push_back(
                {"Set-Cookie", setCookie(head, loginCookie(head), "", true)});
            return response;
        }
        case accounts::LoginResult::Refused:
            return loginForm(head,
                             "Nombre o contraseña incorrectos." +
                                 (outcome.waitSeconds > 0
                                      ? " Espere " + waitText(outcome.waitSeconds) +
                                            " antes de volver a intentarlo."
                                      : std::string()),
                             echo, 401);
        case accounts::LoginResult::TooSoon:
            break;
        }
        return loginForm(head,
                         "Demasiados intentos fallidos. Espere " + waitText(outcome.waitSeconds) +
                             " antes de volver a intentarlo; no se ha comprobado la contraseña.",
                         echo, 429);
    }

    static std::string waitText(std::int64_t seconds) {
        if (seconds < 120) {
            return std::to_string(seconds) + (seconds == 1 ? " segundo" : " segundos");
        }
        std::int64_t minutes = (seconds + 59) / 60;
        return std::to_string(minutes) + " minutos";
    }
};

ConsoleService::ConsoleService(ConsoleSettings settings, ReportStore& store,
                               const std::string& databasePath, std::vector<unsigned char> formKey,
                               Clock clock)
    : settings_(std::move(settings)),
      pages_(std::make_unique<Pages>(settings_, store, databasePath, std::move(formKey),
                                     std::move(clock))) {}

ConsoleService::~ConsoleService() = default;

int ConsoleService::bind() {
    std::optional<http::TlsFiles> tls = http::listenerTls(
        settings_.address, settings_.certFile, settings_.keyFile,
        "--console-cert y --console-key van juntos",
        "sin --console-cert y --console-key la consola solo se sirve en una dirección local "
        "(127.0.0.1 o ::1)");
    http::Limits limits;
    // decide() allows the large body to the import form only.
    limits.maxBodyBytes = kMaxImportBytes;
    limits.maxBodiesAtOnce = 16;
    limits.bodyDeadline = std::chrono::seconds(30);
    limits.maxConnectionsPerClient = usesTls() ? 64 : 0;
    // Served directly, one address sending slow forms must not hold every
    // slot and keep the others from logging in (behind nginx, which buffers
    // bodies, all come from the proxy's address and at full speed).
    limits.maxBodiesPerClient = usesTls() ? 4 : 0;
    limits.maxConnections = 1024;
    limits.shutdownGrace = std::chrono::seconds(settings_.shutdownSeconds);
    limits.ioThreads = 1;
    limits.workerThreads = settings_.threads;
    server_ = std::make_unique<http::Server>(*pages_, limits);
    return server_->bind(settings_.address, settings_.port, tls);
}

bool ConsoleService::run() {
    return server_->run();
}

void ConsoleService::stop() {
    if (server_) {
        server_->stop();
    }
}

bool ConsoleService::running() const {
    return server_ && server_->running();
}

} // namespace zeq
