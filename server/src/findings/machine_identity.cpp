#include "findings/machine_identity.h"

#include <strings.h>

#include <array>
#include <cctype>

#include "base/text_shapes.h"

namespace zeq::findings {

namespace {

// Stock texts of SMBIOS tables left unfilled, as board and BIOS vendors ship them.
constexpr std::array<std::string_view, 22> kPlaceholderTexts = {{
    "To be filled by O.E.M.",
    "To Be Filled By O.E.M.",
    "Default string",
    "System Serial Number",
    "System Product Name",
    "System manufacturer",
    "System Version",
    "Chassis Serial Number",
    "Base Board Serial Number",
    "Not Specified",
    "Not Applicable",
    "Not Available",
    "None",
    "N/A",
    "NA",
    "OEM",
    "O.E.M.",
    "Invalid",
    "Unknown",
    "123456789",
    "1234567890",
    "Type1ProductConfigId",
}};

constexpr std::string_view kStockUuids[] = {
    "03000200-0400-0500-0006-000700080009",
    "00000000-0000-0000-0000-000000000000",
    "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "0", "0000000", "........", "xxxxxxxx": one character over and over says nothing.
bool isOneRepeatedFiller(std::string_view text) {
    constexpr std::string_view kFillers = "0.-xX*#";
    return kFillers.find(text[0]) != std::string_view::npos &&
           text.find_first_not_of(text[0]) == std::string_view::npos;
}

} // namespace

bool isPlaceholderIdentity(std::string_view text) {
    std::string_view value = trimmed(text);
    if (value.empty() || isOneRepeatedFiller(value)) {
        return true;
    }
    for (std::string_view placeholder : kPlaceholderTexts) {
        if (equalsIgnoringCase(value, placeholder)) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> machineUuid(std::string_view text) {
    std::string upper(trimmed(text));
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!matchesShape(upper, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX")) {
        return std::nullopt;
    }
    for (std::string_view stock : kStockUuids) {
        if (upper == stock) {
            return std::nullopt;
        }
    }
    return upper;
}

std::optional<std::string> machineSerial(std::string_view text) {
    if (isPlaceholderIdentity(text)) {
        return std::nullopt;
    }
    return std::string(trimmed(text));
}

} // namespace zeq::findings
