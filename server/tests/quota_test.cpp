#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "upload/quota.h"

namespace zeq {
namespace {

constexpr std::int64_t kStart = 1'709'805'600; // 2024-03-07 10:00:00 UTC, a minute's start
constexpr std::uint64_t kMiB = 1 << 20;

struct Step {
    std::int64_t at; // seconds after kStart
    const char* address;
    std::uint64_t bytes;
    int times;               // charges in a row, each expected as below
    bool admitted;
    std::int64_t retryAfter; // expected when refused
};

struct Scenario {
    const char* name;
    QuotaSettings settings;
    std::vector<Step> steps;
};

QuotaSettings limits(int reports, std::uint64_t clientBytes, std::uint64_t allBytes) {
    QuotaSettings settings;
    settings.reportsPerClientPerHour = reports;
    settings.bytesPerClientPerHour = clientBytes;
    settings.bytesPerHour = allBytes;
    return settings;
}

TEST(UploadQuota, AdmitsAndRefusesAtTheBoundaries) {
    const QuotaSettings defaults;
    const Scenario scenarios[] = {
        {"the N-th report is admitted, the next waits for the oldest minute to leave",
         defaults,
         {
             {10, "192.0.2.1", 1000, 200, true, 0},
             {10, "192.0.2.1", 1000, 1, false, 3650},
             {3659, "192.0.2.1", 1000, 1, false, 1},
             {3660, "192.0.2.1", 1000, 200, true, 0},
             {3660, "192.0.2.1", 1000, 1, false, 3660},
         }},
        {"reports spread over the hour free up minute by minute",
         limits(3, 400 * kMiB, 4096 * kMiB),
         {
             {0, "192.0.2.1", 1000, 1, true, 0},
             {600, "192.0.2.1", 1000, 1, true, 0},
             {1200, "192.0.2.1", 1000, 1, true, 0},
             {1800, "192.0.2.1", 1000, 1, false, 1860},
             {3660, "192.0.2.1", 1000, 1, true, 0},
             {3660, "192.0.2.1", 1000, 1, false, 600},
         }},
        {"bytes: the allowance exactly, then not one byte more",
         limits(200, 10 * kMiB, 4096 * kMiB),
         {
             {0, "192.0.2.1", 4 * kMiB, 2, true, 0},
             {30, "192.0.2.1", 2 * kMiB, 1, true, 0},
             {30, "192.0.2.1", 1, 1, false, 3630},
             {60, "192.0.2.1", 1, 1, false, 3600},
         }},
        {"a report larger than what is left waits until enough has left",
         limits(200, 10 * kMiB, 4096 * kMiB),
         {
             {0, "192.0.2.1", 6 * kMiB, 1, true, 0},
             {120, "192.0.2.1", 3 * kMiB, 1, true, 0},
             {180, "192.0.2.1", 2 * kMiB, 1, false, 3480},
             {180, "192.0.2.1", 1 * kMiB, 1, true, 0},
         }},
        {"a report larger than the whole allowance is refused for a window's length",
         limits(200, 1 * kMiB, 4096 * kMiB),
         {
             {0, "192.0.2.1", 1 * kMiB + 1, 1, false, 3660},
             {0, "192.0.2.1", 1 * kMiB, 1, true, 0},
         }},
        {"the global cap binds across groups",
         limits(200, 10 * kMiB, 16 * kMiB),
         {
             {0, "192.0.2.1", 8 * kMiB, 1, true, 0},
             {60, "192.0.2.2", 8 * kMiB, 1, true, 0},
             {120, "192.0.2.3", 1, 1, false, 3540},
             {120, "2001:db8::1", 1, 1, false, 3540},
             {3660, "192.0.2.3", 1, 1, true, 0},
             {3660, "192.0.2.3", 8 * kMiB, 1, false, 60},
         }},
        {"per group and global both full: the later of the two",
         limits(1, 10 * kMiB, 4 * kMiB),
         {
             {0, "192.0.2.2", 2 * kMiB, 1, true, 0},
             {600, "192.0.2.1", 2 * kMiB, 1, true, 0},
             {1200, "192.0.2.1", 1, 1, false, 3060},
             {1200, "192.0.2.3", 1, 1, false, 2460},
         }},
        {"a refusal charges nothing",
         limits(1, 10 * kMiB, 4096 * kMiB),
         {
             {0, "192.0.2.1", 1000, 1, true, 0},
             {0, "192.0.2.1", 1000, 5, false, 3660},
             {1800, "192.0.2.1", 1000, 5, false, 1860},
             {3660, "192.0.2.1", 1000, 1, true, 0},
         }},
        {"IPv6 addresses in one /64 share its allowance; another /64 has its own",
         limits(2, 10 * kMiB, 4096 * kMiB),
         {
             {0, "2001:db8:1:2::1", 1000, 1, true, 0},
             {0, "2001:db8:1:2:ffff:ffff:ffff:ffff", 1000, 1, true, 0},
             {0, "2001:db8:1:2::abcd", 1000, 1, false, 3660},
             {0, "2001:db8:1:3::1", 1000, 2, true, 0},
             {0, "2001:db8:1:3::2", 1000, 1, false, 3660},
             {0, "2001:db8:2:2::1", 1000, 1, true, 0},
         }},
        {"IPv4 addresses each stand alone, also written IPv4-mapped",
         limits(1, 10 * kMiB, 4096 * kMiB),
         {
             {0, "192.0.2.1", 1000, 1, true, 0},
             {0, "::ffff:192.0.2.1", 1000, 1, false, 3660},
             {0, "192.0.2.2", 1000, 1, true, 0},
             {0, "192.0.3.1", 1000, 1, true, 0},
         }},
        {"the hour slides: a burst at 10:59 and one at 11:00 do not add up",
         defaults,
         {
             {59 * 60 + 30, "192.0.2.1", 1000, 200, true, 0},
             {3600, "192.0.2.1", 1000, 1, false, 3600},
             {7199, "192.0.2.1", 1000, 1, false, 1},
             {7200, "192.0.2.1", 1000, 200, true, 0},
             {7200, "192.0.2.1", 1000, 1, false, 3660},
         }},
        {"an office of 50 PCs behind one address, each sending 2 MiB twice, in one minute",
         defaults,
         {
             {5, "203.0.113.9", 2 * kMiB, 50, true, 0},
             {50, "203.0.113.9", 2 * kMiB, 50, true, 0},
         }},
    };
    for (const Scenario& scenario : scenarios) {
        std::int64_t now = kStart;
        UploadQuota quota(scenario.settings, [&now] { return now; });
        for (std::size_t s = 0; s < scenario.steps.size(); ++s) {
            const Step& step = scenario.steps[s];
            now = kStart + step.at;
            for (int i = 0; i < step.times; ++i) {
                QuotaDecision decision = quota.charge(step.address, step.bytes);
                ASSERT_EQ(decision.admitted, step.admitted)
                    << scenario.name << ", step " << s << ", charge " << i;
                ASSERT_EQ(decision.retryAfterSeconds, step.admitted ? 0 : step.retryAfter)
                    << scenario.name << ", step " << s << ", charge " << i;
            }
        }
    }
}

std::string ipv6InOwnGroup(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "2001:db8:%x:%x::1", n >> 16, n & 0xFFFF);
    return text;
}

TEST(UploadQuota, GroupsWhoseHourHasPassedAreForgotten) {
    std::int64_t now = kStart;
    UploadQuota quota(QuotaSettings{}, [&now] { return now; });
    for (int n = 0; n < 1000; ++n) {
        ASSERT_TRUE(quota.charge(ipv6InOwnGroup(n), 1000).admitted);
    }
    EXPECT_EQ(quota.trackedGroups(), 1000u);
    now += 1800;
    ASSERT_TRUE(quota.charge("192.0.2.1", 1000).admitted);
    EXPECT_EQ(quota.trackedGroups(), 1001u);
    now += 1860; // the first minute has left the window, the half hour has not
    ASSERT_TRUE(quota.charge("192.0.2.2", 1000).admitted);
    EXPECT_EQ(quota.trackedGroups(), 2u);
    now += 3660;
    ASSERT_TRUE(quota.charge("192.0.2.3", 1000).admitted);
    EXPECT_EQ(quota.trackedGroups(), 1u);
}

TEST(UploadQuota, RotatingAddressesCannotGrowItPastItsBound) {
    std::int64_t now = kStart;
    QuotaSettings settings;
    settings.reportsPerClientPerHour = 1;
    settings.maxGroups = 100;
    UploadQuota quota(settings, [&now] { return now; });
    for (int n = 0; n < 20000; ++n) {
        ASSERT_TRUE(quota.charge(ipv6InOwnGroup(n), 1000).admitted) << n;
        ASSERT_LE(quota.trackedGroups(), 100u);
    }
    // The most recent groups are still counted; the global cap still holds.
    EXPECT_FALSE(quota.charge(ipv6InOwnGroup(19999), 1000).admitted);
    EXPECT_TRUE(quota.charge(ipv6InOwnGroup(0), 1000).admitted);
    EXPECT_FALSE(quota.charge(ipv6InOwnGroup(0), 1000).admitted);
    EXPECT_FALSE(quota.charge("192.0.2.1", settings.bytesPerHour).admitted);
}

TEST(UploadQuota, ConcurrentChargesNeverExceedTheAllowance) {
    std::int64_t now = kStart;
    UploadQuota quota(QuotaSettings{}, [&now] { return now; });
    std::atomic<int> admitted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                admitted += quota.charge("2001:db8::1", 1000).admitted ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(admitted.load(), QuotaSettings{}.reportsPerClientPerHour);
}

} // namespace
} // namespace zeq
