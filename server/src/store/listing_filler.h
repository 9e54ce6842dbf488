#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "base/stop_signal.h"
#include "store/report_reader.h"
#include "store/report_store.h"

namespace zeq {

// Reports per batch: each batch is read through the reader, computed with no
// lock held and written in one short transaction of the store.
inline constexpr std::size_t kListingBatchRows = 16;

// Computes one batch of listings not computed yet, or computed by older
// rules; returns how many were written (0: nothing left).
std::int64_t fillListingBatch(ReportStore& store, ReportReader& reader,
                              std::size_t batchRows = kListingBatchRows);

// Fills, on a thread of its own, the listings of reports stored by an
// earlier version of the server or computed by older rules, a batch at a time
// with a pause between batches as long as the batch took (at least
// minimumPause), so that it takes at most about half of one core and uploads
// go on meanwhile; ends when none is left, on stop() or on destruction.
class ListingFiller {
  public:
    ListingFiller(ReportStore& store, std::string databasePath,
                  std::chrono::milliseconds minimumPause = std::chrono::milliseconds(5));
    ~ListingFiller();
    ListingFiller(const ListingFiller&) = delete;
    ListingFiller& operator=(const ListingFiller&) = delete;

    void stop();
    // True once every listing is computed (false while working or after a
    // failure, which is logged).
    bool done() const {
        return done_;
    }
    std::int64_t filled() const {
        return filled_;
    }

  private:
    void run();

    ReportStore& store_;
    std::string databasePath_;
    std::chrono::milliseconds minimumPause_;
    StopSignal stopSignal_;
    std::atomic<bool> done_{false};
    std::atomic<std::int64_t> filled_{0};
    std::thread thread_;
};

} // namespace zeq
