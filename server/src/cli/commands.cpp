#include "cli/commands.h"

#include <pwd.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "accounts/audit_log.h"
#include "base/file_path.h"
#include "findings/text_report.h"
#include "store/receipt_code.h"
#include "store/report_store.h"
#include "base/request_log.h"
#include "store/retention_sweeper.h"
#include "upload/report_import.h"

namespace zeq {

namespace {

constexpr const char* kUsage =
    R"(Uso: zeq-server ORDEN [opciones]

Órdenes:
  serve                      Atiende a los clientes (HTTPS, o HTTP local tras un proxy).
  list                       Lista los informes guardados.
  show CÓDIGO                Escribe en la salida estándar los bytes del informe.
  show CÓDIGO --text         Lo que hay que revisar y todas las secciones, en texto legible.
  delete CÓDIGO              Borra un informe antes de su plazo.
  purge --older-than DÍAS    Borra los informes recibidos hace más de DÍAS días.
  import FICHERO             Guarda un informe enviado por otra vía (correo, USB),
                             comprobado como una subida, y escribe su código.
  user add NOMBRE            Crea una cuenta de técnico para la consola; pide la
                             contraseña dos veces (o la lee de la entrada estándar
                             cuando no es un terminal).
  user list                  Lista las cuentas.
  user passwd NOMBRE         Cambia la contraseña de una cuenta y cierra sus sesiones.
  user remove NOMBRE         Borra una cuenta y cierra sus sesiones.
  audit                      Escribe el registro de auditoría: entradas, cambios de
                             cuentas e informes vistos, descargados o borrados.

Opciones comunes:
  --db RUTA                  Base de datos (por omisión /var/lib/zeq-server/reports.db).

Opciones de serve:
  --address DIRECCIÓN        Dirección de escucha (por omisión 127.0.0.1).
  --port PUERTO              Puerto (por omisión 443 con TLS, 8080 sin él; 0: uno libre).
  --cert FICHERO             Cadena de certificados PEM del servidor.
  --key FICHERO              Clave privada PEM. Sin --cert/--key: HTTP solo en una
                             dirección local, detrás de un proxy inverso con HTTPS.
  --secret RUTA              Secreto de los tokens (por omisión token-secret junto a la base).
  --retention-days DÍAS      Días que se conserva cada informe (por omisión 30).
  --head-timeout SEGUNDOS    Tiempo máximo para el saludo TLS y toda la cabecera de la
                             petición (por omisión 5).
  --read-timeout SEGUNDOS    Silencio máximo de un cliente (por omisión 10).
  --body-timeout SEGUNDOS    Tiempo máximo para recibir el cuerpo de un informe, desde
                             el fin de las cabeceras (por omisión 120).
  --max-connections-per-client N
                             Conexiones a la vez de una dirección (IPv6: de un /64) con
                             TLS (por omisión 64; detrás del proxy limita el proxy).
  --max-connections N        Conexiones a la vez en total (por omisión 4096).
  --shutdown-timeout SEGUNDOS
                             Al detenerse, espera máxima para responder las peticiones
                             ya recibidas (por omisión 10).
  --threads N                Peticiones atendidas a la vez por la base de datos
                             (por omisión 4).
  --quota-reports N          Informes nuevos por hora de una dirección (IPv6: de un
                             /64; detrás del proxy, la que reenvía) (por omisión 200).
  --quota-client-mb MIB      MiB de informes nuevos por hora de una dirección
                             (por omisión 400).
  --quota-total-mb MIB       MiB de informes nuevos por hora en total (por omisión 4096).
  --min-free-disk-mb MIB     Espacio libre mínimo junto a la base de datos; por debajo,
                             los informes nuevos reciben 503 (por omisión 1024).
  --operator NOMBRE          Nombre del técnico para la página de privacidad.

Consola de los técnicos (solo con --console-port; en su propio puerto, nunca en
el de los informes):
  --console-port PUERTO      Puerto de la consola (0: uno libre).
  --console-address DIRECCIÓN
                             Dirección de la consola (por omisión 127.0.0.1).
  --console-cert FICHERO     Cadena de certificados PEM de la consola.
  --console-key FICHERO      Clave privada PEM de la consola. Sin ellas: HTTP solo en
                             una dirección local (demostración, o detrás de un proxy).
  --session-idle-seconds S   Una sesión acaba tras S segundos sin uso (por omisión 28800).
  --session-max-seconds S    Una sesión acaba S segundos después de entrar (por
                             omisión 86400).
)";

// A command that checks its own arguments.
constexpr std::size_t kAnyArguments = static_cast<std::size_t>(-1);

struct Command {
    const char* name;
    std::set<std::string> options;
    std::size_t arguments; // or kAnyArguments
    std::function<int(const CommandLine&)> run;
    std::set<std::string> flags = {};
    const char* argument = "un código de recibo"; // what the one argument is
};

std::string receiptCodeArgument(const CommandLine& line) {
    std::optional<std::string> code = receiptCodeFrom(line.arguments.at(0));
    if (!code) {
        throw UsageError("código de recibo no válido: " + line.arguments.at(0));
    }
    return *code;
}

// Who imported a report: the technician's commands run as the service's user
// through sudo, so the account that ran sudo when there is one, else the
// account running the command.
std::string unixUserName() {
    if (const char* sudoUser = std::getenv("SUDO_USER"); sudoUser != nullptr && *sudoUser) {
        return sudoUser;
    }
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name) {
        return entry->pw_name;
    }
    return "uid " + std::to_string(::geteuid());
}

