#include "store/retention_sweeper.h"

#include "base/request_log.h"

namespace zeq {

SweepResult sweepExpired(ReportStore& store, int retentionDays, std::int64_t now) {
    SweepResult result;
    result.reports = store.purgeReceivedBefore(now - retentionDays * kSecondsPerDay);
    result.tokens = store.forgetTokensExpiredBefore(now - kSpentTokenMemorySeconds);
    return result;
}

RetentionSweeper::RetentionSweeper(ReportStore& store, int retentionDays, Clock clock,
                                   std::chrono::seconds interval)
    : store_(store), retentionDays_(retentionDays), clock_(std::move(clock)), interval_(interval),
      thread_([this] { run(); }) {}

RetentionSweeper::~RetentionSweeper() {
    stop();
}

void RetentionSweeper::stop() {
    stopSignal_.raise();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void RetentionSweeper::run() {
    while (!stopSignal_.raised()) {
        try {
            SweepResult result = sweepExpired(store_, retentionDays_, clock_());
            if (result.reports > 0) {
                writeLogLine("zeq-server: borrados " + std::to_string(result.reports) +
                             " informes de más de " + std::to_string(retentionDays_) + " días");
            }
        } catch (const std::exception& error) {
            // The next round tries again; the service keeps answering meanwhile.
            writeLogLine(std::string("zeq-server: no se pudo aplicar la conservación: ") +
                         error.what());
        }
        stopSignal_.pause(interval_);
    }
}

} // namespace zeq
