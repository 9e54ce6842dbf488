#include "findings/units.h"

#include <cmath>
#include <cstdio>

namespace zeq::findings {

namespace {

struct Unit {
    long double size;
    const char* name;
};

constexpr Unit kDecimalUnits[] = {{1e12L, "TB"}, {1e9L, "GB"}, {1e6L, "MB"}, {1e3L, "KB"}};
constexpr Unit kBinaryUnits[] = {
    {1099511627776.0L, "TiB"}, {1073741824.0L, "GiB"}, {1048576.0L, "MiB"}, {1024.0L, "KiB"}};

std::string inLargestUnit(std::uint64_t bytes, const Unit (&units)[4]) {
    for (const Unit& unit : units) {
        if (static_cast<long double>(bytes) >= unit.size) {
            return formatDecimal(static_cast<long double>(bytes) / unit.size, 1) + " " + unit.name;
        }
    }
    return std::to_string(bytes) + " B";
}

} // namespace

std::string formatDecimal(long double value, int decimals) {
    if (decimals < 0 || decimals > 3 || !std::isfinite(value)) {
        return "?";
    }
    long double scale = std::pow(10.0L, decimals);
    long double rounded = std::round(std::fabs(value) * scale);
    if (rounded >= 1e18L) {
        return "?";
    }
    auto scaled = static_cast<std::uint64_t>(rounded);
    auto unit = static_cast<std::uint64_t>(scale);
    std::string text = (value < 0 && scaled != 0 ? "-" : "") + std::to_string(scaled / unit);
    if (decimals > 0) {
        std::string fraction = std::to_string(scaled % unit);
        text +=
            "," + std::string(static_cast<std::size_t>(decimals) - fraction.size(), '0') + fraction;
    }
    return text;
}

std::string formatGibibytes(std::uint64_t bytes) {
    return formatDecimal(static_cast<long double>(bytes) / static_cast<long double>(kGiB), 1) +
           " GiB";
}

std::string formatBytes(std::uint64_t bytes) {
    std::string decimal = inLargestUnit(bytes, kDecimalUnits);
    std::string binary = inLargestUnit(bytes, kBinaryUnits);
    return decimal == binary ? decimal : decimal + " (" + binary + ")";
}

std::string formatKilobytes(std::uint64_t kilobytes) {
    if (kilobytes > UINT64_MAX / kKiB) {
        return std::to_string(kilobytes) + " KB";
    }
    return formatBytes(kilobytes * kKiB);
}

std::string formatMegahertz(std::uint64_t megahertz) {
    if (megahertz < 1000) {
        return std::to_string(megahertz) + " MHz";
    }
    return formatDecimal(static_cast<long double>(megahertz) / 1000.0L, 2) + " GHz";
}

std::string formatPercent(long double percent) {
    return formatDecimal(percent, 1) + " %";
}

long double tenthsOfKelvinToCelsius(std::uint64_t tenths) {
    return (static_cast<long double>(tenths) - 2731.5L) / 10.0L;
}

std::string formatCelsius(long double celsius, int decimals) {
    return formatDecimal(celsius, decimals) + " °C";
}

std::string formatTenthsOfKelvin(std::uint64_t tenths) {
    return formatCelsius(tenthsOfKelvinToCelsius(tenths), 2);
}

std::string formatHresult(std::uint32_t hresult) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hresult));
    return text;
}

std::optional<std::string> formatYesNo(std::string_view wmiBoolean) {
    if (wmiBoolean == "True") {
        return "sí";
    }
    if (wmiBoolean == "False") {
        return "no";
    }
    return std::nullopt;
}

ProductState decodeProductState(std::uint32_t state) {
    return {((state >> 12) & 0xF) == 1, ((state >> 4) & 0xF) == 0};
}

std::string describeProductState(std::uint32_t state) {
    ProductState decoded = decodeProductState(state);
    return std::string(decoded.on ? "activado" : "desactivado") +
           (decoded.upToDate ? ", firmas al día" : ", firmas desactualizadas");
}

std::optional<long double> batteryHealthPercent(std::optional<std::uint64_t> design,
                                                std::optional<std::uint64_t> fullCharge) {
    if (!design || !fullCharge || *design == 0 || *fullCharge == 0) {
        return std::nullopt;
    }
    return static_cast<long double>(*fullCharge) * 100.0L / static_cast<long double>(*design);
}

std::string describeBatteryHealth(std::optional<std::uint64_t> design,
                                  std::optional<std::uint64_t> fullCharge) {
    std::optional<long double> percent = batteryHealthPercent(design, fullCharge);
    return percent ? formatPercent(*percent) + " de la capacidad de diseño" : "no disponible";
}

} // namespace zeq::findings
