#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/quota_decision.h"

namespace zeq {

// How much may be stored per hour. The defaults let an office of 50 PCs behind
// one address send one report of up to 2 MiB each, and as many again after
// failures, in the same minute (100 reports, 200 MiB).
struct QuotaSettings {
    int reportsPerClientPerHour = 200;                 // per address group
    std::uint64_t bytesPerClientPerHour = 400ull << 20; // per address group
    std::uint64_t bytesPerHour = 4ull << 30;           // all clients together
    // Groups remembered at most; past it, the one charged least recently is
    // forgotten. Only a client from that many groups in one hour meets it, and
    // then the global allowance, not the per-group one, is what binds.
    std::size_t maxGroups = 65536;
};

// Per-client and global hourly allowances for new reports. Thread-safe.
//
// The hour slides in whole minutes: what is charged during minute m is counted
// until minute m + 61 begins, so every charge counts for at least a full hour
// (60 to 61 minutes) and no span of 3600 seconds ever holds more than the
// allowance: a burst at 10:59 and another at 11:00 do not add up to twice it.
// A refusal says when enough of the oldest charges leave the window for the
// report to fit; a refused report charges nothing.
//
// Memory: per group, at most one counter per minute of the last hour; groups
// whose charges have all left the window are forgotten, and never more than
// maxGroups are kept. A clock that steps back only makes the quota stricter
// until it catches up.
class UploadQuota {
  public:
    UploadQuota(QuotaSettings settings, Clock clock);
    UploadQuota(const UploadQuota&) = delete;
    UploadQuota& operator=(const UploadQuota&) = delete;

    // Charges one new report of `bytes` to the group of `clientAddress` (see
    // base/address_group.h) when it fits in that group's and the global
    // hourly allowance; otherwise refuses and says after how many seconds
    // enough of the allowance frees up (≥ 1).
    QuotaDecision charge(const std::string& clientAddress, std::uint64_t bytes);

    // How many address groups are remembered now (for tests and monitoring).
    std::size_t trackedGroups() const;

  private:
    // What was charged during one minute.
    struct Minute {
        std::int64_t minute = 0;
        std::uint64_t reports = 0;
        std::uint64_t bytes = 0;
    };

    // The charges of the last hour, oldest minute first, with their sum.
    class Window {
      public:
        void forgetBefore(std::int64_t firstLiveMinute);
        void add(std::int64_t minute, std::uint64_t bytes);
        // Seconds from `now` until one more report of `bytes` fits within the
        // limits: 0 when it fits now.
        std::int64_t secondsUntilFits(std::int64_t now, std::uint64_t maxReports,
                                      std::uint64_t maxBytes, std::uint64_t bytes) const;
        bool empty() const {
            return minutes_.empty();
        }
        std::int64_t newestMinute() const {
            return minutes_.back().minute;
        }

      private:
        std::vector<Minute> minutes_;
        std::uint64_t reports_ = 0;
        std::uint64_t bytes_ = 0;
    };

    struct Group;
    using Groups = std::map<std::string, Group>;
    struct Group {
        Window window;
        std::list<Groups::iterator>::iterator recency;
    };

    void forgetExpired(std::int64_t firstLiveMinute);

    QuotaSettings settings_;
    Clock clock_;
    mutable std::mutex mutex_;
    Groups groups_;
    // The groups, least recently charged first.
    std::list<Groups::iterator> recency_;
    Window global_;
};

} // namespace zeq
