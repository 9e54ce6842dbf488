#pragma once

// What the nginx suites share: one zeq-server on plain HTTP at 127.0.0.1 and
// Debian's nginx with the repository's upload site (ZEQ_NGINX_SITE, which
// their targets define) in front of it, for the whole suite.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/http_client.h"
#include "support/nginx_process.h"
#include "support/server_process.h"

namespace zeq::test {

class NginxSuite : public ::testing::Test {
  protected:
    static inline const std::string kBinary = ZEQ_SERVER_BINARY;
    static inline const std::string kSite = ZEQ_NGINX_SITE;
    static inline const std::string kCerts = ZEQ_TEST_CERT_DIR;
    static inline const std::string kCa = kCerts + "/ca.pem";

    static void SetUpTestSuite() {
        startServerAndNginx();
    }
    // The server gets `more` after its address, port and database.
    static void startServerAndNginx(const std::vector<std::string>& more = {}) {
        ignoreBrokenPipes();
        dir_ = new TempDir;
        std::vector<std::string> args = {kBinary,  "serve", "--address", "127.0.0.1",
                                         "--port", "0",     "--db",      database()};
        args.insert(args.end(), more.begin(), more.end());
        server_ = new ServerProcess(args, dir_->file("server.log"));
        nginx_ = new NginxProcess(kSite, server_->port(), kCerts);
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete server_;
        delete dir_;
    }

    static std::string database() {
        return dir_->file("reports.db");
    }

    static inline TempDir* dir_ = nullptr;
    static inline ServerProcess* server_ = nullptr;
    static inline NginxProcess* nginx_ = nullptr;
};

} // namespace zeq::test
