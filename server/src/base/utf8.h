#pragma once

#include <string_view>

namespace zeq {

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

} // namespace zeq
