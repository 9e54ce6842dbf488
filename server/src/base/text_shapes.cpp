#include "base/text_shapes.h"

namespace zeq {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool fits(char c, char placeholder) {
    switch (placeholder) {
    case 'X':
        return isDigit(c) || (c >= 'A' && c <= 'F');
    case 'x':
        return isDigit(c) || (c >= 'a' && c <= 'f');
    case 'D':
        return isDigit(c);
    default:
        return c == placeholder;
    }
}

} // namespace

bool matchesShape(std::string_view text, std::string_view shape) {
    if (text.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!fits(text[i], shape[i])) {
            return false;
        }
    }
    return true;
}

std::optional<std::uint64_t> parseDecimal(std::string_view text, std::uint64_t max) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (!isDigit(c)) {
            return std::nullopt;
        }
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        // value * 10 + digit > max, asked without computing it.
        if (digit > max || value > (max - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

} // namespace zeq
