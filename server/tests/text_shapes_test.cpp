#include <gtest/gtest.h>

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

} // namespace
} // namespace zeq
