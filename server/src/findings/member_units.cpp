#include "findings/member_units.h"

#include <cstdint>
#include <optional>

#include "base/text_shapes.h"
#include "findings/device_problems.h"
#include "findings/report_dates.h"
#include "findings/report_text.h"
#include "findings/units.h"

namespace zeq::findings {

namespace {

enum class Kind {
    Text,
    Bytes,
    Kilobytes,
    Megahertz,
    MegahertzPlain, // memory speeds: "2400 MHz", as modules are sold
    Dmtf,
    YesNo,
    TenthsOfKelvin,
    Celsius,
    Percent,
    ProductState,
    BitsPerSecond,
    Milliwatthours,
    Millivolts,
    Hours,
    RunTime,
    InstalledOn,
    DeviceProblem,
    Enumeration,
};

// Words for the values of an enumerated member.
struct Word {
    std::uint64_t value;
    const char* word;
};

struct MemberUnit {
    Section section;
    std::string_view member;
    Kind kind;
    std::initializer_list<Word> words = {};
};

using S = Section;

const MemberUnit kUnits[] = {
    {S::Computer, "TotalPhysicalMemory", Kind::Bytes},
    {S::Windows, "InstallDate", Kind::Dmtf},
    {S::Windows, "LastBootUpTime", Kind::Dmtf},
    {S::Windows, "FreePhysicalMemory", Kind::Kilobytes},
    {S::Windows, "TotalVisibleMemorySize", Kind::Kilobytes},
    {S::Windows, "FreeVirtualMemory", Kind::Kilobytes},
    {S::Windows, "TotalVirtualMemorySize", Kind::Kilobytes},
    {S::Processor, "MaxClockSpeed", Kind::Megahertz},
    {S::Processor, "CurrentClockSpeed", Kind::Megahertz},
    {S::Processor, "LoadPercentage", Kind::Percent},
    {S::Processor, "L2CacheSize", Kind::Kilobytes},
    {S::Processor, "L3CacheSize", Kind::Kilobytes},
    {S::Memory, "Capacity", Kind::Bytes},
    {S::Memory, "Speed", Kind::MegahertzPlain},
    {S::Memory,
     "MemoryType",
     Kind::Enumeration,
     {{0, "no indicado"}, {20, "DDR"}, {21, "DDR2"}, {24, "DDR3"}, {26, "DDR4"}, {34, "DDR5"}}},
    {S::Memory,
     "FormFactor",
     Kind::Enumeration,
     {{0, "desconocido"}, {8, "DIMM"}, {12, "SODIMM"}, {13, "SRIMM"}}},
    {S::MemoryBanks, "MaxCapacity", Kind::Kilobytes},
    {S::Bios, "ReleaseDate", Kind::Dmtf},
    {S::Graphics, "AdapterRAM", Kind::Bytes},
    {S::Graphics, "DriverDate", Kind::Dmtf},
    {S::PhysicalDisks, "Size", Kind::Bytes},
    {S::Volumes, "Size", Kind::Bytes},
    {S::Volumes, "FreeSpace", Kind::Bytes},
    {S::Partitions, "Size", Kind::Bytes},
    {S::Partitions, "StartingOffset", Kind::Bytes},
    {S::Partitions, "BootPartition", Kind::YesNo},
    {S::Partitions, "PrimaryPartition", Kind::YesNo},
    {S::Smart, "PredictFailure", Kind::YesNo},
    {S::DiskHealth, "Size", Kind::Bytes},
    {S::DiskHealth,
     "MediaType",
     Kind::Enumeration,
     {{0, "desconocido"}, {3, "disco duro (HDD)"}, {4, "SSD"}, {5, "SCM"}}},
    {S::DiskHealth,
     "BusType",
     Kind::Enumeration,
     {{1, "SCSI"},
      {3, "ATA"},
      {7, "USB"},
      {8, "RAID"},
      {10, "SAS"},
      {11, "SATA"},
      {12, "SD"},
      {13, "MMC"},
      {15, "virtual"},
      {17, "NVMe"}}},
    {S::DiskHealth,
     "HealthStatus",
     Kind::Enumeration,
     {{0, "correcto"}, {1, "advertencia"}, {2, "en mal estado"}, {5, "desconocido"}}},
    {S::DiskReliability, "Temperature", Kind::Celsius},
    {S::DiskReliability, "TemperatureMax", Kind::Celsius},
    {S::DiskReliability, "Wear", Kind::Percent},
    {S::DiskReliability, "PowerOnHours", Kind::Hours},
    {S::Battery,
     "BatteryStatus",
     Kind::Enumeration,
     {{1, "descargando"},
      {2, "conectada a la corriente"},
      {3, "cargada"},
      {4, "baja"},
      {5, "crítica"},
      {6, "cargando"}}},
    {S::Battery, "EstimatedChargeRemaining", Kind::Percent},
    {S::Battery, "EstimatedRunTime", Kind::RunTime},
    {S::Battery, "DesignCapacity", Kind::Milliwatthours},
    {S::Battery, "FullChargeCapacity", Kind::Milliwatthours},
    {S::Battery, "DesignVoltage", Kind::Millivolts},
    {S::AcpiTemperature, "CurrentTemperature", Kind::TenthsOfKelvin},
    {S::AcpiTemperature, "CriticalTripPoint", Kind::TenthsOfKelvin},
    {S::Network, "Speed", Kind::BitsPerSecond},
    {S::Network,
     "NetConnectionStatus",
     Kind::Enumeration,
     {{0, "desconectado"},
      {1, "conectando"},
      {2, "conectado"},
      {3, "desconectando"},
      {4, "hardware ausente"},
      {5, "hardware deshabilitado"},
      {6, "avería de hardware"},
      {7, "cable desconectado"},
      {8, "autenticando"}}},
    {S::DeviceErrors, "ConfigManagerErrorCode", Kind::DeviceProblem},
    {S::Drivers, "DriverDate", Kind::Dmtf},
    {S::Drivers, "IsSigned", Kind::YesNo},
    {S::Updates, "InstalledOn", Kind::InstalledOn},
    {S::Security, "productState", Kind::ProductState},
    {S::Events, "TimeGenerated", Kind::Dmtf},
};

// WMI's "on AC power" for EstimatedRunTime.
constexpr std::uint64_t kRunTimeOnPower = 71582788;

std::string withNumber(std::string_view text, const std::string& readable) {
    return readable + " [" + std::string(text) + "]";
}

std::string bitsPerSecond(std::uint64_t bps) {
    if (bps >= 1000000000) {
        return formatDecimal(static_cast<long double>(bps) / 1e9L, 1) + " Gbit/s";
    }
    return formatDecimal(static_cast<long double>(bps) / 1e6L, 1) + " Mbit/s";
}

std::optional<std::string> numeric(const MemberUnit& unit, std::uint64_t n) {
    switch (unit.kind) {
    case Kind::Bytes:
        return formatBytes(n);
    case Kind::Kilobytes:
        return formatKilobytes(n);
    case Kind::Megahertz:
        return formatMegahertz(n);
    case Kind::MegahertzPlain:
        return std::to_string(n) + " MHz";
    case Kind::TenthsOfKelvin:
        return formatTenthsOfKelvin(n);
    case Kind::Celsius:
        return std::to_string(n) + " °C";
    case Kind::Percent:
        return std::to_string(n) + " %";
    case Kind::ProductState:
        return n <= 0xFFFFFF ? std::optional(describeProductState(static_cast<std::uint32_t>(n)))
                             : std::nullopt;
    case Kind::BitsPerSecond:
        return bitsPerSecond(n);
    case Kind::Milliwatthours:
        return std::to_string(n) + " mWh";
    case Kind::Millivolts:
        return formatDecimal(static_cast<long double>(n) / 1000.0L, 2) + " V";
    case Kind::Hours:
        return std::to_string(n) + " h";
    case Kind::RunTime:
        return n == kRunTimeOnPower ? "conectada a la corriente" : std::to_string(n) + " min";
    case Kind::DeviceProblem: {
        std::optional<DeviceProblem> problem = findDeviceProblem(n);
        return problem ? std::optional(std::string(problem->meaning)) : std::nullopt;
    }
    case Kind::Enumeration:
        for (const Word& word : unit.words) {
            if (word.value == n) {
                return std::string(word.word);
            }
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::optional<std::string> readable(const MemberUnit& unit, std::string_view text) {
    switch (unit.kind) {
    case Kind::Dmtf: {
        std::optional<DmtfTime> time = parseDmtf(text);
        return time ? std::optional(formatDmtf(*time)) : std::nullopt;
    }
    case Kind::YesNo:
        return formatYesNo(text);
    case Kind::InstalledOn: {
        std::optional<CivilDate> date = parseInstalledOn(text);
        return date ? std::optional(formatDate(*date)) : std::nullopt;
    }
    case Kind::Text:
        return std::nullopt;
    default: {
        std::optional<std::uint64_t> n = parseDecimal(text, UINT64_MAX);
        std::optional<std::string> shown = n ? numeric(unit, *n) : std::nullopt;
        bool keepNumber = unit.kind == Kind::Enumeration || unit.kind == Kind::DeviceProblem ||
                          unit.kind == Kind::ProductState;
        return shown && keepNumber ? std::optional(withNumber(text, *shown)) : shown;
    }
    }
}

} // namespace

std::string readableValue(Section section, std::string_view member, const nlohmann::json& value) {
    if (value.is_null()) {
        return "(sin valor)";
    }
    if (!value.is_string()) {
        return "(no es un texto)";
    }
    std::string_view text = value.get_ref<const nlohmann::json::string_t&>();
    for (const MemberUnit& unit : kUnits) {
        if (unit.section == section && unit.member == member) {
            if (std::optional<std::string> shown = readable(unit, text)) {
                return *shown;
            }
            break;
        }
    }
    return plainText(text, 300);
}

} // namespace zeq::findings
