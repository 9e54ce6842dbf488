#include "upload/collection_service.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <httplib.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "upload/privacy_page.h"
#include "upload/report_envelope.h"
#include "base/request_log.h"

namespace zeq {

namespace {

using httplib::ContentReader;
using httplib::Request;
using httplib::Response;
using SteadyTime = std::chrono::steady_clock::time_point;

constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kTokenPath = "/api/token.php";
constexpr const char* kReportPath = "/api/report.php";
constexpr const char* kPrivacyPath = "/privacy.php";
// httplib listens with a backlog of 5, too short for a burst of clients.
constexpr int kListenBacklog = 256;

// Requests with more header lines than this are refused. httplib has already
// read them all by then: this keeps the handlers' work bounded, not httplib's.
constexpr std::size_t kMaxRequestHeaders = 100;
// httplib files the peer's and its own address and port among the headers.
constexpr std::size_t kHeadersAddedByHttplib = 4;

struct Route {
    const char* path;
    const char* allow; // the methods, as the Allow header of a 405 lists them
};
// No HEAD for the token: it would spend a fresh token on an answer without body.
constexpr std::array<Route, 3> kRoutes = {{
    {kTokenPath, "GET"},
    {kReportPath, "POST"},
    {kPrivacyPath, "GET, HEAD"},
}};

bool allows(const Route& route, const std::string& method) {
    std::string_view allow = route.allow;
    while (!allow.empty()) {
        std::size_t comma = allow.find(", ");
        if (allow.substr(0, comma) == method) {
            return true;
        }
        allow = comma == std::string_view::npos ? std::string_view() : allow.substr(comma + 2);
    }
    return false;
}

// What the log line needs that httplib's request and response do not hold.
// One request is handled start to finish on one worker thread.
struct RequestTrace {
    bool active = false;
    SteadyTime start;
    std::uint64_t bytesIn = 0;
    std::string client;
};
thread_local RequestTrace trace;

// The refusal texts that the status alone decides, for our refusals and for
// those httplib makes itself (malformed requests, over-long paths).
struct StatusText {
    int status;
    const char* text;
};
constexpr std::array<StatusText, 9> kStatusTexts = {{
    {400, "Petición no válida."},
    {404, "No encontrado."},
    {405, "Método no admitido."},
    {408, "Tiempo de espera agotado."},
    {413, "Petición demasiado grande."},
    {414, "Dirección demasiado larga."},
    {416, "Rango no admitido."},
    {431, "Demasiadas cabeceras."},
    {500, "Error interno del servidor."},
}};

// Texts that more than one refusal uses.
constexpr const char* kLengthRequired = "Falta la longitud del informe (Content-Length).";
constexpr const char* kReportTooLarge = "El informe supera el tamaño máximo de 2 MiB.";

const char* statusText(int status) {
    for (const StatusText& entry : kStatusTexts) {
        if (entry.status == status) {
            return entry.text;
        }
    }
    return status < 500 ? "Petición rechazada." : "Error del servidor.";
}

void refuse(Response& res, int status, const char* text) {
    res.status = status;
    res.set_content(text, kTextType);
}

void refuse(Response& res, int status) {
    refuse(res, status, statusText(status));
}

// httplib 0.11 answers a Range header with parts of any answer, refusals
// included, and compresses text when Accept-Encoding allows it; neither can be
// turned off. The client takes the body as the token or receipt code byte for
// byte, and a proxy on the way may add either header, so both are dropped, as
// HTTP allows. The request is httplib's own mutable object, handed over as const.
void answerWholeAndPlain(const Request& req) {
    Request& request = const_cast<Request&>(req);
    request.ranges.clear();
    request.headers.erase("Accept-Encoding");
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

std::optional<std::uint64_t> parseContentLength(const std::string& text) {
    if (text.empty() || text.size() > 19) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

bool isIpAddress(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

std::string trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::int64_t unixMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string sslErrors() {
    std::string text;
    while (unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += text.empty() ? "" : "; ";
        text += buffer;
    }
    return text.empty() ? "error de OpenSSL" : text;
}

// Gives access to the listening socket, to lengthen httplib's accept backlog.
template <class Base> class ListeningServer : public Base {
  public:
    using Base::Base;
    bool lengthenBacklog(int backlog) {
        return ::listen(this->svr_sock_, backlog) == 0;
    }
};

} // namespace

bool isLoopbackAddress(const std::string& address) {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        return IN6_IS_ADDR_LOOPBACK(&v6);
    }
    return address == "localhost";
}

struct CollectionService::Handlers {
    CollectionService& service;

    std::string clientAddress(const Request& req) const {
        // Behind the reverse proxy every peer is the proxy; it appends the real
        // peer as the last X-Forwarded-For entry.
        if (!service.usesTls() && req.has_header("X-Forwarded-For")) {
            std::string chain = req.get_header_value(
                "X-Forwarded-For", req.get_header_value_count("X-Forwarded-For") - 1);
            std::size_t comma = chain.rfind(',');
            std::string last = trim(comma == std::string::npos ? chain : chain.substr(comma + 1));
            if (isIpAddress(last)) {
                return last;
            }
        }
        return req.remote_addr;
    }

    httplib::Server::HandlerResponse preRoute(const Request& req, Response& res) {
        trace.active = true;
        trace.start = std::chrono::steady_clock::now();
        trace.bytesIn = 0;
        trace.client = clientAddress(req);

        answerWholeAndPlain(req);
        // Refusals are decided here, before httplib reads any body.
        if (req.headers.size() > kMaxRequestHeaders + kHeadersAddedByHttplib) {
            refuse(res, 431);
            return httplib::Server::HandlerResponse::Handled;
        }
        const Route* route = nullptr;
        for (const Route& candidate : kRoutes) {
            if (req.path == candidate.path) {
                route = &candidate;
            }
        }
        if (route == nullptr) {
            refuse(res, 404);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!allows(*route, req.method)) {
            res.set_header("Allow", route->allow);
            refuse(res, 405);
            return httplib::Server::HandlerResponse::Handled;
        }
        bool post = req.method == "POST";
        if (!post &&
            (req.has_header("Transfer-Encoding") ||
             (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0"))) {
            refuse(res, 400, "Esta petición no lleva cuerpo.");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    }

    void issueToken(const Request&, Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(service.tokens_.issue(), kTextType);
    }

    void privacyPage(const Request&, Response& res) {
        res.set_header("Cache-Control", "no-cache");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'");
        res.set_content(
            renderPrivacyPage(service.settings_.retentionDays, service.settings_.operatorName),
            "text/html; charset=utf-8");
    }

    // Checks the framing of the body from the headers alone and gives the
    // declared length. False after refusing.
    bool acceptableFraming(const Request& req, Response& res, std::size_t& declared) {
        declared = 0;
        if (req.has_header("Content-Encoding") &&
            !equalsIgnoringCase(req.get_header_value("Content-Encoding"), "identity")) {
            refuse(res, 415, "Codificación del informe no admitida.");
            return false;
        }
        // The tool always sends Content-Length, and a proxy in front re-frames
        // a chunked body with one. httplib reads chunk-size lines without any
        // bound before a handler sees a byte, so chunked bodies are never read.
        if (req.has_header("Transfer-Encoding")) {
            refuse(res, 411, kLengthRequired);
            return false;
        }
        std::size_t lengths = req.get_header_value_count("Content-Length");
        if (lengths == 0) {
            refuse(res, 411, kLengthRequired);
            return false;
        }
        std::optional<std::uint64_t> length =
            lengths == 1 ? parseContentLength(req.get_header_value("Content-Length"))
                         : std::nullopt;
        if (!length) {
            refuse(res, 400, "Longitud del informe no válida.");
            return false;
        }
        if (*length > kMaxReportBytes) {
            refuse(res, 413, kReportTooLarge);
            return false;
        }
        declared = static_cast<std::size_t>(*length);
        return true;
    }

    // Checks the token and marks it used. False after refusing.
    bool acceptableToken(const Request& req, Response& res) {
        std::size_t count = req.get_header_value_count("X-ZEQ-Token");
        if (count == 0) {
            refuse(res, 401, "Falta el token.");
            return false;
        }
        TokenCheck check =
            count == 1 ? service.tokens_.check(req.get_header_value("X-ZEQ-Token")) : TokenCheck{};
        switch (check.status) {
        case TokenStatus::Valid:
            break;
        case TokenStatus::Expired:
            refuse(res, 403, "Token caducado.");
            return false;
        case TokenStatus::Malformed:
        case TokenStatus::Forged:
        case TokenStatus::NotYetValid:
            refuse(res, 403, "Token no válido.");
            return false;
        }
        if (!service.store_.consumeToken(check.nonce, check.expiresAt)) {
            refuse(res, 403, "Token ya usado.");
            return false;
        }
        return true;
    }

    // Reads the body within the size and time limits. False after refusing.
    bool readBody(const ContentReader& reader, Response& res, std::string& body) {
        using std::chrono::seconds;
        SteadyTime deadline = trace.start + seconds(service.settings_.bodyTimeoutSeconds);
        SteadyTime lastData = std::chrono::steady_clock::now();
        bool tooLarge = false;
        bool tooSlow = false;
        bool complete = reader([&](const char* data, std::size_t size) {
            lastData = std::chrono::steady_clock::now();
            // A client that trickles its bytes never trips the read time-out;
            // the deadline bounds the whole body.
            if (lastData > deadline) {
                tooSlow = true;
                return false;
            }
            if (body.size() + size > kMaxReportBytes) {
                tooLarge = true;
                return false;
            }
            body.append(data, size);
            return true;
        });
        trace.bytesIn = body.size();
        if (complete) {
            return true;
        }
        bool silent = std::chrono::steady_clock::now() - lastData >=
                      seconds(service.settings_.readTimeoutSeconds);
        if (tooLarge) {
            refuse(res, 413, kReportTooLarge);
        } else if (tooSlow || silent) {
            refuse(res, 408, "El informe no llegó a tiempo.");
        } else {
            refuse(res, 400, "El informe llegó incompleto.");
        }
        return false;
    }

    void receiveReport(const Request& req, Response& res, const ContentReader& reader) {
        res.set_header("Cache-Control", "no-store");
        std::size_t declared = 0;
        if (!acceptableFraming(req, res, declared) || !acceptableToken(req, res)) {
            return;
        }
        std::string body;
        body.reserve(declared);
        if (!readBody(reader, res, body)) {
            return;
        }
        EnvelopeCheck envelope = checkReport(body);
        if (envelope.problem != ReportProblem::None) {
            refuse(res, 400, describeProblem(envelope.problem));
            return;
        }
        StoreOutcome outcome =
            service.store_.store(envelope.reportId, body, service.clock_(), trace.client);
        if (outcome.result == StoreResult::Conflict) {
            refuse(res, 409, "Ya hay otro informe con el mismo report_id.");
            return;
        }
        res.status = 200;
        res.set_content(outcome.code, kTextType);
    }

    httplib::Server::HandlerResponse fillErrorText(const Request& req, Response& res) {
        // Also for httplib's own refusals, which never pass through preRoute.
        answerWholeAndPlain(req);
        if (res.body.empty()) {
            refuse(res, res.status);
        }
        return httplib::Server::HandlerResponse::Handled;
    }

    void failed(const Request&, Response& res, std::exception_ptr error) {
        std::string what = "excepción desconocida";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        writeLogLine("zeq-server: error: " + what);
        refuse(res, 500);
    }

    void log(const Request& req, const Response& res) {
        RequestRecord record;
        record.unixMillis = unixMillis();
        record.client = trace.active ? trace.client : req.remote_addr;
        record.method = req.method;
        record.path = req.path;
        record.status = res.status;
        record.bytesIn = trace.active ? trace.bytesIn : req.body.size();
        record.bytesOut = res.body.size();
        record.millis = trace.active ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - trace.start)
                                           .count()
                                     : 0;
        trace.active = false;
        writeLogLine(formatRequestLine(record));
    }
};

CollectionService::CollectionService(ServiceSettings settings, ReportStore& store,
                                     const TokenAuthority& tokens, Clock clock)
    : settings_(std::move(settings)), store_(store), tokens_(tokens), clock_(std::move(clock)),
      handlers_(std::make_unique<Handlers>(Handlers{*this})) {}

CollectionService::~CollectionService() = default;

int CollectionService::bind() {
    if (settings_.certFile.empty() != settings_.keyFile.empty()) {
        throw std::runtime_error("--cert y --key van juntos");
    }
    if (!usesTls() && !isLoopbackAddress(settings_.address)) {
        throw std::runtime_error("sin --cert y --key solo se admite una dirección local "
                                 "(127.0.0.1 o ::1) detrás de un proxy inverso con HTTPS");
    }
    if (usesTls()) {
        std::string certFile = settings_.certFile;
        std::string keyFile = settings_.keyFile;
        auto server = std::make_unique<ListeningServer<httplib::SSLServer>>([certFile, keyFile](
                                                                                SSL_CTX& context) {
            SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
            SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                              SSL_OP_CIPHER_SERVER_PREFERENCE);
            return SSL_CTX_use_certificate_chain_file(&context, certFile.c_str()) == 1 &&
                   SSL_CTX_use_PrivateKey_file(&context, keyFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
                   SSL_CTX_check_private_key(&context) == 1;
        });
        if (!server->is_valid()) {
            throw std::runtime_error("no se pueden cargar el certificado " + certFile +
                                     " y la clave " + keyFile + ": " + sslErrors());
        }
        server_ = std::move(server);
    } else {
        server_ = std::make_unique<ListeningServer<httplib::Server>>();
    }

    Handlers& h = *handlers_;
    int seconds = settings_.readTimeoutSeconds;
    int threads = settings_.threads;
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // One request per connection: the client opens a new one for each request,
    // and a refused body is then never left to be misread as a next request.
    server_->set_keep_alive_max_count(1);
    server_->set_keep_alive_timeout(seconds);
    server_->set_read_timeout(seconds, 0);
    server_->set_write_timeout(seconds, 0);
    // httplib applies this to the report's body too; the handler has checked
    // the declared length against the same limit before it reads anything.
    server_->set_payload_max_length(kMaxReportBytes);
    server_->set_tcp_nodelay(true);
    server_->set_socket_options([](int socket) {
        // Not SO_REUSEPORT (httplib's default): a second server on the same
        // port must fail to start rather than share the connections.
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server_->set_pre_routing_handler(
        [&h](const Request& req, Response& res) { return h.preRoute(req, res); });
    server_->Get(kTokenPath, [&h](const Request& req, Response& res) { h.issueToken(req, res); });
    server_->Get(kPrivacyPath,
                 [&h](const Request& req, Response& res) { h.privacyPage(req, res); });
    server_->Post(kReportPath,
                  [&h](const Request& req, Response& res, const ContentReader& reader) {
                      h.receiveReport(req, res, reader);
                  });
    server_->set_error_handler(httplib::Server::HandlerWithResponse(
        [&h](const Request& req, Response& res) { return h.fillErrorText(req, res); }));
    server_->set_exception_handler([&h](const Request& req, Response& res,
                                        std::exception_ptr error) { h.failed(req, res, error); });
    server_->set_logger([&h](const Request& req, const Response& res) { h.log(req, res); });

    int port = settings_.port;
    if (port == 0) {
        port = server_->bind_to_any_port(settings_.address);
    } else if (!server_->bind_to_port(settings_.address, port)) {
        port = -1;
    }
    if (port <= 0) {
        throw std::runtime_error("no se puede escuchar en " + settings_.address + " puerto " +
                                 std::to_string(settings_.port) +
                                 " (¿puerto ocupado o sin permiso?)");
    }
    bool lengthened =
        usesTls() ? static_cast<ListeningServer<httplib::SSLServer>&>(*server_).lengthenBacklog(
                        kListenBacklog)
                  : static_cast<ListeningServer<httplib::Server>&>(*server_).lengthenBacklog(
                        kListenBacklog);
    if (!lengthened) {
        throw std::runtime_error("no se puede escuchar en " + settings_.address + " puerto " +
                                 std::to_string(port) + ": " + std::strerror(errno));
    }
    return port;
}

bool CollectionService::run() {
    return server_->listen_after_bind();
}

void CollectionService::stop() {
    if (server_) {
        server_->stop();
    }
}

bool CollectionService::running() const {
    return server_ && server_->is_running();
}

} // namespace zeq
