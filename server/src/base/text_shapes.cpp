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

// The value of `c` as a digit of `base` (10 or 16), or -1.
int digitValue(char c, int base) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (base == 16 && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (base == 16 && c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::uint64_t> parseDigits(std::string_view text, std::uint64_t max, int base) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        int d = digitValue(c, base);
        if (d < 0) {
            return std::nullopt;
        }
        std::uint64_t digit = static_cast<std::uint64_t>(d);
        // value * base + digit > max, asked without computing it.
        if (digit > max || value > (max - digit) / static_cast<std::uint64_t>(base)) {
            return std::nullopt;
        }
        value = value * static_cast<std::uint64_t>(base) + digit;
    }
    return value;
}

} // namespace

std::string_view trimmed(std::string_view text, std::string_view blanks) {
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

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
    return parseDigits(text, max, 10);
}

std::optional<std::uint64_t> parseHexadecimal(std::string_view text, std::uint64_t max) {
    return parseDigits(text, max, 16);
}

} // namespace zeq
