#include "accounts/audit_log.h"

namespace zeq::accounts {

namespace {

struct AuditEventName {
    AuditEvent event;
    const char* key;
    const char* label;
};

constexpr AuditEventName kEventNames[] = {
    {AuditEvent::Login, "login", "entrada"},
    {AuditEvent::LoginFailed, "login_failed", "entrada fallida"},
    {AuditEvent::Logout, "logout", "salida"},
    {AuditEvent::TechnicianAdded, "technician_added", "cuenta creada"},
    {AuditEvent::TechnicianRemoved, "technician_removed", "cuenta borrada"},
    {AuditEvent::PasswordChanged, "password_changed", "contraseña cambiada"},
    {AuditEvent::ReportViewed, "report_viewed", "informe visto"},
    {AuditEvent::ReportDownloaded, "report_downloaded", "informe descargado"},
    {AuditEvent::ReportDeleted, "report_deleted", "informe borrado"},
    {AuditEvent::ReportImported, "report_imported", "informe importado"},
};

} // namespace

const char* auditKey(AuditEvent event) {
    for (const AuditEventName& name : kEventNames) {
        if (name.event == event) {
            return name.key;
        }
    }
    return "";
}

const char* auditLabel(std::string_view key) {
    for (const AuditEventName& name : kEventNames) {
        if (key == name.key) {
            return name.label;
        }
    }
    return "";
}

void AuditLog::append(AuditEvent event, std::int64_t at, std::string_view technician,
                      std::string_view subject, std::string_view address) {
    std::lock_guard<std::mutex> lock(database_.mutex);
    Statement insert(database_.db, "INSERT INTO audit(at, event, technician, subject, address) "
                                   "VALUES(?, ?, ?, ?, ?)");
    insert.bind(1, at)
        .bindText(2, auditKey(event))
        .bindText(3, technician)
        .bindText(4, subject)
        .bindText(5, address)
        .step();
}

std::vector<AuditEntry> AuditLog::entries() {
    std::lock_guard<std::mutex> lock(database_.mutex);
    Statement query(database_.db,
                    "SELECT at, event, technician, subject, address FROM audit ORDER BY id");
    std::vector<AuditEntry> rows;
    while (query.step()) {
        rows.push_back({query.columnInt(0), query.columnText(1), query.columnText(2),
                        query.columnText(3), query.columnText(4)});
    }
    return rows;
}

} // namespace zeq::accounts
