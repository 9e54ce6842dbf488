// The technicians' accounts and the audit, from the shell.
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <optional>

#include "accounts/account_rules.h"
#include "accounts/audit_log.h"
#include "accounts/technicians.h"
#include "base/request_log.h"
#include "cli/commands.h"
#include "cli/password_prompt.h"

namespace zeq {

namespace {

using accounts::AccountDatabase;
using accounts::AuditEvent;
using accounts::AuditLog;
using accounts::Technicians;

// Names and addresses are checked when stored; the audit is printed as if
// they were not, so that nothing in it can move the terminal's cursor.
constexpr std::size_t kMaxShownBytes = 64;

// The text followed by spaces up to `width` characters (printf pads bytes,
// which misaligns the columns after an accented letter).
std::string padded(const std::string& text, std::size_t width) {
    std::size_t characters = 0;
    for (char c : text) {
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return characters >= width ? text + "  " : text + std::string(width - characters + 2, ' ');
}

int fail(const std::string& message) {
    std::fprintf(stderr, "zeq-server: %s\n", message.c_str());
    return 1;
}

// Asks for a new password and hands it to `change`, which returns why it was
// refused or nullopt; on success the audit gets `event`, and `done` is printed.
int withNewPassword(AccountDatabase& database, const std::string& name,
                    const std::function<std::optional<std::string>(const std::string&)>& change,
                    AuditEvent event, const char* done) {
    std::string unread;
    std::optional<std::string> password = readNewPassword(name, unread);
    if (!password) {
        return fail(unread);
    }
    std::optional<std::string> problem = change(*password);
    wipe(*password);
    if (problem) {
        return fail(*problem);
    }
    AuditLog(database).append(event, systemSeconds(), {}, name, {});
    std::printf(done, name.c_str());
    return 0;
}

int addUser(AccountDatabase& database, const std::string& name) {
    Technicians technicians(database);
    // Checked before the password is asked for, to spare typing it twice.
    if (!accounts::isAccountName(name)) {
        return fail("nombre de cuenta no válido: de 1 a 32 letras minúsculas sin acentos, cifras, "
                    "'.', '_' o '-', empezando por una letra");
    }
    if (technicians.exists(name)) {
        return fail("ya existe una cuenta con ese nombre");
    }
    return withNewPassword(
        database, name,
        [&](const std::string& password) { return technicians.add(name, password); },
        AuditEvent::TechnicianAdded, "Creada la cuenta %s.\n");
}

int changePassword(AccountDatabase& database, const std::string& name) {
    Technicians technicians(database);
    if (!technicians.exists(name)) {
        return fail("no hay ninguna cuenta con el nombre " + sanitizeForLog(name, kMaxShownBytes));
    }
    return withNewPassword(
        database, name,
        [&](const std::string& password) { return technicians.changePassword(name, password); },
        AuditEvent::PasswordChanged,
        "Cambiada la contraseña de %s; sus sesiones se han cerrado.\n");
}

int removeUser(AccountDatabase& database, const std::string& name) {
    if (!Technicians(database).remove(name)) {
        return fail("no hay ninguna cuenta con el nombre " + sanitizeForLog(name, kMaxShownBytes));
    }
    AuditLog(database).append(AuditEvent::TechnicianRemoved, systemSeconds(), {}, name, {});
    std::printf("Borrada la cuenta %s; sus sesiones se han cerrado.\n", name.c_str());
    return 0;
}

int listUsers(AccountDatabase& database) {
    std::vector<accounts::TechnicianSummary> rows = Technicians(database).list();
    if (rows.empty()) {
        std::printf("No hay cuentas. Cree una con: zeq-server user add NOMBRE\n");
        return 0;
    }
    std::printf("%s%s%s%s\n", padded("CUENTA", 32).c_str(), padded("CREADA (UTC)", 19).c_str(),
                padded("CONTRASEÑA (UTC)", 19).c_str(), "SESIONES");
    for (const accounts::TechnicianSummary& row : rows) {
        std::printf("%-32s  %-19s  %-19s  %" PRId64 "\n", row.name.c_str(),
                    formatUtcTime(row.createdAt).c_str(),
                    formatUtcTime(row.passwordChangedAt).c_str(), row.openSessions);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int userCommand(const CommandLine& line) {
    const std::vector<std::string>& args = line.arguments;
    std::string action = args.empty() ? std::string() : args[0];
    bool named = action == "add" || action == "remove" || action == "passwd";
    if (!(named && args.size() == 2) && !(action == "list" && args.size() == 1)) {
        throw UsageError("user necesita: add NOMBRE, list, remove NOMBRE o passwd NOMBRE");
    }
    AccountDatabase database(databasePath(line));
    if (action == "list") {
        return listUsers(database);
    }
    const std::string& name = args[1];
    if (action == "add") {
        return addUser(database, name);
    }
    if (action == "passwd") {
        return changePassword(database, name);
    }
    return removeUser(database, name);
}

int auditCommand(const CommandLine& line) {
    AccountDatabase database(databasePath(line));
    std::vector<accounts::AuditEntry> entries = AuditLog(database).entries();
    if (entries.empty()) {
        std::printf("El registro de auditoría está vacío.\n");
        return 0;
    }
    std::printf("%s%s%s%s%s\n", padded("FECHA (UTC)", 19).c_str(), padded("SUCESO", 19).c_str(),
                padded("TÉCNICO", 32).c_str(), padded("OBJETO", 18).c_str(), "DIRECCIÓN");
    for (const accounts::AuditEntry& entry : entries) {
        const char* label = accounts::auditLabel(entry.event);
        std::string technician = entry.technician.empty()
                                     ? std::string("-")
                                     : sanitizeForLog(entry.technician, kMaxShownBytes);
        std::string event = *label ? label : sanitizeForLog(entry.event, kMaxShownBytes);
        std::string address = entry.address.empty() ? std::string("(línea de órdenes)")
                                                    : sanitizeForLog(entry.address, kMaxShownBytes);
        std::printf("%s%s%s%s%s\n", padded(formatUtcTime(entry.at), 19).c_str(),
                    padded(event, 19).c_str(), padded(technician, 32).c_str(),
                    padded(sanitizeForLog(entry.subject, kMaxShownBytes), 18).c_str(),
                    address.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace zeq
