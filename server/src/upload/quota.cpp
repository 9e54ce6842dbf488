#include "upload/quota.h"

#include <algorithm>
#include <limits>

#include "base/address_group.h"

namespace zeq {

namespace {

constexpr std::int64_t kSecondsPerMinute = 60;
// A charge made during minute m counts until minute m + 61 begins: at least
// 3600 seconds whatever second of its minute it came in.
constexpr std::int64_t kWindowMinutes = 61;
constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

std::int64_t minuteOf(std::int64_t seconds) {
    std::int64_t minute = seconds / kSecondsPerMinute;
    return seconds % kSecondsPerMinute < 0 ? minute - 1 : minute;
}

} // namespace

void UploadQuota::Window::forgetBefore(std::int64_t firstLiveMinute) {
    auto live = std::find_if(minutes_.begin(), minutes_.end(),
                             [&](const Minute& m) { return m.minute >= firstLiveMinute; });
    for (auto gone = minutes_.begin(); gone != live; ++gone) {
        reports_ -= gone->reports;
        bytes_ -= gone->bytes;
    }
    minutes_.erase(minutes_.begin(), live);
}

void UploadQuota::Window::add(std::int64_t minute, std::uint64_t bytes) {
    // A clock stepped back adds to the newest minute: it leaves no later.
    if (minutes_.empty() || minutes_.back().minute < minute) {
        minutes_.push_back({minute, 0, 0});
    }
    minutes_.back().reports += 1;
    minutes_.back().bytes += bytes;
    reports_ += 1;
    bytes_ += bytes;
}

std::int64_t UploadQuota::Window::secondsUntilFits(std::int64_t now, std::uint64_t maxReports,
                                                   std::uint64_t maxBytes,
                                                   std::uint64_t bytes) const {
    auto fits = [&](std::uint64_t reports, std::uint64_t used) {
        return reports < maxReports && bytes <= maxBytes && used <= maxBytes - bytes;
    };
    if (fits(reports_, bytes_)) {
        return 0;
    }
    if (!fits(0, 0)) {
        // Larger than the whole allowance: it never fits; a window's length.
        return kWindowMinutes * kSecondsPerMinute;
    }
    std::uint64_t reports = reports_, used = bytes_;
    for (const Minute& oldest : minutes_) {
        reports -= oldest.reports;
        used -= oldest.bytes;
        if (fits(reports, used)) {
            return (oldest.minute + kWindowMinutes) * kSecondsPerMinute - now;
        }
    }
    return kWindowMinutes * kSecondsPerMinute; // not reached: an empty window fits
}

UploadQuota::UploadQuota(QuotaSettings settings, Clock clock)
    : settings_(settings), clock_(std::move(clock)) {}

void UploadQuota::forgetExpired(std::int64_t firstLiveMinute) {
    // Least recently charged first: the first group still live ends the sweep.
    while (!recency_.empty()) {
        Groups::iterator oldest = recency_.front();
        oldest->second.window.forgetBefore(firstLiveMinute);
        if (!oldest->second.window.empty()) {
            break;
        }
        recency_.pop_front();
        groups_.erase(oldest);
    }
    global_.forgetBefore(firstLiveMinute);
}

QuotaDecision UploadQuota::charge(const std::string& clientAddress, std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::int64_t now = clock_();
    std::int64_t minute = minuteOf(now);
    std::int64_t firstLiveMinute = minute - (kWindowMinutes - 1);
    forgetExpired(firstLiveMinute);

    std::string key = addressGroup(clientAddress);
    Groups::iterator group = groups_.find(key);
    std::uint64_t maxReports = settings_.reportsPerClientPerHour > 0
                                   ? static_cast<std::uint64_t>(settings_.reportsPerClientPerHour)
                                   : 0;
    std::int64_t wait = 0;
    if (group != groups_.end()) {
        group->second.window.forgetBefore(firstLiveMinute);
        wait = group->second.window.secondsUntilFits(now, maxReports,
                                                     settings_.bytesPerClientPerHour, bytes);
    } else {
        wait = Window().secondsUntilFits(now, maxReports, settings_.bytesPerClientPerHour, bytes);
    }
    // Both allowances must have room: the later of the two moments.
    wait = std::max(wait, global_.secondsUntilFits(now, kUnlimited, settings_.bytesPerHour, bytes));
    if (wait > 0) {
        return {false, wait};
    }

    if (group == groups_.end()) {
        while (!recency_.empty() &&
               groups_.size() >= std::max<std::size_t>(settings_.maxGroups, 1)) {
            groups_.erase(recency_.front());
            recency_.pop_front();
        }
        group = groups_.emplace(std::move(key), Group{}).first;
        group->second.recency = recency_.insert(recency_.end(), group);
    } else {
        recency_.splice(recency_.end(), recency_, group->second.recency);
    }
    group->second.window.add(minute, bytes);
    global_.add(minute, bytes);
    return {true, 0};
}

std::size_t UploadQuota::trackedGroups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return groups_.size();
}

} // namespace zeq
