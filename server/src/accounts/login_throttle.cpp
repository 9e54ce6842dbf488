#include "accounts/login_throttle.h"

#include <algorithm>
#include <string>

#include "base/address_group.h"
#include "base/crypto.h"

namespace zeq::accounts {

namespace {

// A few slips of the fingers cost nothing; then each failure doubles the wait.
constexpr std::int64_t kFreeFailures = 3;
// An address guessing many accounts may be held back for a minute between
// tries; an account guessed at from many addresses for half that, so that its
// technician never waits long.
constexpr std::int64_t kAddressCeilingSeconds = 60;
constexpr std::int64_t kAccountCeilingSeconds = 30;
constexpr std::int64_t kForgetAfterSeconds = 15 * 60;

struct Scope {
    const char* name;
    std::int64_t ceiling;
};

constexpr Scope kAddressScope = {"address", kAddressCeilingSeconds};
constexpr Scope kAccountScope = {"account", kAccountCeilingSeconds};

std::int64_t delayAfter(std::int64_t failures, std::int64_t ceiling) {
    if (failures <= kFreeFailures) {
        return 0;
    }
    std::int64_t shift = std::min<std::int64_t>(failures - kFreeFailures - 1, 20);
    return std::min<std::int64_t>(std::int64_t{1} << shift, ceiling);
}

std::string addressKey(std::string_view address) {
    return addressGroup(address);
}

std::string accountKey(std::string_view name) {
    return toHex(sha256(name));
}

// The count still remembered at `now` (0 once forgotten) and its last failure.
struct Count {
    std::int64_t failures = 0;
    std::int64_t lastFailureAt = 0;
};

Count countOf(Database& db, const Scope& scope, const std::string& key, std::int64_t now) {
    Statement find(db, "SELECT failures, last_failure_at FROM login_failures WHERE scope = ? AND "
                       "key = ?");
    if (!find.bindText(1, scope.name).bindText(2, key).step()) {
        return {};
    }
    Count count{find.columnInt(0), find.columnInt(1)};
    if (now - count.lastFailureAt >= kForgetAfterSeconds) {
        return {};
    }
    return count;
}

std::int64_t waitFor(Database& db, const Scope& scope, const std::string& key, std::int64_t now) {
    Count count = countOf(db, scope, key, now);
    return std::max<std::int64_t>(
        count.lastFailureAt + delayAfter(count.failures, scope.ceiling) - now, 0);
}

void addFailure(Database& db, const Scope& scope, const std::string& key, std::int64_t now) {
    Count count = countOf(db, scope, key, now);
    Statement save(db, "INSERT OR REPLACE INTO login_failures(scope, key, failures, "
                       "last_failure_at) VALUES(?, ?, ?, ?)");
    save.bindText(1, scope.name).bindText(2, key).bind(3, count.failures + 1).bind(4, now).step();
}

void clear(Database& db, const Scope& scope, const std::string& key) {
    Statement remove(db, "DELETE FROM login_failures WHERE scope = ? AND key = ?");
    remove.bindText(1, scope.name).bindText(2, key).step();
}

} // namespace

std::int64_t LoginThrottle::waitSeconds(std::string_view address, std::string_view name) {
    std::int64_t now = clock_();
    std::lock_guard<std::mutex> lock(database_.mutex);
    return std::max(waitFor(database_.db, kAddressScope, addressKey(address), now),
                    waitFor(database_.db, kAccountScope, accountKey(name), now));
}

void LoginThrottle::recordFailure(std::string_view address, std::string_view name) {
    std::int64_t now = clock_();
    std::lock_guard<std::mutex> lock(database_.mutex);
    Transaction transaction(database_.db);
    addFailure(database_.db, kAddressScope, addressKey(address), now);
    addFailure(database_.db, kAccountScope, accountKey(name), now);
    // Counts nobody has added to for a while go, so that the table stays small.
    Statement forget(database_.db, "DELETE FROM login_failures WHERE last_failure_at <= ?");
    forget.bind(1, now - kForgetAfterSeconds).step();
    transaction.commit();
}

void LoginThrottle::recordSuccess(std::string_view address, std::string_view name) {
    std::lock_guard<std::mutex> lock(database_.mutex);
    Transaction transaction(database_.db);
    clear(database_.db, kAddressScope, addressKey(address));
    clear(database_.db, kAccountScope, accountKey(name));
    transaction.commit();
}

} // namespace zeq::accounts
