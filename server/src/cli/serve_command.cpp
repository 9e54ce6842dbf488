#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "base/crypto.h"
#include "console/console_service.h"
#include "upload/collection_service.h"
#include "cli/commands.h"
#include "base/file_path.h"
#include "base/request_log.h"
#include "store/listing_filler.h"
#include "store/retention_sweeper.h"
#include "upload/secret_file.h"

namespace zeq {

namespace {

constexpr std::chrono::seconds kSweepInterval{3600};

// The directory of the database (and, by default, of the secret) is made
// private to the service's user when the server has to create it.
void ensureDirectoryOf(const std::string& path) {
    std::string directory = directoryOf(path);
    if (directory == "." || directory == "/") {
        return;
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        throw std::runtime_error("no se puede crear el directorio " + directory + ": " +
                                 std::strerror(errno));
    }
}

std::uint64_t mebibytes(int count) {
    return static_cast<std::uint64_t>(count) << 20;
}

ServiceSettings settingsFrom(const CommandLine& line) {
    ServiceSettings settings;
    settings.address = line.text("address", settings.address);
    settings.certFile = line.text("cert", "");
    settings.keyFile = line.text("key", "");
    bool tls = !settings.certFile.empty() || !settings.keyFile.empty();
    settings.port = line.integer("port", tls ? 443 : 8080, 0, 65535);
    settings.retentionDays = line.integer("retention-days", settings.retentionDays, 1, 3650);
    settings.headTimeoutSeconds = line.integer("head-timeout", settings.headTimeoutSeconds, 1, 60);
    settings.readTimeoutSeconds = line.integer("read-timeout", settings.readTimeoutSeconds, 1, 300);
    settings.bodyTimeoutSeconds =
        line.integer("body-timeout", settings.bodyTimeoutSeconds, 1, 3600);
    settings.maxConnectionsPerClient =
        line.integer("max-connections-per-client", settings.maxConnectionsPerClient, 1, 100000);
    settings.maxConnections = line.integer("max-connections", settings.maxConnections, 1, 1000000);
    settings.shutdownSeconds = line.integer("shutdown-timeout", settings.shutdownSeconds, 1, 3600);
    settings.threads = line.integer("threads", settings.threads, 1, 256);
    settings.quota.reportsPerClientPerHour =
        line.integer("quota-reports", settings.quota.reportsPerClientPerHour, 1, 1000000);
    settings.quota.bytesPerClientPerHour = mebibytes(line.integer(
        "quota-client-mb", int(settings.quota.bytesPerClientPerHour >> 20), 1, 1 << 24));
    settings.quota.bytesPerHour = mebibytes(
        line.integer("quota-total-mb", int(settings.quota.bytesPerHour >> 20), 1, 1 << 24));
    settings.minFreeDiskBytes = mebibytes(
        line.integer("min-free-disk-mb", int(settings.minFreeDiskBytes >> 20), 0, 1 << 30));
    settings.operatorName = line.text("operator", "");
    return settings;
}

// The console is served only when --console-port is given: a server that
// only collects reports opens no second port.
std::optional<ConsoleSettings> consoleSettingsFrom(const CommandLine& line) {
    if (!line.has("console-port")) {
        return std::nullopt;
    }
    ConsoleSettings settings;
    settings.address = line.text("console-address", settings.address);
    settings.port = line.integer("console-port", settings.port, 0, 65535);
    settings.certFile = line.text("console-cert", "");
    settings.keyFile = line.text("console-key", "");
    settings.sessionLimits.idleSeconds = line.integer(
        "session-idle-seconds", int(settings.sessionLimits.idleSeconds), 1, 7 * 24 * 3600);
    settings.sessionLimits.absoluteSeconds = line.integer(
        "session-max-seconds", int(settings.sessionLimits.absoluteSeconds), 1, 7 * 24 * 3600);
    settings.shutdownSeconds = line.integer("shutdown-timeout", settings.shutdownSeconds, 1, 3600);
    return settings;
}

std::string urlOf(bool tls, const std::string& address, int port) {
    bool ipv6 = address.find(':') != std::string::npos;
    return std::string(tls ? "https://" : "http://") + (ipv6 ? "[" + address + "]" : address) +
           ":" + std::to_string(port);
}

// Waits for SIGTERM, SIGINT or SIGHUP and stops the service. A signal that
// arrives before the service listens is held until it does: stop() is a no-op
// before. A second signal while requests drain ends the process at once; a
// report is stored in one transaction, so none is left half-stored.
class ShutdownOnSignal {
  public:
    ShutdownOnSignal(CollectionService& service, ConsoleService* console, const sigset_t& signals)
        : service_(service), console_(console), signals_(signals), thread_([this] { wait(); }) {}
    ~ShutdownOnSignal() {
        finished_ = true;
        // Wakes the waiting thread if no signal came (the service ended by itself).
        pthread_kill(thread_.native_handle(), SIGTERM);
        thread_.join();
    }
    ShutdownOnSignal(const ShutdownOnSignal&) = delete;
    ShutdownOnSignal& operator=(const ShutdownOnSignal&) = delete;

