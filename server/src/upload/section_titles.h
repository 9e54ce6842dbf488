#pragma once

#include <array>
#include <string_view>

namespace zeq {

// The titles of the report's 26 sections, in report order, as the tool writes
// them in each section's "name".
extern const std::array<std::string_view, 26> kSectionTitles;

} // namespace zeq
