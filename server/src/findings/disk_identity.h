#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "findings/report_view.h"

namespace zeq::findings {

enum class MediaKind { Unknown, HardDisk, SolidState };

// One physical disk as the four disk sections describe it, joined only where
// their identifiers really match (docs/findings.md, "Disks"):
// - "Discos físicos" (Win32_DiskDrive) and "Salud de discos" (MSFT_PhysicalDisk)
//   by SerialNumber, the same text after trimming spaces (case ignored), and not
//   a placeholder of zeros;
// - "Fiabilidad de discos" (MSFT_StorageReliabilityCounter) to "Discos físicos"
//   by DeviceId = Index (both the disk number);
// - "SMART" (MSStorageDriver_FailurePredictStatus) to "Discos físicos" when the
//   product named in its InstanceName begins the drive's Model and only one
//   drive's does, or when each section has exactly one row, the SMART row names
//   no product and "Discos físicos" was read without an error or partial mark.
// A row that joins nothing stands as a disk of its own.
struct DiskIdentity {
    std::string name; // Model, FriendlyName or the SMART product: for titles
    std::optional<std::size_t> driveRow;
    std::optional<std::size_t> healthRow;
    std::optional<std::size_t> counterRow;
    std::vector<std::size_t> smartRows;
    MediaKind media = MediaKind::Unknown; // from "Salud de discos" MediaType/BusType
};

std::vector<DiskIdentity> identifyDisks(const ReportView& report);

// The product a SMART InstanceName names, spaces for underscores, upper case:
// "SCSI\Disk&Ven_Samsung&Prod_SSD_860_EVO_500G\4&…_0" gives "SAMSUNG SSD 860
// EVO 500G" and "SSD 860 EVO 500G"; "IDE\DiskST1000DM003-1ER162______…\…"
// gives "ST1000DM003-1ER162". Empty when the name has neither form.
std::vector<std::string> smartProducts(std::string_view instanceName);

} // namespace zeq::findings
