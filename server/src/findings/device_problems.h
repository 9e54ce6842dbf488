#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zeq::findings {

// Device Manager problem codes (Win32_PnPEntity.ConfigManagerErrorCode, the
// CM_PROB_* values of cfg.h) and what Device Manager says about each, in Spanish.
struct DeviceProblem {
    std::uint32_t code;
    std::string_view constant; // CM_PROB_… name
    std::string_view meaning;  // Spanish
};

// The documented meaning of `code`; nullopt for 0 (no problem) and for codes
// that Microsoft does not document.
std::optional<DeviceProblem> findDeviceProblem(std::uint64_t code);

inline constexpr std::uint32_t kDeviceDisabled = 22;     // disabled on purpose
inline constexpr std::uint32_t kDeviceNotConnected = 45; // not plugged in now

} // namespace zeq::findings
