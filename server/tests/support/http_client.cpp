#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace zeq::test {

namespace {

constexpr int kSocketTimeoutSeconds = 30;
constexpr std::size_t kMaxResponseBytes = 8 << 20; // a 2 MiB report's console page is larger

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

HttpResponse parseResponse(const std::string& raw, bool toHead) {
    HttpResponse response;
    std::size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0 || raw.size() < 12) {
        return response;
    }
    std::size_t lineEnd = raw.find("\r\n");
    std::string statusText = raw.substr(9, 3);
    if (!std::all_of(statusText.begin(), statusText.end(), ::isdigit)) {
        return response;
    }
    std::size_t pos = lineEnd + 2;
    while (pos < headEnd) {
        std::size_t end = raw.find("\r\n", pos);
        std::string line = raw.substr(pos, end - pos);
        std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            response.headers.emplace(lower(line.substr(0, colon)), value);
        }
        pos = end + 2;
    }
    response.body = raw.substr(headEnd + 4);
    auto length = response.headers.find("content-length");
    if (length != response.headers.end() && !toHead) {
        std::size_t expected = std::stoul(length->second);
        if (response.body.size() < expected) {
            return HttpResponse{}; // cut off: not an answer
        }
        response.body.resize(expected);
    }
    response.status = std::stoi(statusText);
    return response;
}

} // namespace

std::string HttpResponse::header(const std::string& lowerName) const {
    auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

bool tlsHandshakeSucceeds(int port, const std::string& caFile, int minVersion, int maxVersion,
                          const std::string& ciphers) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        return false;
    }
    // Level 0 lets this client offer what the server must refuse.
    SSL_CTX_set_security_level(context, 0);
    SSL_CTX_set_min_proto_version(context, minVersion);
    SSL_CTX_set_max_proto_version(context, maxVersion);
    SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    bool ok = SSL_CTX_set_cipher_list(context, ciphers.c_str()) == 1;
    int fd = ok ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    SSL* ssl = fd >= 0 ? SSL_new(context) : nullptr;
    if (ssl != nullptr) {
        timeval timeout{kSocketTimeoutSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        SSL_set_fd(ssl, fd);
        SSL_set1_host(ssl, "localhost");
        ok = ok && SSL_connect(ssl) == 1;
        SSL_free(ssl);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    SSL_CTX_free(context);
    ERR_clear_error();
    return ok && ssl != nullptr;
}

std::vector<std::string> tlsOffersAnsweredWrongly(int port, const std::string& caFile) {
    struct Offer {
        int minVersion, maxVersion;
        const char* ciphers;
        bool answered;
    };
    const Offer offers[] = {
        {TLS1_2_VERSION, TLS1_2_VERSION, "ECDHE-ECDSA-AES128-GCM-SHA256", true},
        {TLS1_2_VERSION, TLS1_2_VERSION, "ECDHE-ECDSA-AES256-GCM-SHA384", true},
        {TLS1_2_VERSION, TLS1_2_VERSION, "ECDHE-ECDSA-AES128-SHA256", true},
        {TLS1_2_VERSION, TLS1_3_VERSION, "DEFAULT", true},
        {TLS1_VERSION, TLS1_1_VERSION, "DEFAULT:@SECLEVEL=0", false},
        {TLS1_VERSION, TLS1_VERSION, "DEFAULT:@SECLEVEL=0", false},
        {TLS1_2_VERSION, TLS1_2_VERSION, "ECDHE-ECDSA-NULL-SHA:@SECLEVEL=0", false},
    };
    std::vector<std::string> wrong;
    for (const Offer& o : offers) {
        if (tlsHandshakeSucceeds(port, caFile, o.minVersion, o.maxVersion, o.ciphers) !=
            o.answered) {
            char described[160];
            std::snprintf(described, sizeof described, "%s up to version 0x%x %s", o.ciphers,
                          static_cast<unsigned>(o.maxVersion), o.answered ? "refused" : "answered");
            wrong.push_back(described);
        }
    }
    return wrong;
}

void ignoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}

Connection::~Connection() {
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
    }
    ::close(fd_);
}

