#include "accounts/password_hash.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace zeq::accounts {

namespace {

// Each computation holds 64 MiB (crypto_pwhash_MEMLIMIT_INTERACTIVE).
constexpr int kConcurrentHashes = 2;

std::atomic<std::uint64_t> verifications{0};

// C++17 has no counting semaphore; a mutex and a condition do the same here.
class HashSlots {
  public:
    void acquire() {
        std::unique_lock<std::mutex> lock(mutex_);
        free_.wait(lock, [this] { return inUse_ < kConcurrentHashes; });
        ++inUse_;
        peak_ = std::max(peak_, inUse_);
    }
    int peak() {
        std::lock_guard<std::mutex> lock(mutex_);
        return peak_;
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --inUse_;
        }
        free_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable free_;
    int inUse_ = 0;
    int peak_ = 0;
};

HashSlots& slots() {
    static HashSlots instance;
    return instance;
}

class HashSlot {
  public:
    HashSlot() {
        slots().acquire();
    }
    ~HashSlot() {
        slots().release();
    }
    HashSlot(const HashSlot&) = delete;
    HashSlot& operator=(const HashSlot&) = delete;
};

void requireSodium() {
    static const int ready = sodium_init();
    if (ready < 0) {
        throw std::runtime_error("libsodium could not start");
    }
}

} // namespace

std::string hashPassword(std::string_view password) {
    requireSodium();
    char encoded[crypto_pwhash_STRBYTES];
    int rc;
    {
        HashSlot slot;
        rc = crypto_pwhash_str(encoded, password.data(), password.size(),
                               crypto_pwhash_OPSLIMIT_INTERACTIVE,
                               crypto_pwhash_MEMLIMIT_INTERACTIVE);
    }
    if (rc != 0) {
        throw std::runtime_error("not enough memory to hash a password");
    }
    return encoded;
}

bool verifyPassword(const std::string& encodedHash, std::string_view password) {
    requireSodium();
    ++verifications;
    HashSlot slot;
    return crypto_pwhash_str_verify(encodedHash.c_str(), password.data(), password.size()) == 0;
}

const std::string& decoyHash() {
    static const std::string hash = [] {
        requireSodium();
        unsigned char secret[32];
        randombytes_buf(secret, sizeof secret);
        std::string password(reinterpret_cast<const char*>(secret), sizeof secret);
        sodium_memzero(secret, sizeof secret);
        return hashPassword(password);
    }();
    return hash;
}

int mostHashesAtOnce() {
    return slots().peak();
}

std::uint64_t verificationsSoFar() {
    return verifications.load();
}

} // namespace zeq::accounts
