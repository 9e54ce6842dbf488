#include "findings/disk_identity.h"

#include <cctype>

#include "findings/report_text.h"

namespace zeq::findings {

namespace {

constexpr std::uint64_t kMaxDiskNumber = 1000000;
// A disk section holds a row per disk, and a PC has a handful. Joining a row
// compares it with every disk, so only this many rows of each section are
// joined; any further row (a report Windows did not write) stands as a disk
// of its own, still read by the rules, instead of costing rows × disks.
constexpr std::size_t kMaxJoinedRows = 64;
// The shortest SMART product that may identify a model.
constexpr std::size_t kMinProductLength = 4;

std::string upperTrimmed(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else {
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

// A serial number that identifies something: not empty, not only zeros and
// separators (virtual and some USB disks report those).
std::optional<std::string> usableSerial(std::optional<std::string_view> serial) {
    if (!serial) {
        return std::nullopt;
    }
    std::string text = upperTrimmed(*serial);
    if (text.find_first_not_of("0_.- ") == std::string::npos) {
        return std::nullopt;
    }
    return text;
}

std::string underscoresToSpaces(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = c == '_' ? ' ' : c;
    }
    return upperTrimmed(out);
}

std::string diskName(std::optional<std::string_view> name, std::string_view fallback) {
    return name && !upperTrimmed(*name).empty() ? plainText(*name, 80) : std::string(fallback);
}

// A disk known so far only by its name.
DiskIdentity& addDisk(std::vector<DiskIdentity>& disks, std::string name) {
    DiskIdentity disk;
    disk.name = std::move(name);
    disks.push_back(std::move(disk));
    return disks.back();
}

void addDrives(const SectionView& drives, std::vector<DiskIdentity>& disks) {
    for (std::size_t i = 0; i < drives.size(); ++i) {
        addDisk(disks, diskName(drives.row(i).text("Model"), "disco sin modelo")).driveRow = i;
    }
}

MediaKind mediaOf(const RowView& health) {
    std::optional<std::uint64_t> media = health.number("MediaType", 0xFFFF);
    if (media == 3u) {
        return MediaKind::HardDisk;
    }
    if (media == 4u || health.number("BusType", 0xFFFF) == 17u) { // SSD, or NVMe
        return MediaKind::SolidState;
    }
    return MediaKind::Unknown;
}

// The one disk that `matches`, or nullptr when none or several do.
template <typename Match> DiskIdentity* onlyDisk(std::vector<DiskIdentity>& disks, Match matches) {
    DiskIdentity* found = nullptr;
    for (DiskIdentity& disk : disks) {
        if (matches(disk)) {
            if (found != nullptr) {
                return nullptr;
            }
            found = &disk;
        }
    }
    return found;
}

// What the other sections are joined by, read once from "Discos físicos".
struct DriveKeys {
    std::vector<std::optional<std::string>> serials;
    std::vector<std::optional<std::uint64_t>> numbers;
    std::vector<std::optional<std::string_view>> models;
    bool complete = false; // read without an error or a partial mark
};

DriveKeys driveKeys(const SectionView& drives) {
    DriveKeys keys;
    keys.complete = drives.complete();
    for (std::size_t i = 0; i < drives.size(); ++i) {
        keys.serials.push_back(usableSerial(drives.row(i).text("SerialNumber")));
        keys.numbers.push_back(drives.row(i).number("Index", kMaxDiskNumber));
        keys.models.push_back(drives.row(i).text("Model"));
    }
    return keys;
}

void addHealth(const SectionView& health, const DriveKeys& drives,
               std::vector<DiskIdentity>& disks) {
    for (std::size_t i = 0; i < health.size(); ++i) {
        std::optional<std::string> serial = usableSerial(health.row(i).text("SerialNumber"));
        DiskIdentity* disk = serial && i < kMaxJoinedRows
                                 ? onlyDisk(disks,
                                            [&](const DiskIdentity& d) {
                                                return d.driveRow && !d.healthRow &&
                                                       drives.serials[*d.driveRow] == serial;
                                            })
                                 : nullptr;
        if (disk == nullptr) {
            disk =
                &addDisk(disks, diskName(health.row(i).text("FriendlyName"), "disco sin nombre"));
        }
        disk->healthRow = i;
        disk->media = mediaOf(health.row(i));
    }
}

void addCounters(const SectionView& counters, const DriveKeys& drives,
                 std::vector<DiskIdentity>& disks) {
    for (std::size_t i = 0; i < counters.size(); ++i) {
        std::optional<std::uint64_t> id = counters.row(i).number("DeviceId", kMaxDiskNumber);
        DiskIdentity* disk = id && i < kMaxJoinedRows
                                 ? onlyDisk(disks,
                                            [&](const DiskIdentity& d) {
                                                return d.driveRow && !d.counterRow &&
                                                       drives.numbers[*d.driveRow] == id;
                                            })
                                 : nullptr;
        if (disk == nullptr) {
            std::string name = id ? "disco número " + std::to_string(*id) : "disco sin número";
            disk = &addDisk(disks, name);
        }
        disk->counterRow = i;
    }
}

bool modelStartsWithProduct(std::optional<std::string_view> model,
                            const std::vector<std::string>& products) {
    if (!model) {
        return false;
    }
    std::string normalized = upperTrimmed(*model);
    for (const std::string& product : products) {
        if (product.size() >= kMinProductLength &&
            normalized.compare(0, product.size(), product) == 0) {
            return true;
        }
    }
    return false;
}

void addSmart(const SectionView& smart, const DriveKeys& drives, std::vector<DiskIdentity>& disks) {
    for (std::size_t i = 0; i < smart.size(); ++i) {
        std::optional<std::string_view> instance = smart.row(i).text("InstanceName");
        std::vector<std::string> products = smartProducts(instance.value_or(""));
        DiskIdentity* disk =
            i < kMaxJoinedRows
                ? onlyDisk(disks,
                           [&](const DiskIdentity& d) {
                               return d.driveRow &&
                                      modelStartsWithProduct(drives.models[*d.driveRow], products);
                           })
                : nullptr;
        // One SMART row that names no product and one drive in a complete list:
        // the same disk. A named product that begins no model stays apart, so
        // that a failing disk is never reported as another one.
        if (disk == nullptr && products.empty() && drives.complete && smart.size() == 1 &&
            drives.models.size() == 1 && !disks.empty() && disks.front().driveRow) {
            disk = &disks.front();
        }
        if (disk == nullptr) {
            std::string name = products.empty() ? diskName(instance, "disco sin nombre")
                                                : plainText(products.front(), 80);
            disk = &addDisk(disks, name);
        }
        disk->smartRows.push_back(i);
    }
}

} // namespace

std::vector<std::string> smartProducts(std::string_view instanceName) {
    std::string upper(instanceName);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // The bus and the device, up to the instance part after the second "\".
    std::string_view name = upper;
    std::size_t first = name.find('\\');
    name = name.substr(0, first == std::string_view::npos ? first : name.find('\\', first + 1));
    std::vector<std::string> products;
    std::size_t ven = name.find("&VEN_"), prod = name.find("&PROD_");
    if (ven != std::string_view::npos && prod != std::string_view::npos && ven < prod) {
        std::string_view vendor = name.substr(ven + 5, prod - ven - 5);
        std::string_view product = name.substr(prod + 6);
        product = product.substr(0, product.find('&'));
        products.push_back(underscoresToSpaces(std::string(vendor) + "_" + std::string(product)));
        products.push_back(underscoresToSpaces(product));
    } else if (name.rfind("IDE\\DISK", 0) == 0) {
        std::string_view model = name.substr(8);
        products.push_back(underscoresToSpaces(model.substr(0, model.find("__"))));
    }
    return products;
}

std::vector<DiskIdentity> identifyDisks(const ReportView& report) {
    SectionView drives = report.section(Section::PhysicalDisks);
    DriveKeys keys = driveKeys(drives);
    std::vector<DiskIdentity> disks;
    addDrives(drives, disks);
    addHealth(report.section(Section::DiskHealth), keys, disks);
    addCounters(report.section(Section::DiskReliability), keys, disks);
    addSmart(report.section(Section::Smart), keys, disks);
    return disks;
}

} // namespace zeq::findings
