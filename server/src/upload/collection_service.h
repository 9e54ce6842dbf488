#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/clock.h"
#include "store/report_store.h"
#include "upload/quota.h"
#include "upload/token.h"

namespace zeq {

namespace http {
class Server;
}

struct ServiceSettings {
    std::string address = "127.0.0.1";
    int port = 443;               // 0: any free port (reported by bind())
    std::string certFile;         // certificate chain, PEM; empty with keyFile: plain HTTP
    std::string keyFile;          // private key, PEM
    int headTimeoutSeconds = 5;   // the TLS handshake and the whole request head
    int readTimeoutSeconds = 10;  // longest silence from a client
    int bodyTimeoutSeconds = 120; // longest time from the end of the headers to the last body byte
    int maxConnectionsPerClient = 64; // per address (IPv6: per /64); not behind a proxy
    int maxConnections = 4096;
    int shutdownSeconds = 10; // how long a stop waits for finished requests to be answered
    int threads = 4;          // for the handlers (the database)
    int retentionDays = 30;
    std::string operatorName;
    QuotaSettings quota;
    // Below this much free space where the database lives, new reports are
    // refused with 503 so that the disk never fills; stored ones stay readable.
    std::uint64_t minFreeDiskBytes = 1ull << 30;
    std::string databaseDirectory = ".";
};

// The HTTP(S) service: GET /api/token.php, POST /api/report.php, GET /privacy.php.
// Plain HTTP is only for a loopback address behind a reverse proxy, and then the
// client address is taken from the proxy's X-Forwarded-For.
class CollectionService {
  public:
    CollectionService(ServiceSettings settings, ReportStore& store, const TokenAuthority& tokens,
                      Clock clock);
    ~CollectionService();
    CollectionService(const CollectionService&) = delete;
    CollectionService& operator=(const CollectionService&) = delete;

    // Loads the certificate and binds the listening socket; returns the port.
    // Throws std::runtime_error with a message for the technician.
    int bind();
    // Serves until stop(); requests whose body has arrived are answered first.
    // False when listening failed on its own rather than by stop().
    bool run();
    // Stops accepting and closes connections still sending; safe from any thread.
    void stop();
    bool running() const;

    bool usesTls() const {
        return !settings_.certFile.empty();
    }

  private:
    struct Handlers;

    ServiceSettings settings_;
    ReportStore& store_;
    const TokenAuthority& tokens_;
    Clock clock_;
    UploadQuota quota_;
    std::unique_ptr<Handlers> handlers_;
    std::unique_ptr<http::Server> server_;
};

} // namespace zeq
