#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "findings/report_view.h"

namespace zeq::findings {

// A report value in readable units, by the section and member it belongs to
// (docs/report-format.md, "Useful readings"): bytes as "500,1 GB (465,8 GiB)",
// kilobytes, MHz, DMTF dates as local dates, tenths of a kelvin as °C,
// "True"/"False" as "sí"/"no", productState decoded, the enumerations in words,
// InstalledOn as a date. A value that is not what its member should hold is
// shown as the plain text it is (report_text.h); null as "(sin valor)"; a value
// that is not text as "(no es un texto)". Shared by `show --text` and the console.
std::string readableValue(Section section, std::string_view member, const nlohmann::json& value);

} // namespace zeq::findings
