#include "store/listing_filler.h"

#include <algorithm>

#include "base/request_log.h"
#include "findings/findings.h"
#include "findings/report_overview.h"

namespace zeq {

namespace {

// After a failure (a disk error, a locked database) the filler tries again
// this much later rather than spinning.
constexpr std::chrono::seconds kRetryAfterFailure{60};

} // namespace

std::int64_t fillListingBatch(ReportStore& store, ReportReader& reader, std::size_t batchRows) {
    std::vector<UnlistedReport> batch = reader.unlisted(findings::kRulesVersion, batchRows);
    if (batch.empty()) {
        return 0;
    }
    std::vector<ComputedOverview> computed;
    computed.reserve(batch.size());
    for (UnlistedReport& report : batch) {
        computed.push_back({std::move(report.code), findings::overviewOf(report.body)});
        report.body = std::string(); // a batch of 2 MiB reports is let go as it goes
    }
    store.updateOverviews(computed);
    // Counted as computed even when a report went meanwhile: the batch is done.
    return static_cast<std::int64_t>(computed.size());
}

ListingFiller::ListingFiller(ReportStore& store, std::string databasePath,
                             std::chrono::milliseconds minimumPause)
    : store_(store), databasePath_(std::move(databasePath)), minimumPause_(minimumPause),
      thread_([this] { run(); }) {}

ListingFiller::~ListingFiller() {
    stop();
}

void ListingFiller::stop() {
    stopSignal_.raise();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ListingFiller::run() {
    for (;;) {
        try {
            ReportReader reader(databasePath_);
            for (;;) {
                auto start = std::chrono::steady_clock::now();
                std::int64_t written = fillListingBatch(store_, reader);
                if (written == 0) {
                    break;
                }
                filled_ += written;
                auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start);
                if (!stopSignal_.pause(std::max(took, minimumPause_))) {
                    writeLogLine("zeq-server: calculado el resumen de " + std::to_string(filled_) +
                                 " informes guardados antes; el resto, al volver a arrancar");
                    return;
                }
            }
            if (filled_ > 0) {
                writeLogLine("zeq-server: calculado el resumen de " + std::to_string(filled_) +
                             " informes guardados antes");
            }
            done_ = true;
            return;
        } catch (const std::exception& error) {
            writeLogLine(std::string("zeq-server: no se pudo calcular el resumen de los informes "
                                     "guardados antes: ") +
                         error.what());
        }
        if (!stopSignal_.pause(kRetryAfterFailure)) {
            return;
        }
    }
}

} // namespace zeq
