#pragma once

#include <cstdint>

namespace zeq {

// Whether a new report may be stored now (upload/quota.h decides, the store
// asks inside its transaction); when not, after how many seconds to retry.
struct QuotaDecision {
    bool admitted = true;
    std::int64_t retryAfterSeconds = 0; // when refused: ≥ 1
};

} // namespace zeq