bool Connection::write(std::string_view bytes) {
    while (!bytes.empty()) {
        long written;
        if (ssl_ != nullptr) {
            int n = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
            written = n > 0 ? n : -1;
        } else {
            written = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (written < 0 && errno == EINTR) {
                continue;
            }
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool Connection::answerPending(int waitMillis) const {
    if (ssl_ != nullptr && SSL_pending(ssl_) > 0) {
        return true;
    }
    pollfd entry{fd_, POLLIN, 0};
    return ::poll(&entry, 1, waitMillis) > 0;
}

bool Connection::writeUnlessAnswered(std::string_view bytes, std::size_t piece) {
    while (!bytes.empty()) {
        if (answerPending()) {
            return false;
        }
        std::size_t size = std::min(piece, bytes.size());
        if (!write(bytes.substr(0, size))) {
            return false;
        }
        bytes.remove_prefix(size);
    }
    return true;
}

long Connection::readSome(char* buffer, std::size_t size) {
    if (ssl_ != nullptr) {
        int n = SSL_read(ssl_, buffer, static_cast<int>(size));
        return n > 0 ? n : 0;
    }
    for (;;) {
        long n = ::recv(fd_, buffer, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0 ? n : 0;
    }
}

std::string Connection::readUntil(std::string_view marker, std::size_t limit) {
    std::string raw;
    char buffer[4096];
    while (raw.find(marker) == std::string::npos && raw.size() < limit) {
        long n = readSome(buffer, std::min(sizeof buffer, limit - raw.size()));
        if (n <= 0) {
            break;
        }
        raw.append(buffer, static_cast<std::size_t>(n));
    }
    return raw;
}

HttpResponse Connection::readResponse(bool toHead) {
    std::string raw;
    char buffer[16384];
    std::size_t complete = std::string::npos; // bytes of a whole answer, once known
    for (;;) {
        long n = readSome(buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        raw.append(buffer, static_cast<std::size_t>(n));
        if (raw.size() > kMaxResponseBytes) {
            break;
        }
        // The head is parsed once it is whole; then only the length is watched,
        // so a large body is not parsed again for every piece that arrives.
        if (complete == std::string::npos && raw.find("\r\n\r\n") != std::string::npos) {
            HttpResponse head = parseResponse(raw.substr(0, raw.find("\r\n\r\n") + 4), true);
            auto length = head.headers.find("content-length");
            if (head.status != 0 && length != head.headers.end()) {
                complete = toHead ? 0 : raw.find("\r\n\r\n") + 4 + std::stoul(length->second);
            }
        }
        if (complete != std::string::npos && raw.size() >= complete) {
            break;
        }
    }
    return parseResponse(raw, toHead);
}

HttpClient::HttpClient(int port, const std::string& caFile, const std::string& sourceAddress)
    : port_(port) {
    this->sourceAddress(sourceAddress);
    if (caFile.empty()) {
        return;
    }
    context_ = SSL_CTX_new(TLS_client_method());
    if (context_ == nullptr) {
        throw std::runtime_error("SSL_CTX_new failed");
    }
    // The Windows client allows TLS 1.2 only, and makes a full handshake for
    // every request (a new session each time).
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context_, SSL_OP_NO_TICKET);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(context_, caFile.c_str(), nullptr) != 1) {
        SSL_CTX_free(context_);
        throw std::runtime_error("cannot load test CA " + caFile);
    }
}

HttpClient::~HttpClient() {
    SSL_CTX_free(context_);
}

HttpClient& HttpClient::sourceAddress(const std::string& address) {
    in_addr parsed{};
    if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        throw std::invalid_argument("not an IPv4 source address: " + address);
    }
    sourceText_ = address;
    source_ = parsed.s_addr;
    return *this;
}

std::unique_ptr<Connection> HttpClient::connect(std::string* error) const {
    auto fail = [error](const std::string& what) {
        if (error != nullptr) {
            *error = what;
        }
        return nullptr;
    };
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return fail(std::string("socket: ") + std::strerror(errno));
    }
    timeval timeout{kSocketTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    if (!sourceText_.empty()) {
        // Port chosen by connect(), per destination, not by bind().
        setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &yes, sizeof yes);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = source_;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            std::string what = "bind " + sourceText_ + ": " + std::strerror(errno);
            ::close(fd);
            return fail(what);
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::string what = std::string("connect: ") + std::strerror(errno);
        ::close(fd);
        return fail(what);
    }
    if (context_ == nullptr) {
        return std::unique_ptr<Connection>(new Connection(fd, nullptr));
    }
    SSL* ssl = SSL_new(context_);
    std::unique_ptr<Connection> connection(new Connection(fd, ssl));
    if (ssl == nullptr) {
        return fail("SSL_new failed");
    }
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, "localhost");
    SSL_set1_host(ssl, "localhost");
    if (SSL_connect(ssl) != 1) {
        char text[256];
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        return fail(std::string("TLS handshake: ") + text);
    }
    return connection;
}

std::string HttpClient::requestHead(const std::string& method, const std::string& path,
                                    const HeaderList& headers) {
    std::string head =
        method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + "User-Agent: ZEQ-Health/1.0\r\n";
    for (const auto& [name, value] : headers) {
        head += name + ": " + value + "\r\n";
    }
    return head + "\r\n";
}

namespace {

// One request on a connection of its own; body null: none. (A body passed down
// as a pointer, not as a std::optional temporary: GCC 12's -O2 warns that such
// a temporary may be used uninitialised when getToken() is inlined.)
HttpResponse exchange(const HttpClient& client, const std::string& method, const std::string& path,
                      const HeaderList& headers, const std::string* body) {
    std::unique_ptr<Connection> connection = client.connect();
    if (!connection) {
        return {};
    }
    HeaderList all = headers;
    if (body) {
        all.emplace_back("Content-Length", std::to_string(body->size()));
    }
    if (!connection->write(HttpClient::requestHead(method, path, all))) {
        return {};
    }
    if (body) {
        connection->writeUnlessAnswered(*body);
    }
    return connection->readResponse(method == "HEAD");
}

} // namespace

HttpResponse HttpClient::request(const std::string& method, const std::string& path,
                                 const HeaderList& headers, std::optional<std::string> body) {
    return exchange(*this, method, path, headers, body ? &*body : nullptr);
}

HttpResponse HttpClient::getToken() {
    return exchange(*this, "GET", "/api/token.php", {{"Content-Type", "application/json"}},
                    nullptr);
}

HttpResponse HttpClient::postReport(const std::string& token, const std::string& report) {
    return exchange(*this, "POST", "/api/report.php",
                    {{"Content-Type", "application/json"}, {"X-ZEQ-Token", token}}, &report);
}

} // namespace zeq::test
