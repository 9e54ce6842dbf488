#include "accounts/technicians.h"

#include "accounts/account_rules.h"
#include "accounts/password_hash.h"

namespace zeq::accounts {

namespace {

// Checks both rules before any hash is computed.
std::optional<std::string> refusal(std::string_view name, std::string_view password) {
    if (!isAccountName(name)) {
        return "nombre de cuenta no válido: de 1 a 32 letras minúsculas sin acentos, cifras, '.', "
               "'_' o '-', empezando por una letra";
    }
    return passwordProblem(name, password);
}

void endSessionsOf(Database& db, std::int64_t technicianId) {
    Statement end(db, "DELETE FROM console_sessions WHERE technician_id = ?");
    end.bind(1, technicianId).step();
}

std::optional<std::int64_t> idOf(Database& db, std::string_view name) {
    Statement find(db, "SELECT id FROM technicians WHERE name = ?");
    if (!find.bindText(1, name).step()) {
        return std::nullopt;
    }
    return find.columnInt(0);
}

} // namespace

std::optional<std::string> Technicians::add(std::string_view name, std::string_view password) {
    if (std::optional<std::string> problem = refusal(name, password)) {
        return problem;
    }
    if (exists(name)) {
        return "ya existe una cuenta con ese nombre";
    }
    std::string hash = hashPassword(password);
    std::lock_guard<std::mutex> lock(database_.mutex);
    Statement insert(database_.db,
                     "INSERT OR IGNORE INTO technicians(name, password_hash, created_at, "
                     "password_changed_at) VALUES(?1, ?2, ?3, ?3)");
    insert.bindText(1, name).bindText(2, hash).bind(3, clock_()).step();
    if (database_.db.changes() != 1) {
        return "ya existe una cuenta con ese nombre";
    }
    return std::nullopt;
}

std::optional<std::string> Technicians::changePassword(std::string_view name,
                                                       std::string_view password) {
    if (std::optional<std::string> problem = refusal(name, password)) {
        return problem;
    }
    if (!exists(name)) {
        return "no hay ninguna cuenta con ese nombre";
    }
    std::string hash = hashPassword(password);
    std::lock_guard<std::mutex> lock(database_.mutex);
    Transaction transaction(database_.db);
    std::optional<std::int64_t> id = idOf(database_.db, name);
    if (!id) {
        return "no hay ninguna cuenta con ese nombre";
    }
    Statement update(
        database_.db,
        "UPDATE technicians SET password_hash = ?, password_changed_at = ? WHERE id = ?");
    update.bindText(1, hash).bind(2, clock_()).bind(3, *id).step();
    endSessionsOf(database_.db, *id);
    transaction.commit();
    return std::nullopt;
}

bool Technicians::remove(std::string_view name) {
    std::lock_guard<std::mutex> lock(database_.mutex);
    Transaction transaction(database_.db);
    std::optional<std::int64_t> id = idOf(database_.db, name);
    if (!id) {
        return false;
    }
    endSessionsOf(database_.db, *id);
    Statement remove(database_.db, "DELETE FROM technicians WHERE id = ?");
    remove.bind(1, *id).step();
    transaction.commit();
    return true;
}

bool Technicians::exists(std::string_view name) {
    std::lock_guard<std::mutex> lock(database_.mutex);
    return idOf(database_.db, name).has_value();
}

std::vector<TechnicianSummary> Technicians::list() {
    std::lock_guard<std::mutex> lock(database_.mutex);
    Statement query(database_.db,
                    "SELECT name, created_at, password_changed_at, (SELECT count(*) FROM "
                    "console_sessions WHERE technician_id = technicians.id) FROM technicians "
                    "ORDER BY name");
    std::vector<TechnicianSummary> rows;
    while (query.step()) {
        rows.push_back(
            {query.columnText(0), query.columnInt(1), query.columnInt(2), query.columnInt(3)});
    }
    return rows;
}

std::optional<std::int64_t> Technicians::checkPassword(std::string_view name,
                                                       std::string_view password) {
    std::optional<std::int64_t> id;
    std::string hash;
    {
        std::lock_guard<std::mutex> lock(database_.mutex);
        Statement find(database_.db, "SELECT id, password_hash FROM technicians WHERE name = ?");
        if (find.bindText(1, name).step()) {
            id = find.columnInt(0);
            hash = find.columnText(1);
        }
    }
    bool matches = verifyPassword(id ? hash : decoyHash(), password);
    return id && matches ? id : std::nullopt;
}

} // namespace zeq::accounts
