#include "upload/collection_service.h"

#include <strings.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/disk_space.h"
#include "base/request_log.h"
#include "base/text_shapes.h"
#include "http/http_server.h"
#include "http/listener.h"
#include "upload/privacy_page.h"
#include "upload/report_envelope.h"

namespace zeq {

namespace {

using http::HeadDecision;
using http::RequestHead;
using http::Response;

constexpr const char* kTokenPath = "/api/token.php";
constexpr const char* kReportPath = "/api/report.php";
constexpr const char* kPrivacyPath = "/privacy.php";

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

// The refusal texts that the status alone decides, for the service's refusals
// and for those the HTTP layer makes itself.
struct StatusText {
    int status;
    const char* text;
};
constexpr std::array<StatusText, 10> kStatusTexts = {{
    {400, "Petición no válida."},
    {404, "No encontrado."},
    {405, "Método no admitido."},
    {408, "Tiempo de espera agotado."},
    {411, "Falta la longitud del informe (Content-Length)."},
    {413, "El informe supera el tamaño máximo de 2 MiB."},
    {429, "Demasiadas peticiones; vuelva a intentarlo más tarde."},
    {431, "Demasiadas cabeceras."},
    {500, "Error interno del servidor."},
    {503, "Servicio no disponible; vuelva a intentarlo más tarde."},
}};

const char* statusText(int status) {
    for (const StatusText& entry : kStatusTexts) {
        if (entry.status == status) {
            return entry.text;
        }
    }
    return status < 500 ? "Petición rechazada." : "Error del servidor.";
}

Response refusal(int status, const char* text) {
    Response response;
    response.status = status;
    response.body = text;
    response.headers.push_back({"Cache-Control", "no-store"});
    return response;
}

Response refusal(int status) {
    return refusal(status, statusText(status));
}

constexpr std::int64_t kDiskRetrySeconds = 600;
constexpr const char* kDiskLowText =
    "El servidor no tiene espacio para más informes; vuelva a intentarlo más tarde.";

HeadDecision answerNow(Response response) {
    HeadDecision decision;
    decision.answer = std::move(response);
    return decision;
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

} // namespace

struct CollectionService::Handlers : http::Application {
    explicit Handlers(CollectionService& owner) : service(owner) {}
    CollectionService& service;
    std::atomic<std::int64_t> lastDiskWarning{INT64_MIN / 2};

    std::string clientAddress(const RequestHead& head) override {
        return http::clientAddressOf(head, service.usesTls());
    }

    Response refusal(int status) override {
        return zeq::refusal(status);
    }

    HeadDecision decide(const RequestHead& head, const std::string&) override {
        const Route* route = nullptr;
        for (const Route& candidate : kRoutes) {
            if (head.path == candidate.path) {
                route = &candidate;
            }
        }
        if (route == nullptr) {
            return answerNow(zeq::refusal(404));
        }
        if (!allows(*route, head.method)) {
            Response response = zeq::refusal(405);
            response.headers.push_back({"Allow", route->allow});
            return answerNow(std::move(response));
        }
        if (head.method != "POST") {
            if (head.has("Transfer-Encoding") ||
                (head.has("Content-Length") && head.value("Content-Length") != "0")) {
                return answerNow(zeq::refusal(400, "Esta petición no lleva cuerpo."));
            }
            return answerNow(route->path == kTokenPath ? issueToken() : privacyPage(head));
        }
        return reportHead(head);
    }

    Response respond(const RequestHead&, const std::string& client, std::string body) override {
        return receiveReport(client, body);
    }

    Response issueToken() {
        Response response;
        response.headers.push_back({"Cache-Control", "no-store"});
        response.body = service.tokens_.issue();
        return response;
    }

    Response privacyPage(const RequestHead& head) {
        Response response;
        response.headers.push_back({"Cache-Control", "no-cache"});
        response.headers.push_back({"X-Content-Type-Options", "nosniff"});
        response.headers.push_back(
            {"Content-Security-Policy",
             "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'"});
        response.contentType = "text/html; charset=utf-8";
        response.body =
            renderPrivacyPage(service.settings_.retentionDays, service.settings_.operatorName);
        response.headOnly = head.method == "HEAD";
        return response;
    }

    // Everything about a report that the head decides: framing, size, token.
    HeadDecision reportHead(const RequestHead& head) {
        if (head.has("Content-Encoding") &&
            !equalsIgnoringCase(head.value("Content-Encoding"), "identity")) {
            return answerNow(zeq::refusal(415, "Codificación del informe no admitida."));
        }
        // The tool always sends Content-Length, and a proxy in front re-frames
        // a chunked body with one, so chunked bodies are never read.
        std::size_t lengths = head.count("Content-Length");
        if (head.has("Transfer-Encoding") || lengths == 0) {
            return answerNow(zeq::refusal(411));
        }
        std::optional<std::uint64_t> length =
            lengths == 1 ? parseDecimal(head.value("Content-Length"), UINT64_MAX) : std::nullopt;
        if (!length) {
            return answerNow(zeq::refusal(400, "Longitud del informe no válida."));
        }
        if (*length > kMaxReportBytes) {
            return answerNow(zeq::refusal(413));
        }
        if (std::optional<Response> refused = tokenRefusal(head)) {
            return answerNow(std::move(*refused));
        }
        HeadDecision decision;
        decision.bodyBytes = static_cast<std::size_t>(*length);
        return decision;
    }