int listCommand(const CommandLine& line) {
    ReportStore store(databasePath(line), ReportStore::Access::ReadOnly);
    std::vector<ReportSummary> reports = store.list();
    if (reports.empty()) {
        std::printf("No hay informes guardados.\n");
        return 0;
    }
    std::printf("%-18s  %-19s  %9s  %-36s  %s\n", "RECIBO", "RECIBIDO (UTC)", "BYTES", "REPORT_ID",
                "CLIENTE");
    for (const ReportSummary& report : reports) {
        std::printf("%-18s  %-19s  %9" PRId64 "  %-36s  %s\n", report.code.c_str(),
                    formatUtcTime(report.receivedAt).c_str(), report.size, report.reportId.c_str(),
                    report.clientAddress.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int showCommand(const CommandLine& line) {
    std::string code = receiptCodeArgument(line);
    ReportStore store(databasePath(line), ReportStore::Access::ReadOnly);
    std::optional<std::string> body = store.body(code);
    if (!body) {
        std::fprintf(stderr, "zeq-server: no hay ningún informe con el código %s\n", code.c_str());
        return 1;
    }
    std::string text = line.flag("text") ? findings::textReport(code, *body) : std::string();
    const std::string& out = line.flag("text") ? text : *body;
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "zeq-server: no se pudo escribir el informe\n");
        return 1;
    }
    return 0;
}

int deleteCommand(const CommandLine& line) {
    std::string code = receiptCodeArgument(line);
    ReportStore store(databasePath(line), ReportStore::Access::ReadWrite);
    // Opened first: a deletion that cannot be audited does not happen.
    accounts::AccountDatabase accounts(databasePath(line));
    if (!store.remove(code)) {
        std::fprintf(stderr, "zeq-server: no hay ningún informe con el código %s\n", code.c_str());
        return 1;
    }
    // The shell has no technician's name or address: the row says who by the
    // absence of both.
    accounts::AuditLog(accounts).append(accounts::AuditEvent::ReportDeleted, systemSeconds(), {},
                                        code, {});
    std::printf("Borrado el informe %s.\n", code.c_str());
    return 0;
}

int purgeCommand(const CommandLine& line) {
    if (!line.has("older-than")) {
        throw UsageError("purge necesita --older-than DÍAS");
    }
    int days = line.integer("older-than", 0, 0, 36500);
    ReportStore store(databasePath(line), ReportStore::Access::ReadWrite);
    SweepResult result = sweepExpired(store, days, systemSeconds());
    std::printf("Borrados %" PRId64 " informes recibidos hace más de %d días.\n", result.reports,
                days);
    return 0;
}

int importCommand(const CommandLine& line) {
    std::string bytes = readReportFile(line.arguments.at(0));
    ReportStore store(databasePath(line), ReportStore::Access::ReadWrite);
    // Opened first: an import that cannot be audited does not happen.
    accounts::AccountDatabase accounts(databasePath(line));
    std::string technician = unixUserName();
    ImportOutcome outcome = importReport(store, bytes, technician, systemSeconds());
    if (outcome.result != ImportResult::Stored && outcome.result != ImportResult::AlreadyStored) {
        std::fprintf(stderr, "zeq-server: %s: %s\n", line.arguments.at(0).c_str(),
                     outcome.message.c_str());
        return 1;
    }
    if (outcome.result == ImportResult::AlreadyStored) {
        std::fprintf(stderr, "zeq-server: %s\n", outcome.message.c_str());
    } else {
        accounts::AuditLog(accounts).append(accounts::AuditEvent::ReportImported, systemSeconds(),
                                            technician, outcome.code, {});
    }
    std::printf("%s\n", outcome.code.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const std::vector<Command>& commandTable() {
    static const std::vector<Command> table = {
        {"serve",
         {"db",
          "address",
          "port",
          "cert",
          "key",
          "secret",
          "retention-days",
          "head-timeout",
          "read-timeout",
          "body-timeout",
          "max-connections-per-client",
          "max-connections",
          "shutdown-timeout",
          "threads",
          "quota-reports",
          "quota-client-mb",
          "quota-total-mb",
          "min-free-disk-mb",
          "operator",
          "console-address",
          "console-port",
          "console-cert",
          "console-key",
          "session-idle-seconds",
          "session-max-seconds"},
         0,
         serveCommand},
        {"list", {"db"}, 0, listCommand},
        {"show", {"db"}, 1, showCommand, {"text"}},
        {"delete", {"db"}, 1, deleteCommand},
        {"purge", {"db", "older-than"}, 0, purgeCommand},
        {"import", {"db"}, 1, importCommand, {}, "un fichero de informe"},
        {"user", {"db"}, kAnyArguments, userCommand},
        {"audit", {"db"}, 0, auditCommand},
    };
    return table;
}

} // namespace

std::string databasePath(const CommandLine& line) {
    return line.text("db", kDefaultDatabase);
}

std::string defaultSecretPath(const std::string& databasePath) {
    std::string directory = directoryOf(databasePath);
    return (directory == "/" ? "" : directory) + "/token-secret";
}

int runCommand(const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "help" || args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        if (args.empty()) {
            throw UsageError("falta la orden");
        }
        const Command* command = nullptr;
        for (const Command& candidate : commandTable()) {
            if (args[0] == candidate.name) {
                command = &candidate;
            }
        }
        if (command == nullptr) {
            throw UsageError("orden desconocida: " + args[0]);
        }
        CommandLine line = parseCommandLine(args, command->options, command->flags);
        if (command->arguments != kAnyArguments && line.arguments.size() != command->arguments) {
            throw UsageError(std::string(command->name) +
                             (command->arguments == 0
                                  ? " no lleva argumentos"
                                  : " necesita " + std::string(command->argument)));
        }
        return command->run(line);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "zeq-server: %s\n\n%s", error.what(), kUsage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zeq-server: %s\n", error.what());
        return 1;
    }
}

} // namespace zeq
