#pragma once

#include <cstdint>

#include "findings/units.h"

// Every threshold of the findings rules, in one place. docs/findings.md
// explains each; changing one changes what the rules find, so it goes with a
// new kRulesVersion (findings.h).
namespace zeq::findings::thresholds {

// Disks: wear (MSFT_StorageReliabilityCounter.Wear, percentage of the rated
// endurance used). 0 may mean "not reported"; above 255 is not a UInt8.
inline constexpr std::uint64_t kWearWarning = 80;
inline constexpr std::uint64_t kWearCritical = 95;
inline constexpr std::uint64_t kWearMax = 255;

// Disks: temperature in °C. A reading of 0 means "not supported"; readings above
// kDiskReadingMax are not believed. A drive's TemperatureMax counts as its
// limit only between kDiskLimitMin and kDiskLimitMax; then the reading warns
// within kDiskLimitMargin of it. Without a limit: fixed thresholds by media.
inline constexpr std::uint64_t kDiskReadingMax = 125;
inline constexpr std::uint64_t kDiskLimitMin = 50;
inline constexpr std::uint64_t kDiskLimitMax = 100;
inline constexpr std::uint64_t kDiskLimitMargin = 5;
inline constexpr std::uint64_t kSolidStateHot = 70;
inline constexpr std::uint64_t kHardDiskHot = 55;

// Disks: read and write error totals at or above this are "not reported"
// sentinels (all bits set), not counts.
inline constexpr std::uint64_t kDiskErrorTotalMax = 0xFFFFFFFEULL;

// Space on the system volume (C:): warning below both, critical below either.
inline constexpr std::uint64_t kSystemWarningPercent = 10;
inline constexpr std::uint64_t kSystemWarningFree = 20 * kGiB;
inline constexpr std::uint64_t kSystemCriticalPercent = 3;
inline constexpr std::uint64_t kSystemCriticalFree = 2 * kGiB;
// Other fixed volumes: the same pairs, but both must hold for either severity.
// Sizes above this are not believed (NTFS volumes end at 8 PiB).
inline constexpr std::uint64_t kVolumeSizeMax = 8ULL * 1024 * 1024 * kGiB;

// Installed memory (sum of Win32_PhysicalMemory.Capacity).
inline constexpr std::uint64_t kMemoryWarning = 4 * kGiB;
inline constexpr std::uint64_t kMemoryWindows11Info = 8 * kGiB;
// No memory module is larger than this (256 GiB modules exist; 16 TiB do not).
inline constexpr std::uint64_t kMemoryModuleMax = 16ULL * 1024 * kGiB;

// Battery: full-charge capacity below this share of the design capacity.
inline constexpr std::uint64_t kBatteryWornPercent = 60;
// Capacities (mWh) above this are not believed: no battery of a PC holds 1 kWh,
// and 4294967295 is a common "unknown".
inline constexpr std::uint64_t kBatteryCapacityMax = 1000000;

// ACPI thermal zones, in °C after (value - 2731.5) / 10.
inline constexpr std::uint64_t kZoneReadingMin = 0;
inline constexpr std::uint64_t kZoneReadingMax = 110;
inline constexpr std::uint64_t kZoneTripMin = 60;
inline constexpr std::uint64_t kZoneTripMax = 130;
inline constexpr std::uint64_t kZoneHot = 85;
inline constexpr std::uint64_t kZoneTripMargin = 5;

// Updates: the newest installed more than this many days before collection.
inline constexpr std::int64_t kUpdatesStaleDays = 60;
// InstalledOn dates before this year are not believed (Windows 7 is from 2009).
inline constexpr int kUpdatesEarliestYear = 2000;
// Dates later than collection by more than this are not believed (time zones).
inline constexpr std::int64_t kUpdatesFutureSlackDays = 1;

// Events: this many bug checks or unexpected shutdowns make it critical.
inline constexpr std::size_t kEventsRepeatedCritical = 3;
// The tool keeps at most this many events: a full section means "at least".
inline constexpr std::size_t kEventsKeptMax = 80;

} // namespace zeq::findings::thresholds
