#pragma once

#include <cstdint>
#include <string_view>

namespace zeq::findings {

// Which System-log events the event rules count, by code and source.
enum class EventKind {
    Other,
    BugCheck,           // 1001 from BugCheck / WER-SystemErrorReporting: a blue screen
    KernelPowerReboot,  // 41 from Kernel-Power: rebooted without a clean shutdown
    UnexpectedShutdown, // 6008 from EventLog: the previous shutdown was unexpected
    StorageWarning,     // 7, 11, 51, 129, 153, 157 from a disk or storage driver
};

EventKind classifyEvent(std::uint64_t code, std::string_view source);

// Whether `source` is a disk or storage controller driver (case ignored):
// disk, atapi, storahci, stornvme, storport, nvme, iaStor*, amdsata, …
bool isStorageSource(std::string_view source);

} // namespace zeq::findings
