#include "findings/event_sources.h"

#include <cctype>
#include <string>

namespace zeq::findings {

namespace {

// Disk and storage controller drivers that log the storage events (in lower case).
constexpr std::string_view kStorageSources[] = {
    "disk",     "atapi",    "storahci", "stornvme", "storport", "nvme",     "amdsata", "amdxata",
    "amd_sata", "amd_xata", "nvstor",   "nvstor64", "secnvme",  "uaspstor", "usbstor", "viostor",
    "vioscsi",  "hpsa",     "smartpqi", "arcsas",   "storvsc",  "pvscsi",   "mvs91xx", "rcraid",
};
// Families of drivers named by prefix: Intel RST, LSI/Broadcom, Dell PERC.
constexpr std::string_view kStoragePrefixes[] = {"iastor", "lsi_", "megasas", "percsas"};

constexpr std::uint64_t kStorageCodes[] = {7, 11, 51, 129, 153, 157};

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

bool isStorageSource(std::string_view source) {
    std::string lower = lowerCase(source);
    for (std::string_view name : kStorageSources) {
        if (lower == name) {
            return true;
        }
    }
    for (std::string_view prefix : kStoragePrefixes) {
        if (lower.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

EventKind classifyEvent(std::uint64_t code, std::string_view source) {
    if (code == 1001 &&
        (source == "BugCheck" || source == "Microsoft-Windows-WER-SystemErrorReporting")) {
        return EventKind::BugCheck;
    }
    if (code == 41 && source == "Microsoft-Windows-Kernel-Power") {
        return EventKind::KernelPowerReboot;
    }
    if (code == 6008 && source == "EventLog") {
        return EventKind::UnexpectedShutdown;
    }
    for (std::uint64_t storage : kStorageCodes) {
        if (code == storage && isStorageSource(source)) {
            return EventKind::StorageWarning;
        }
    }
    return EventKind::Other;
}

} // namespace zeq::findings
