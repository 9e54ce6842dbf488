#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/text_shapes.h"

namespace zeq {
namespace {

// Every byte value in one position of the shape, the rest matching.
std::string acceptedBytes(char placeholder) {
    std::string accepted;
    for (int b = 0; b < 256; ++b) {
        std::string text = "<" + std::string(1, static_cast<char>(b)) + ">";
        if (matchesShape(text, "<" + std::string(1, placeholder) + ">")) {
            accepted += static_cast<char>(b);
        }
    }
    return accepted;
}

TEST(TextShapes, EachPlaceholderTakesExactlyItsClass) {
    EXPECT_EQ(acceptedBytes('X'), "0123456789ABCDEF");
    EXPECT_EQ(acceptedBytes('x'), "0123456789abcdef");
    EXPECT_EQ(acceptedBytes('D'), "0123456789");
    // Any other byte of the shape stands for itself.
    EXPECT_EQ(acceptedBytes('-'), "-");
    EXPECT_EQ(acceptedBytes('Z'), "Z");
    EXPECT_EQ(acceptedBytes('0'), "0");
}

TEST(TextShapes, LengthMustBeTheShapes) {
    struct Case {
        std::string text;
        const char* shape;
        bool matches;
    };
    const Case cases[] = {
        {"", "", true},
        {"", "X", false},
        {"A", "", false},
        {"ZEQ-0A9F-0000-FFFF", "ZEQ-XXXX-XXXX-XXXX", true},
        {"ZEQ-0A9F-0000-FFF", "ZEQ-XXXX-XXXX-XXXX", false},
        {"ZEQ-0A9F-0000-FFFFF", "ZEQ-XXXX-XXXX-XXXX", false},
        {"ZEQ-0A9F-0000-FFFF\n", "ZEQ-XXXX-XXXX-XXXX", false},
        {std::string("ZEQ-0A9F-0000-FFF\0", 18), "ZEQ-XXXX-XXXX-XXXX", false},
        {std::string("ZEQ-0A9F-0000-FFFF\0", 19), "ZEQ-XXXX-XXXX-XXXX", false},
        {"01.ab", "01.xx", true},
        {"01.aB", "01.xx", false},
        {"2024-03-07", "DDDD-DD-DD", true},
        {"2024-03-0a", "DDDD-DD-DD", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(matchesShape(c.text, c.shape), c.matches) << c.text << " / " << c.shape;
    }
}

TEST(TextShapes, DecimalsAreDigitsAloneUpToTheirMaximum) {
    constexpr std::uint64_t kTop = UINT64_MAX;
    struct Case {
        std::string text;
        std::uint64_t max;
        std::optional<std::uint64_t> value;
    };
    const Case cases[] = {
        {"0", 0, 0},
        {"1", 0, std::nullopt},
        {"2097152", 2097152, 2097152},
        {"2097153", 2097152, std::nullopt},
        {"0002097152", 2097152, 2097152},
        {"007", 10, 7},
        {"18446744073709551615", kTop, kTop},
        {"18446744073709551616", kTop, std::nullopt},
        {"99999999999999999999", kTop, std::nullopt},
        {"184467440737095516150", kTop, std::nullopt},
        {"00000000000000000000000000018446744073709551615", kTop, kTop},
        {"", kTop, std::nullopt},
        {"+1", kTop, std::nullopt},
        {"-0", kTop, std::nullopt},
        {" 1", kTop, std::nullopt},
        {"1 ", kTop, std::nullopt},
        {"1\n", kTop, std::nullopt},
        {"1.0", kTop, std::nullopt},
        {"1e3", kTop, std::nullopt},
        {"0x10", kTop, std::nullopt},
        {"\xD9\xA1", kTop, std::nullopt}, // ARABIC-INDIC DIGIT ONE
        {std::string("1\0", 2), kTop, std::nullopt},
        {std::string("\0", 1), kTop, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseDecimal(c.text, c.max), c.value) << c.text << " max " << c.max;
    }
}

TEST(TextShapes, EveryMaximumIsExact) {
    for (std::uint64_t max : {0ull, 9ull, 10ull, 99ull, 255ull, 65535ull, 4294967295ull,
                              1844674407370955161ull, 1844674407370955162ull}) {
        std::string at = std::to_string(max), above = std::to_string(max + 1);
        EXPECT_EQ(parseDecimal(at, max), max);
        EXPECT_EQ(parseDecimal(above, max), std::nullopt) << above;
    }
}

} // namespace
} // namespace zeq

namespace zeq {
namespace {

TEST(TextShapes, HexadecimalsAreHexDigitsAloneUpToTheirMaximum) {
    constexpr std::uint64_t kTop = UINT64_MAX;
    struct Case {
        std::string text;
        std::uint64_t max;
        std::optional<std::uint64_t> value;
    };
    const Case cases[] = {
        {"0", 0, 0},
        {"ff", 255, 255},
        {"FF", 255, 255},
        {"100", 255, std::nullopt},
        {"80041003", 0xFFFFFFFF, 0x80041003},
        {"ffffffffffffffff", kTop, kTop},
        {"10000000000000000", kTop, std::nullopt},
        {"0001d9820939fecd15", kTop, 0x01d9820939fecd15},
        {"", kTop, std::nullopt},
        {"0x10", kTop, std::nullopt},
        {"g", kTop, std::nullopt},
        {"-1", kTop, std::nullopt},
        {" a", kTop, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseHexadecimal(c.text, c.max), c.value) << c.text;
    }
}

} // namespace
} // namespace zeq
