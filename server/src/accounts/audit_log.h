#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_database.h"

namespace zeq::accounts {

// What the audit records. Stored by key, shown by label (audit_log.cpp).
enum class AuditEvent {
    Login,
    LoginFailed,
    Logout,
    TechnicianAdded,
    TechnicianRemoved,
    PasswordChanged,
    ReportViewed,
    ReportDownloaded,
    ReportDeleted,
    ReportImported,
};

struct AuditEntry {
    std::int64_t at = 0;
    std::string event;      // the stored key, e.g. "login_failed"
    std::string technician; // who did it; empty when nobody is known
    std::string subject;    // the report's code or the account concerned
    std::string address;    // the browser's address; empty from the shell
};

// The stored key and the Spanish label of an event key ("" for an unknown key).
const char* auditKey(AuditEvent event);
const char* auditLabel(std::string_view key);

// Append-only: rows are added and read, never changed or deleted (the table
// refuses both). A failed login names the typed account only when it exists,
// so that passwords typed into the name field never reach the audit.
class AuditLog {
  public:
    explicit AuditLog(AccountDatabase& database) : database_(database) {}

    void append(AuditEvent event, std::int64_t at, std::string_view technician,
                std::string_view subject, std::string_view address);
    // Every row, oldest first.
    std::vector<AuditEntry> entries();

  private:
    AccountDatabase& database_;
};

} // namespace zeq::accounts
