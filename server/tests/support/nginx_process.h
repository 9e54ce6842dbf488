#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/server_process.h"

namespace zeq::test {

// Debian's nginx, run as a child process with the repository's site file
// (deploy/nginx/zeq-server.conf) in front of a zeq-server that listens on plain
// HTTP at 127.0.0.1:upstreamPort.
//
// A temporary directory gets a copy of the site in which only the listen
// ports, the server's port, the certificate paths and the host name are
// replaced (siteSubstitutions() lists them; every one must match, so the site
// cannot drift away from what the test replaces), and a main nginx.conf that
// mirrors Debian 12's /etc/nginx/nginx.conf (its http-level defaults, gzip on
// included, which the site must override) with the pid file, logs and
// temporary paths moved into the directory and the site copy included in its
// http block. nginx is started as
//     nginx -p DIR -c DIR/nginx.conf -e DIR/error.log
// with `daemon off`, after `nginx -t` has checked the configuration, on free
// loopback ports picked at run time. The constructor returns once HTTPS on
// 127.0.0.1:port() accepts connections; the destructor stops nginx (SIGQUIT,
// then SIGTERM, then SIGKILL if it lingers) and waits for it.
class NginxProcess {
  public:
    using Substitutions = std::vector<std::pair<std::string, std::string>>;
    // The (text in the site, its replacement) pairs for the ports nginx is to
    // listen on (HTTPS on 127.0.0.1 and ::1, 0 for none).
    using SiteSubstitutions = std::function<Substitutions(int port, int ipv6Port)>;

    // certDir: the test certificates (server.pem, server.key) of
    // scripts/make-dev-certs.sh.
    NginxProcess(const std::string& siteFile, int upstreamPort, const std::string& certDir);
    // Another site, such as the console's, with its own replacements.
    NginxProcess(const std::string& siteFile, const SiteSubstitutions& substitutions);
    ~NginxProcess();
    NginxProcess(const NginxProcess&) = delete;
    NginxProcess& operator=(const NginxProcess&) = delete;

    // HTTPS on 127.0.0.1.
    int port() const {
        return port_;
    }
    // HTTPS on ::1; 0 when this machine has no IPv6 loopback (the site's IPv6
    // listen line is then commented out).
    int ipv6Port() const {
        return ipv6Port_;
    }
    pid_t pid() const {
        return pid_;
    }
    std::string errorLog() const;
    std::string accessLog() const;
    // The site as nginx runs it (the copy with the substitutions).
    std::string site() const;
    // CPU time (user + system) of the master and its worker processes so far.
    double cpuSeconds() const;

    // (text in the site, its replacement) pairs for the given ports and
    // certificates, in the order they are applied.
    static Substitutions siteSubstitutions(int port, int ipv6Port, int upstreamPort,
                                           const std::string& certDir);
    // The same for the console's site (deploy/nginx/zeq-console.conf), its
    // office allow-list replaced by the one address given.
    static Substitutions consoleSiteSubstitutions(int port, int ipv6Port, int consolePort,
                                                  const std::string& certDir,
                                                  const std::string& allowedAddress);

  private:
    // Checks the configuration (nginx -t) and starts nginx; false when nginx
    // ended at start, true once it accepts.
    bool start(const std::vector<std::string>& args);
    void stop();

    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    int ipv6Port_ = 0;
};

// The nginx binary the tests run.
extern const char* const kNginxBinary;

// A TCP port that is free on this loopback address ("127.0.0.1" or "::1") at
// the moment of asking; 0 if the address cannot be bound at all.
int freeLoopbackPort(const std::string& address = "127.0.0.1");

} // namespace zeq::test
