#pragma once

#include <memory>
#include <string>
#include <vector>

#include "accounts/sessions.h"
#include "base/clock.h"
#include "store/report_store.h"

namespace zeq {

namespace http {
class Server;
}

struct ConsoleSettings {
    std::string address = "127.0.0.1";
    int port = 8443;      // 0: any free port (reported by bind())
    std::string certFile; // empty with keyFile: plain HTTP, on a loopback address only
    std::string keyFile;
    accounts::SessionLimits sessionLimits;
    int threads = 2;
    int shutdownSeconds = 10;
};

// The technicians' console: its own listener and pages, beside (never on) the
// upload listener. Reports are read through a read-only connection of the
// console's own (store/report_reader.h), so browsing never holds up an upload;
// imports and deletions go through the store. Accounts, sessions and the audit
// live in the same database on their own connection.
class ConsoleService {
  public:
    // formKey signs the anti-forgery tokens of the console's forms.
    ConsoleService(ConsoleSettings settings, ReportStore& store, const std::string& databasePath,
                   std::vector<unsigned char> formKey, Clock clock);
    ~ConsoleService();
    ConsoleService(const ConsoleService&) = delete;
    ConsoleService& operator=(const ConsoleService&) = delete;

    // Binds the listening socket; returns the port. Throws std::runtime_error
    // with a message for the technician.
    int bind();
    bool run();
    void stop();
    bool running() const;
    bool usesTls() const {
        return !settings_.certFile.empty();
    }

  private:
    struct Pages;

    ConsoleSettings settings_;
    std::unique_ptr<Pages> pages_;
    std::unique_ptr<http::Server> server_;
};

} // namespace zeq
