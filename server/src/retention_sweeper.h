#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "clock.h"
#include "report_store.h"

namespace zeq {

constexpr std::int64_t kSecondsPerDay = 86400;

struct SweepResult {
    std::int64_t reports = 0;
    std::int64_t tokens = 0;
};

// Deletes the reports received more than retentionDays before now and forgets
// the used tokens that have expired.
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
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace zeq
