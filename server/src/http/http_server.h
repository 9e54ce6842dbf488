#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeq::http {

// What every connection is held to, whatever its client does.
struct Limits {
    std::chrono::seconds headDeadline{5};   // TLS handshake and the whole request head
    std::size_t maxHeadBytes = 16 * 1024;   // request line and header lines together
    std::size_t maxHeaderLines = 100;       // larger heads are refused with 431
    std::chrono::seconds idleTimeout{10};   // longest silence while a body comes or an answer goes
    std::chrono::seconds bodyDeadline{120}; // from the end of the head to the last body byte
    std::size_t maxBodyBytes = 2 * 1024 * 1024; // also what is read and discarded after a refusal
    std::size_t maxConnectionsPerClient = 64;   // per address group; 0: no cap (behind a proxy)
    std::size_t maxConnections = 4096;          // all clients together
    // Bodies being received at once, each up to maxBodyBytes in memory; one
    // more is refused with 503 (and drained) rather than grow the process.
    std::size_t maxBodiesAtOnce = 128;
    // Of those, how many one address group may hold (0: no cap; behind a proxy,
    // where every client has the proxy's address); one more is refused with 429.
    std::size_t maxBodiesPerClient = 0;
    std::chrono::seconds shutdownGrace{10}; // how long stop() lets finished requests be answered
    int ioThreads = 2;
    int workerThreads = 4; // the application's handlers run here, never on the I/O threads
};

struct Field {
    std::string name;
    std::string value;
};

struct RequestHead {
    std::string method;
    std::string target; // as sent
    std::string path;   // the target without its query
    std::vector<Field> fields;
    std::string peerAddress;

    // Header look-ups ignore the case of the name.
    std::size_t count(std::string_view name) const;
    bool has(std::string_view name) const {
        return count(name) != 0;
    }
    // The index-th value of the header, or "" when there are fewer.
    std::string value(std::string_view name, std::size_t index = 0) const;
};

struct Response {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<Field> headers;
    std::string body;
    bool headOnly = false; // the answer to HEAD: Content-Length of the body, no body
};

// What the application makes of a head: an answer now, or the body first.
struct HeadDecision {
    std::optional<Response> answer;
    std::size_t bodyBytes = 0; // the declared length, at most Limits::maxBodyBytes
};

// The application behind the server. Its calls run on worker threads, several
// at once, and may block (on the database).
class Application {
  public:
    virtual ~Application() = default;
    // The address logs and quotas name: the peer, or the one a trusted proxy forwards.
    virtual std::string clientAddress(const RequestHead& head) = 0;
    virtual HeadDecision decide(const RequestHead& head, const std::string& client) = 0;
    virtual Response respond(const RequestHead& head, const std::string& client,
                             std::string body) = 0;
    // The text of an answer the server makes itself (408, 413, 431, 500…).
    virtual Response refusal(int status) = 0;
};

struct TlsFiles {
    std::string certificateChain; // PEM
    std::string privateKey;       // PEM
};

// An event-driven HTTP/1.1 server, plain or over TLS 1.2+, one request per
// connection. Every connection is bounded in time and size by Limits; the
// application sees only complete heads and complete bodies.
class Server {
  public:
    Server(Application& application, Limits limits);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Loads the certificate when given (throws std::runtime_error with a message
    // for the operator) and binds; returns the port (any free one for port 0).
    int bind(const std::string& address, int port, const std::optional<TlsFiles>& tls);
    // Serves until stop() has let the finished requests be answered, or its
    // grace period has passed. False when accepting failed on its own.
    bool run();
    // Closes the listener and every connection still sending; requests whose
    // body is complete are answered. Safe from any thread, before or during run().
    void stop();
    bool running() const;

    struct State; // the connections' shared state, defined with them

  private:
    std::shared_ptr<State> state_;
};

} // namespace zeq::http
