#include "support/nginx_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zeq::test {

const char* const kNginxBinary = "/usr/sbin/nginx";

namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 10s;
constexpr auto kStopTimeout = 5s;

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

// Replaces every occurrence; the number of occurrences replaced.
int replaceAll(std::string& text, const std::string& from, const std::string& to) {
    int count = 0;
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
        ++count;
    }
    return count;
}

// Debian 12's /etc/nginx/nginx.conf, with the pid file, the logs and the
// temporary paths in dir and the site copy instead of sites-enabled/*. Its
// http-level defaults stay (gzip on, TLS 1.0 and 1.1 allowed, ...): the site
// must override what it needs, on a real server as here.
std::string mainConfig(const std::string& dir) {
    std::string config;
    // nginx runs as root in this environment; its workers then need no access
    // to the root-only temporary directory. (Not root: the line is ignored.)
    if (::geteuid() == 0) {
        config += "user root;\n";
    }
    config += "worker_processes auto;\n"
              "daemon off;\n"
              "master_process on;\n"
              "pid " +
              dir +
              "/nginx.pid;\n"
              // warn, not Debian's error: the site logs its refusals at warn.
              "error_log " +
              dir +
              "/error.log warn;\n"
              "events {\n"
              "    worker_connections 768;\n"
              "}\n"
              "http {\n"
              "    sendfile on;\n"
              "    tcp_nopush on;\n"
              "    types_hash_max_size 2048;\n"
              "    include /etc/nginx/mime.types;\n"
              "    default_type application/octet-stream;\n"
              "    ssl_protocols TLSv1 TLSv1.1 TLSv1.2 TLSv1.3;\n"
              "    ssl_prefer_server_ciphers on;\n"
              "    access_log " +
              dir +
              "/access.log;\n"
              "    gzip on;\n"
              "    client_body_temp_path " +
              dir +
              "/client_body;\n"
              "    proxy_temp_path " +
              dir +
              "/proxy;\n"
              "    fastcgi_temp_path " +
              dir +
              "/fastcgi;\n"
              "    uwsgi_temp_path " +
              dir +
              "/uwsgi;\n"
              "    scgi_temp_path " +
              dir +
              "/scgi;\n"
              "    include " +
              dir +
              "/site.conf;\n"
              "}\n";
    return config;
}

bool accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

// Waits up to timeout for the child to end; true when it has (and is reaped).
bool waitFor(pid_t pid, std::chrono::steady_clock::duration timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
}

// The processes whose parent is pid (nginx's workers), from /proc.
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return children;
    }
    while (dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        std::string stat = readFile(std::string("/proc/") + entry->d_name + "/stat");
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        // After the command name: state (field 3), then the parent (field 4).
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        long parent = 0;
        if (fields >> state >> parent && parent == pid) {
            children.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
        }
    }
    ::closedir(proc);
    return children;
}

} // namespace

int freeLoopbackPort(const std::string& address) {
    bool v6 = address.find(':') != std::string::npos;
    int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_storage storage{};
    socklen_t length;
    if (v6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        length = sizeof *in6;
        ::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        length = sizeof *in4;
        ::inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
    }
    int port = 0;
    auto* any = reinterpret_cast<sockaddr*>(&storage);
    if (::bind(fd, any, length) == 0 && ::getsockname(fd, any, &length) == 0) {
        port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    }
    ::close(fd);
    return port;
}

namespace {

// What every site of the repository needs replaced: its HTTPS ports (written
// as `listen PORT ssl;` and `listen [::]:PORT ssl;`), its upstream's port on
// 127.0.0.1, its Let's Encrypt certificate paths and its host name.
NginxProcess::Substitutions tlsSiteSubstitutions(const std::string& host, int sitePort,
                                                 int siteUpstreamPort, int port, int ipv6Port,
                                                 int upstreamPort, const std::string& certDir) {
    const std::string listen = std::to_string(sitePort) + " ssl;";
    const std::string live = "/etc/letsencrypt/live/" + host;
    return {
        {"listen " + listen, "listen 127.0.0.1:" + std::to_string(port) + " ssl;"},
        {"listen [::]:" + listen, ipv6Port != 0
                                      ? "listen [::1]:" + std::to_string(ipv6Port) + " ssl;"
                                      : "# (no IPv6 loopback here) listen [::]:" + listen},
        {"127.0.0.1:" + std::to_string(siteUpstreamPort),
         "127.0.0.1:" + std::to_string(upstreamPort)},
        {live + "/fullchain.pem", certDir + "/server.pem"},
        {live + "/privkey.pem", certDir + "/server.key"},
        {"server_name " + host + ";", "server_name localhost;"},
    };
}

} // namespace

