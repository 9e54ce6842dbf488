#include <gtest/gtest.h>

#include <array>
#include <set>

#include "store/receipt_code.h"

namespace zeq {
namespace {

TEST(ReceiptCode, NewCodesHaveTheClientsFormat) {
    for (int i = 0; i < 1000; ++i) {
        std::string code = newReceiptCode();
        ASSERT_EQ(code.size(), 18u);
        ASSERT_TRUE(isReceiptCode(code)) << code;
    }
}

TEST(ReceiptCode, NewCodesAreDistinct) {
    std::set<std::string> codes;
    for (int i = 0; i < 20000; ++i) {
        codes.insert(newReceiptCode());
    }
    EXPECT_EQ(codes.size(), 20000u);
}

TEST(ReceiptCode, EveryDigitPositionTakesEveryValue) {
    // A stuck or biased position (say, one of the bytes never drawn) shows here.
    std::array<std::set<char>, 18> seen;
    for (int i = 0; i < 4000; ++i) {
        std::string code = newReceiptCode();
        for (std::size_t p = 0; p < code.size(); ++p) {
            seen[p].insert(code[p]);
        }
    }
    for (std::size_t p = 0; p < seen.size(); ++p) {
        bool fixed = p < 4 || p == 8 || p == 13;
        EXPECT_EQ(seen[p].size(), fixed ? 1u : 16u) << "position " << p;
    }
}

TEST(ReceiptCode, RecognisesExactlyTheFormat) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"ZEQ-0000-0000-0000", true},
        {"ZEQ-ABCD-EF01-2345", true},
        {"ZEQ-FFFF-FFFF-FFFF", true},
        {"ZEQ-abcd-ef01-2345", false},
        {"ZEQ-0000-0000-0000\n", false},
        {"ZEQ-0000-0000-000", false},
        {"ZEQ-0000-0000-00000", false},
        {"ZEQ-000G-0000-0000", false},
        {"XEQ-0000-0000-0000", false},
        {"zeq-0000-0000-0000", false},
        {"ZEQ_0000-0000-0000", false},
        {"ZEQ-0000_0000-0000", false},
        {"ZEQ-0000-0000_0000", false},
        {" ZEQ-0000-0000-000", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isReceiptCode(c.text), c.valid) << c.text;
    }
}

} // namespace
} // namespace zeq