    // Checks the token and marks it used; the refusal when it is not acceptable.
    std::optional<Response> tokenRefusal(const RequestHead& head) {
        std::size_t count = head.count("X-ZEQ-Token");
        if (count == 0) {
            return zeq::refusal(401, "Falta el token.");
        }
        TokenCheck check =
            count == 1 ? service.tokens_.check(head.value("X-ZEQ-Token")) : TokenCheck{};
        switch (check.status) {
        case TokenStatus::Valid:
            break;
        case TokenStatus::Expired:
            return zeq::refusal(403, "Token caducado.");
        case TokenStatus::Malformed:
        case TokenStatus::Forged:
        case TokenStatus::NotYetValid:
            return zeq::refusal(403, "Token no válido.");
        }
        if (!service.store_.consumeToken(check.nonce, check.expiresAt)) {
            return zeq::refusal(403, "Token ya usado.");
        }
        return std::nullopt;
    }

    // Logged at most once a minute while it lasts, so an operator sees it
    // without every refused upload adding a line.
    bool lowOnDisk() {
        std::optional<std::uint64_t> free = freeBytes(service.settings_.databaseDirectory);
        if (!free || *free >= service.settings_.minFreeDiskBytes) {
            return false;
        }
        std::int64_t now = service.clock_();
        std::int64_t last = lastDiskWarning.load();
        if (now - last >= 60 && lastDiskWarning.compare_exchange_strong(last, now)) {
            writeLogLine("zeq-server: poco espacio libre en " +
                         service.settings_.databaseDirectory + " (" + std::to_string(*free >> 20) +
                         " MiB, mínimo " +
                         std::to_string(service.settings_.minFreeDiskBytes >> 20) +
                         " MiB): se rechazan los informes nuevos");
        }
        return true;
    }

    Response receiveReport(const std::string& client, const std::string& body) {
        findings::ReportOverview overview;
        EnvelopeCheck envelope = checkReport(body, overview);
        if (envelope.problem != ReportProblem::None) {
            return zeq::refusal(400, describeProblem(envelope.problem));
        }
        bool diskLow = false;
        StoreOutcome outcome = service.store_.store(
            envelope.reportId, body, service.clock_(), client,
            [&] {
                if (diskLow = lowOnDisk(); diskLow) {
                    return QuotaDecision{false, kDiskRetrySeconds};
                }
                return service.quota_.charge(client, body.size());
            },
            nullptr, &overview);
        if (outcome.result == StoreResult::Conflict) {
            return zeq::refusal(409, "Ya hay otro informe con el mismo report_id.");
        }
        if (outcome.result == StoreResult::OverQuota) {
            Response response = diskLow ? zeq::refusal(503, kDiskLowText) : zeq::refusal(429);
            response.headers.push_back({"Retry-After", std::to_string(outcome.retryAfterSeconds)});
            return response;
        }
        Response response;
        response.headers.push_back({"Cache-Control", "no-store"});
        response.body = outcome.code;
        return response;
    }
};

CollectionService::CollectionService(ServiceSettings settings, ReportStore& store,
                                     const TokenAuthority& tokens, Clock clock)
    : settings_(std::move(settings)), store_(store), tokens_(tokens), clock_(std::move(clock)),
      quota_(settings_.quota, clock_), handlers_(std::make_unique<Handlers>(*this)) {}

CollectionService::~CollectionService() = default;

int CollectionService::bind() {
    std::optional<http::TlsFiles> tls = http::listenerTls(
        settings_.address, settings_.certFile, settings_.keyFile, "--cert y --key van juntos",
        "sin --cert y --key solo se admite una dirección local (127.0.0.1 o ::1) detrás de un "
        "proxy inverso con HTTPS");
    http::Limits limits;
    limits.headDeadline = std::chrono::seconds(settings_.headTimeoutSeconds);
    limits.idleTimeout = std::chrono::seconds(settings_.readTimeoutSeconds);
    limits.bodyDeadline = std::chrono::seconds(settings_.bodyTimeoutSeconds);
    limits.maxBodyBytes = kMaxReportBytes;
    // Behind the proxy every connection comes from the proxy, which caps each
    // client address itself.
    limits.maxConnectionsPerClient =
        usesTls() ? static_cast<std::size_t>(settings_.maxConnectionsPerClient) : 0;
    limits.maxConnections = static_cast<std::size_t>(settings_.maxConnections);
    limits.shutdownGrace = std::chrono::seconds(settings_.shutdownSeconds);
    limits.workerThreads = settings_.threads;
    server_ = std::make_unique<http::Server>(*handlers_, limits);
    return server_->bind(settings_.address, settings_.port, tls);
}

bool CollectionService::run() {
    return server_->run();
}

void CollectionService::stop() {
    if (server_) {
        server_->stop();
    }
}

bool CollectionService::running() const {
    return server_ && server_->running();
}

} // namespace zeq
