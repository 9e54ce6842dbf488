#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zeq::findings {

// Readable units for the values of a report, in Spanish notation (decimal
// comma). Shared by the findings and, later, the console's tables.

inline constexpr std::uint64_t kKiB = 1024;
inline constexpr std::uint64_t kMiB = 1024 * kKiB;
inline constexpr std::uint64_t kGiB = 1024 * kMiB;

// `value` rounded to `decimals` (0 to 3) places with a decimal comma: "12,3".
std::string formatDecimal(long double value, int decimals);

// Bytes in gibibytes with one decimal: "237,8 GiB".
std::string formatGibibytes(std::uint64_t bytes);
// Bytes in the largest fitting decimal unit, and the binary one beside it when
// they differ: "512 B", "256,1 GB (238,5 GiB)".
std::string formatBytes(std::uint64_t bytes);
// Kilobytes (as Win32_OperatingSystem and cache sizes count them), like formatBytes.
std::string formatKilobytes(std::uint64_t kilobytes);
// "3,60 GHz" from 3600 MHz; below 1000 MHz "800 MHz".
std::string formatMegahertz(std::uint64_t megahertz);
// "12,5 %".
std::string formatPercent(long double percent);

// An ACPI thermal zone's tenths of a kelvin in degrees Celsius:
// (value - 2731.5) / 10, so 3010 is 27.85 °C.
long double tenthsOfKelvinToCelsius(std::uint64_t tenths);
// "45,5 °C" (one decimal by default).
std::string formatCelsius(long double celsius, int decimals = 1);
// An ACPI value in °C with the two decimals it has: "27,85 °C" for 3010.
std::string formatTenthsOfKelvin(std::uint64_t tenths);

// A WMI error code as Windows writes it: "0x80041003".
std::string formatHresult(std::uint32_t hresult);

// "sí" for "True", "no" for "False", nullopt for anything else.
std::optional<std::string> formatYesNo(std::string_view wmiBoolean);

// The security product's productState as commonly read: (state >> 12) & 0xF is
// 1 when the product is on, (state >> 4) & 0xF is 0 when its definitions are up
// to date. Windows does not document the field.
struct ProductState {
    bool on = false;
    bool upToDate = false;
};
ProductState decodeProductState(std::uint32_t state);
// "activado, firmas al día", "desactivado, firmas desactualizadas", ...
std::string describeProductState(std::uint32_t state);

// The battery's full-charge capacity as a share of its design capacity, or
// nullopt when either is missing or zero (Windows often reports neither).
std::optional<long double> batteryHealthPercent(std::optional<std::uint64_t> design,
                                                std::optional<std::uint64_t> fullCharge);
// "82,0 % de la capacidad de diseño", or "no disponible" (never "healthy").
std::string describeBatteryHealth(std::optional<std::uint64_t> design,
                                  std::optional<std::uint64_t> fullCharge);

} // namespace zeq::findings