NginxProcess::Substitutions NginxProcess::siteSubstitutions(int port, int ipv6Port,
                                                            int upstreamPort,
                                                            const std::string& certDir) {
    return tlsSiteSubstitutions("informes.example.net", 443, 8080, port, ipv6Port, upstreamPort,
                                certDir);
}

NginxProcess::Substitutions
NginxProcess::consoleSiteSubstitutions(int port, int ipv6Port, int consolePort,
                                       const std::string& certDir,
                                       const std::string& allowedAddress) {
    Substitutions substitutions = tlsSiteSubstitutions("consola.example.net", 8443, 8081, port,
                                                       ipv6Port, consolePort, certDir);
    substitutions.push_back({"allow 192.0.2.0/24;", "allow " + allowedAddress + ";"});
    return substitutions;
}

NginxProcess::NginxProcess(const std::string& siteFile, int upstreamPort,
                           const std::string& certDir)
    : NginxProcess(siteFile, [upstreamPort, certDir](int port, int ipv6Port) {
          // nginx takes relative paths from its prefix, the temporary directory.
          return siteSubstitutions(port, ipv6Port, upstreamPort,
                                   std::filesystem::absolute(certDir).string());
      }) {}

NginxProcess::NginxProcess(const std::string& siteFile, const SiteSubstitutions& substitutions) {
    const std::string original = readFile(siteFile);
    if (original.empty()) {
        throw std::runtime_error("cannot read the nginx site " + siteFile);
    }
    const std::string& dir = dir_.path();
    writeFile(dir_.file("nginx.conf"), mainConfig(dir));
    const std::vector<std::string> args = {
        kNginxBinary, "-p", dir + "/", "-c", dir_.file("nginx.conf"), "-e", dir_.file("error.log")};
    // A port found free may be taken by another process before nginx binds
    // it: then nginx ends, and the start is tried again on other ports.
    for (int attempt = 1;; ++attempt) {
        port_ = freeLoopbackPort("127.0.0.1");
        ipv6Port_ = freeLoopbackPort("::1");
        std::string site = original;
        for (const auto& [from, to] : substitutions(port_, ipv6Port_)) {
            if (replaceAll(site, from, to) == 0) {
                throw std::runtime_error("the nginx site no longer has \"" + from +
                                         "\", which the tests replace: " + siteFile);
            }
        }
        writeFile(dir_.file("site.conf"), site);
        if (start(args)) {
            return;
        }
        std::string log = errorLog();
        if (attempt == 3 || log.find("Address already in use") == std::string::npos) {
            throw std::runtime_error("nginx ended at start:\n" + readFile(dir_.file("nginx.out")) +
                                     log);
        }
    }
}

bool NginxProcess::start(const std::vector<std::string>& args) {
    std::vector<std::string> check = args;
    check.push_back("-t");
    std::string out, err;
    if (runProgram(check, &out, &err) != 0) {
        throw std::runtime_error("nginx -t refuses the configuration:\n" + out + err + errorLog());
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::string outPath = dir_.file("nginx.out");
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error(std::string("cannot start nginx: ") + std::strerror(rc));
    }
    // nginx writes its pid file once it has bound its ports: only then is an
    // accepting port its own.
    auto started = [this] {
        std::string pid = readFile(dir_.file("nginx.pid"));
        return !pid.empty() && std::stol(pid) == pid_ && accepts(port_);
    };
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (!started()) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            stop();
            throw std::runtime_error("nginx did not accept in time:\n" + errorLog());
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

NginxProcess::~NginxProcess() {
    stop();
}

void NginxProcess::stop() {
    if (pid_ <= 0) {
        return;
    }
    // Graceful first (connections in progress finish), then fast, then kill.
    for (int number : {SIGQUIT, SIGTERM}) {
        ::kill(pid_, number);
        if (waitFor(pid_, kStopTimeout)) {
            pid_ = -1;
            return;
        }
    }
    for (pid_t worker : childrenOf(pid_)) {
        ::kill(worker, SIGKILL);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string NginxProcess::errorLog() const {
    return readFile(dir_.file("error.log"));
}

std::string NginxProcess::accessLog() const {
    return readFile(dir_.file("access.log"));
}

std::string NginxProcess::site() const {
    return readFile(dir_.file("site.conf"));
}

double NginxProcess::cpuSeconds() const {
    double seconds = processCpuSeconds(pid_);
    for (pid_t worker : childrenOf(pid_)) {
        seconds += processCpuSeconds(worker);
    }
    return seconds;
}

} // namespace zeq::test
