#include <gtest/gtest.h>

#include <string.h>

#include "report/report_buffer.h"

TEST(ReportBufferTest, WorkedExampleEncodesToExactBytes) {
    ReportBuffer buffer = {};
    AppendJsonString(&buffer, L"A\u00f1o \"2\"\tC:\\");
    const unsigned char expected[] = {0x22, 0x41, 0xC3, 0xB1, 0x6F, 0x20, 0x5C, 0x22,
                                      0x32, 0x5C, 0x22, 0x5C, 0x75, 0x30, 0x30, 0x30,
                                      0x39, 0x43, 0x3A, 0x5C, 0x5C, 0x22};
    ASSERT_EQ(sizeof(expected), buffer.length);
    EXPECT_EQ(0, memcmp(expected, buffer.data, sizeof(expected)));
    EXPECT_EQ(0, buffer.data[buffer.length]);
    ResetBuffer(&buffer);
}
