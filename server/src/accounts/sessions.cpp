#include "accounts/sessions.h"

#include <sodium.h>

#include <stdexcept>

#include "base/crypto.h"
#include "base/text_shapes.h"

namespace zeq::accounts {

namespace {

constexpr std::size_t kIdentifierBytes = 32;
constexpr const char* kIdentifierShape =
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";

std::string storedForm(std::string_view identifier) {
    Digest digest = sha256(identifier);
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

} // namespace

std::string Sessions::create(std::int64_t technicianId) {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium could not start");
    }
    unsigned char bytes[kIdentifierBytes];
    randombytes_buf(bytes, sizeof bytes);
    std::string identifier = toHex(bytes, sizeof bytes);
    sodium_memzero(bytes, sizeof bytes);
    std::int64_t now = clock_();
    std::lock_guard<std::mutex> lock(database_.mutex);
    Statement insert(database_.db, "INSERT INTO console_sessions(token_hash, technician_id, "
                                   "created_at, last_seen_at) VALUES(?1, ?2, ?3, ?3)");
    insert.bindBlob(1, storedForm(identifier)).bind(2, technicianId).bind(3, now).step();
    return identifier;
}

std::optional<SessionTechnician> Sessions::use(std::string_view identifier) {
    if (!matchesShape(identifier, kIdentifierShape)) {
        return std::nullopt;
    }
    std::string wanted = storedForm(identifier);
    std::int64_t now = clock_();
    std::lock_guard<std::mutex> lock(database_.mutex);
    Transaction transaction(database_.db);
    Statement find(database_.db,
                   "SELECT s.token_hash, s.technician_id, s.created_at, s.last_seen_at, t.name "
                   "FROM console_sessions s JOIN technicians t ON t.id = s.technician_id "
                   "WHERE s.token_hash = ?");
    // The lookup goes by the hash, which tells an attacker nothing about the
    // identifier; the comparison itself does not stop at the first difference.
    if (!find.bindBlob(1, wanted).step() || !constantTimeEqual(find.columnBlob(0), wanted)) {
        return std::nullopt;
    }
    SessionTechnician technician{find.columnInt(1), find.columnText(4)};
    bool live = now < find.columnInt(3) + limits_.idleSeconds &&
                now < find.columnInt(2) + limits_.absoluteSeconds;
    find.reset();
    Statement change(database_.db, live ? "UPDATE console_sessions SET last_seen_at = ?2 WHERE "
                                          "token_hash = ?1"
                                        : "DELETE FROM console_sessions WHERE token_hash = ?1");
    change.bindBlob(1, wanted);
    if (live) {
        change.bind(2, now);
    }
    change.step();
    transaction.commit();
    if (!live) {
        return std::nullopt;
    }
    return technician;
}

bool Sessions::end(std::string_view identifier) {
    if (!matchesShape(identifier, kIdentifierShape)) {
        return false;
    }
    std::string stored = storedForm(identifier);
    std::lock_guard<std::mutex> lock(database_.mutex);
    Statement remove(database_.db, "DELETE FROM console_sessions WHERE token_hash = ?");
    remove.bindBlob(1, stored).step();
    return database_.db.changes() == 1;
}

std::int64_t Sessions::forgetExpired() {
    std::int64_t now = clock_();
    std::lock_guard<std::mutex> lock(database_.mutex);
    Statement remove(database_.db, "DELETE FROM console_sessions WHERE last_seen_at <= ?1 - ?2 "
                                   "OR created_at <= ?1 - ?3");
    remove.bind(1, now).bind(2, limits_.idleSeconds).bind(3, limits_.absoluteSeconds).step();
    return database_.db.changes();
}

} // namespace zeq::accounts
