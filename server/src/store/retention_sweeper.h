#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "base/clock.h"
#include "base/stop_signal.h"
#include "store/report_store.h"

namespace zeq {

constexpr std::int64_t kSecondsPerDay = 86400;
// A spent token is remembered this long after it expires, so that a clock
// stepped back (by less than this) cannot make it valid and unspent again.
constexpr std::int64_t kSpentTokenMemorySeconds = kSecondsPerDay;

struct SweepResult {
    std::int64_t reports = 0;
    std::int64_t tokens = 0;
};

// Deletes the reports received more than retentionDays before now and forgets
// the used tokens that expired more than kSpentTokenMemorySeconds ago.
SweepResult sweepExpired(ReportStore& store, int retentionDays, std::int64_t now);

// Runs sweepExpired at once and then at every interval on a thread of its own,
// until stop() or destruction.
class RetentionSweeper {
  public:
    RetentionSweeper(ReportStore& store, int retentionDays, Clock clock,
                     std::chrono::seconds interval);
    ~RetentionSweeper();
    RetentionSweeper(const RetentionSweeper&) = delete;
    RetentionSweeper& operator=(const RetentionSweeper&) = delete;

    void stop();

  private:
    void run();

    ReportStore& store_;
    int retentionDays_;
    Clock clock_;
    std::chrono::seconds interval_;
    StopSignal stopSignal_;
    std::thread thread_;
};

} // namespace zeq