  private:
    void wait() {
        int signal = 0;
        sigwait(&signals_, &signal);
        if (finished_) {
            return;
        }
        writeLogLine("zeq-server: señal recibida, terminando las peticiones en curso");
        while (!finished_ && !service_.running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (finished_) {
            return;
        }
        service_.stop();
        if (console_ != nullptr) {
            console_->stop();
        }
        sigwait(&signals_, &signal);
        if (!finished_) {
            writeLogLine("zeq-server: segunda señal, salida inmediata");
            std::_Exit(1);
        }
    }

    CollectionService& service_;
    ConsoleService* console_;
    sigset_t signals_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace

int serveCommand(const CommandLine& line) {
    // Reports and the secret are for the service's user alone.
    ::umask(077);
    ServiceSettings settings = settingsFrom(line);
    std::string database = line.text("db", kDefaultDatabase);
    settings.databaseDirectory = directoryOf(database);
    std::string secretPath = line.text("secret", defaultSecretPath(database));

    // Every thread started from here on inherits the blocked signals; only the
    // shutdown thread receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    ensureDirectoryOf(database);
    ReportStore store(database, ReportStore::Access::Service);
    ensureDirectoryOf(secretPath);
    std::vector<unsigned char> secret = loadOrCreateSecret(secretPath);
    TokenAuthority tokens(secret, systemSeconds);
    CollectionService service(settings, store, tokens, systemSeconds);
    int port = service.bind();

    // The console's forms are signed with a key of their own, derived from the
    // secret so that an open form still works after a restart.
    std::optional<ConsoleSettings> consoleSettings = consoleSettingsFrom(line);
    std::unique_ptr<ConsoleService> console;
    if (consoleSettings) {
        Digest formKey = hmacSha256(secret, "console-forms");
        console = std::make_unique<ConsoleService>(
            *consoleSettings, store, database,
            std::vector<unsigned char>(formKey.begin(), formKey.end()), systemSeconds);
        int consolePort = console->bind();
        writeLogLine("zeq-server: consola en " +
                     urlOf(console->usesTls(), consoleSettings->address, consolePort));
    }

    RetentionSweeper sweeper(store, settings.retentionDays, systemSeconds, kSweepInterval);
    ListingFiller listingFiller(store, database);
    writeLogLine("zeq-server: escuchando en " + urlOf(service.usesTls(), settings.address, port) +
                 " (base de datos " + database + ", conservación " +
                 std::to_string(settings.retentionDays) + " días)");
    bool served;
    {
        ShutdownOnSignal shutdown(service, console.get(), signals);
        std::thread consoleThread;
        std::atomic<bool> consoleServed{true};
        if (console) {
            consoleThread = std::thread([&] { consoleServed = console->run(); });
        }
        served = service.run();
        if (console) {
            // The upload side ended on its own: the console goes with it.
            console->stop();
            consoleThread.join();
            served = served && consoleServed;
        }
    }
    listingFiller.stop();
    sweeper.stop();
    writeLogLine(served ? "zeq-server: detenido" : "zeq-server: error al aceptar conexiones");
    return served ? 0 : 1;
}

} // namespace zeq
