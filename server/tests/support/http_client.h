#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeq::test {

struct HttpResponse {
    int status = 0; // 0: no parseable answer (connection failed or closed early)
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string header(const std::string& lowerName) const;
};

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One connection to 127.0.0.1, over TLS 1.2 (as the Windows client speaks it,
// verifying the server's certificate for "localhost" against the test CA) or
// over plain TCP, from the client's source address (see HttpClient). Writes
// and reads are raw, so tests can frame requests any way they like; every
// socket operation has a time-out.
class Connection {
  public:
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool write(std::string_view bytes);
    // Writes in pieces and stops early when the server has begun to answer.
    // True when everything was written.
    bool writeUnlessAnswered(std::string_view bytes, std::size_t piece = 16384);
    bool answerPending(int waitMillis = 0) const;
    // Reads the answer to its end (Content-Length, or the server's close). The
    // answer to a HEAD request has no body, whatever its Content-Length says.
    HttpResponse readResponse(bool toHead = false);
    // Reads until marker has arrived, the connection ends or limit bytes are
    // in, and returns all it read (which may go past the marker). For interim
    // answers, e.g. readUntil("\r\n\r\n") for a "100 Continue".
    std::string readUntil(std::string_view marker, std::size_t limit = 65536);

  private:
    friend class HttpClient;
    Connection(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
    long readSome(char* buffer, std::size_t size);

    int fd_;
    SSL* ssl_;
};

class HttpClient {
  public:
    // caFile empty: plain HTTP. sourceAddress: as sourceAddress() below.
    HttpClient(int port, const std::string& caFile, const std::string& sourceAddress = {});
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The local address every later connection is made from, so one test can
    // act as several clients: an IPv4 loopback address such as "127.0.0.2"
    // (all of 127.0.0.0/8 is local on Linux, no set-up needed). Empty, the
    // default: the system chooses (127.0.0.1). The socket is bound to it
    // before connect(); the port is still chosen at connect() time
    // (IP_BIND_ADDRESS_NO_PORT), so many connections from one address do not
    // run out of ports. Throws std::invalid_argument for anything that is not
    // a dotted IPv4 address. Returns *this:
    //     HttpClient client(port, caFile);
    //     client.sourceAddress("127.0.0.2").getToken();
    HttpClient& sourceAddress(const std::string& address);
    const std::string& sourceAddress() const {
        return sourceText_;
    }

    std::unique_ptr<Connection> connect(std::string* error = nullptr) const;

    // One request on a connection of its own, like every request of the client.
    HttpResponse request(const std::string& method, const std::string& path,
                         const HeaderList& headers = {}, std::optional<std::string> body = {});
    // The two requests of one submission: token, then report with that token.
    HttpResponse getToken();
    HttpResponse postReport(const std::string& token, const std::string& report);

    static std::string requestHead(const std::string& method, const std::string& path,
                                   const HeaderList& headers);

  private:
    int port_;
    SSL_CTX* context_ = nullptr;
    std::string sourceText_;   // as given; empty: unbound
    std::uint32_t source_ = 0; // network byte order
};

// Whether a TLS handshake with the server succeeds when the client offers only
// the protocol versions and TLS 1.2 cipher suites given.
bool tlsHandshakeSucceeds(int port, const std::string& caFile, int minVersion, int maxVersion,
                          const std::string& ciphers);

// The offers a server for the tool must answer (TLS 1.2 with the suites
// Windows 7 has for an ECDSA certificate, or newer) and must refuse (TLS 1.0
// and 1.1, a null cipher), each described where the server did otherwise.
std::vector<std::string> tlsOffersAnsweredWrongly(int port, const std::string& caFile);

// Ignores SIGPIPE in the test process: a server that closes while a test still
// writes must fail the write, not end the test.
void ignoreBrokenPipes();

} // namespace zeq::test
