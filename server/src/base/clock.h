#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace zeq {

// Seconds since the Unix epoch. Components take a Clock so that tests can move
// time (token expiry, retention) without waiting.
using Clock = std::function<std::int64_t()>;

inline std::int64_t systemSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace zeq
