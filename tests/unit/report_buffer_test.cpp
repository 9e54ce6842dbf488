#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "report/report_buffer.h"
#include "support/test_heap.h"

namespace {

std::string Text(const ReportBuffer& buffer) {
    return buffer.data == NULL ? std::string() : std::string(buffer.data, buffer.length);
}

// The writer's algorithm taken literally: every piece (1, 2 or 6 bytes) is its own AppendBytes.
// AppendJsonString must leave exactly the same buffer, at the ceiling and under heap refusal too.
void ReferenceAppendJsonString(ReportBuffer* buffer, const std::wstring& wide) {
    AppendBytes(buffer, "\"", 1);
    size_t units = wide.size() < 6000 ? wide.size() : 6000;
    std::string utf8;
    if (units != 0) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)units, NULL, 0, NULL, NULL);
        utf8.resize(size);
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)units, &utf8[0], size, NULL, NULL);
    }
    for (unsigned char b : utf8) {
        if (b == '"') {
            AppendBytes(buffer, "\\\"", 2);
        } else if (b == '\\') {
            AppendBytes(buffer, "\\\\", 2);
        } else if (b < 0x20) {
            char escape[7];
            wsprintfA(escape, "\\u%04x", b);
            AppendBytes(buffer, escape, 6);
        } else {
            AppendBytes(buffer, &b, 1);
        }
    }
    AppendBytes(buffer, "\"", 1);
}

// Every test runs with the counting heap installed and must give back every block it took.
class ReportBufferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedHeap = reportHeap;
        testHeap = TestHeapState();
        reportHeap = &kTestHeap;
    }
    void TearDown() override {
        testHeap.refuseAlloc = false;
        testHeap.refuseReAlloc = false;
        ResetBuffer(&buffer);
        ResetBuffer(&other);
        EXPECT_EQ(0, testHeap.liveBlocks) << "a heap block was not released";
        reportHeap = savedHeap;
    }

    // Brings the buffer to `length` bytes of 'x' with one append.
    void FillTo(ReportBuffer* target, UINT32 length) {
        std::string filler(length, 'x');
        AppendBytes(target, filler.data(), length);
        ASSERT_FALSE(target->failed);
        ASSERT_EQ(length, target->length);
    }

    const ReportHeap* savedHeap = NULL;
    ReportBuffer buffer = {};
    ReportBuffer other = {};
};

// Written out rather than taken from the header, so that a wrong constant there shows.
const UINT32 kCeiling = 0x800000;

// --- AppendBytes and ResetBuffer -------------------------------------------------------------

TEST(ReportBufferHeapTest, ProductionUsesTheProcessHeap) {
    ASSERT_EQ(&kProcessHeap, reportHeap);
    ReportBuffer buffer = {};
    AppendBytes(&buffer, "abc", 3);
    ASSERT_NE(nullptr, buffer.data);
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, buffer.data));
    EXPECT_EQ((SIZE_T)buffer.capacity, HeapSize(GetProcessHeap(), 0, buffer.data));
    ResetBuffer(&buffer);
}

TEST_F(ReportBufferTest, FirstAppendToAnAllZeroRecordTakesTwiceTheBytesPlus8192) {
    const UINT32 sizes[] = {0, 1, 5, 8192, 100000};
    for (UINT32 size : sizes) {
        SCOPED_TRACE(size);
        std::string piece(size, 'q');
        for (UINT32 i = 0; i < size; ++i) {
            piece[i] = (char)('a' + i % 26);
        }
        AppendBytes(&buffer, piece.data(), size);
        ASSERT_NE(nullptr, buffer.data);
        EXPECT_FALSE(buffer.failed);
        EXPECT_EQ(size, buffer.length);
        EXPECT_EQ(2 * size + 8192, buffer.capacity);
        EXPECT_EQ(piece, Text(buffer));
        EXPECT_EQ(0, buffer.data[size]);
        EXPECT_EQ(1, testHeap.allocCalls);
        ResetBuffer(&buffer);
        testHeap.allocCalls = 0;
    }
}

TEST_F(ReportBufferTest, GrowsToTwiceTheNeededSizePlus8192AndKeepsTheText) {
    ASSERT_NO_FATAL_FAILURE(FillTo(&buffer, 100));
    ASSERT_EQ(8392u, buffer.capacity);
    std::string before = Text(buffer);
    // Exactly filling the block (length + 1 == capacity) needs no growth.
    std::string fits(8392 - 1 - 100, 'f');
    AppendBytes(&buffer, fits.data(), (UINT32)fits.size());
    EXPECT_EQ(8392u, buffer.capacity);
    EXPECT_EQ(0, testHeap.reAllocCalls);
    AppendBytes(&buffer, "g", 1);
    EXPECT_EQ(1, testHeap.reAllocCalls);
    EXPECT_EQ(2u * 8392 + 8192, buffer.capacity);
    EXPECT_EQ(before + fits + "g", Text(buffer));
    EXPECT_EQ(0, buffer.data[buffer.length]);
    EXPECT_FALSE(buffer.failed);
}

TEST_F(ReportBufferTest, CeilingAcceptsExactlyEightMebibytesWithTheTerminator) {
    struct Case {
        UINT32 prefill;
        UINT32 count;
        bool accepted;
    };
    // length + count + 1 against 8,388,608.
    const Case cases[] = {
        {0, kCeiling - 1, true},        {0, kCeiling, false},    {1000, kCeiling - 1001, true},
        {1000, kCeiling - 1000, false}, {kCeiling - 1, 0, true}, {kCeiling - 1, 1, false},
        {kCeiling - 2, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.prefill << " + " << c.count);
        if (c.prefill != 0) {
            ASSERT_NO_FATAL_FAILURE(FillTo(&buffer, c.prefill));
        }
        char* dataBefore = buffer.data;
        UINT32 capacityBefore = buffer.capacity;
        std::string piece(c.count, 'p');
        AppendBytes(&buffer, piece.data(), c.count);
        EXPECT_EQ(!c.accepted, buffer.failed);
        if (c.accepted) {
            EXPECT_EQ(c.prefill + c.count, buffer.length);
            EXPECT_EQ(std::string(c.prefill, 'x') + piece, Text(buffer));
        } else {
            EXPECT_EQ(c.prefill, buffer.length);
            EXPECT_EQ(dataBefore, buffer.data);
            EXPECT_EQ(capacityBefore, buffer.capacity);
            EXPECT_EQ(std::string(c.prefill, 'x'), Text(buffer));
        }
        if (buffer.data != NULL) {
            EXPECT_EQ(0, buffer.data[buffer.length]);
        }
        ResetBuffer(&buffer);
    }
}

TEST_F(ReportBufferTest, HugeCountIsRefusedWithoutTouchingMemory) {
    // In 32-bit arithmetic these counts wrap length + count + 1 to a small number; a writer
    // that trusted it would copy gigabytes from this small array.
    const char source[16] = "0123456789abcde";
    const UINT32 length = 10;
    const UINT32 counts[] = {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu - length,
                             0x80000000u, 0x7FFFFFFFu, kCeiling};
    for (UINT32 count : counts) {
        SCOPED_TRACE(count);
        ASSERT_NO_FATAL_FAILURE(FillTo(&buffer, length));
        char* dataBefore = buffer.data;
        UINT32 capacityBefore = buffer.capacity;
        int heapCallsBefore = testHeap.allocCalls + testHeap.reAllocCalls;
        AppendBytes(&buffer, source, count);
        EXPECT_TRUE(buffer.failed);
        EXPECT_EQ(length, buffer.length);
        EXPECT_EQ(dataBefore, buffer.data);
        EXPECT_EQ(capacityBefore, buffer.capacity);
        EXPECT_EQ(heapCallsBefore, testHeap.allocCalls + testHeap.reAllocCalls);
        EXPECT_EQ(std::string(length, 'x'), Text(buffer));
        EXPECT_EQ(0, buffer.data[length]);
        ResetBuffer(&buffer);
    }
}

TEST_F(ReportBufferTest, FailureIsStickyUntilReset) {
    ASSERT_NO_FATAL_FAILURE(FillTo(&buffer, 50));
    AppendBytes(&buffer, "x", 0xFFFFFFFFu);
    ASSERT_TRUE(buffer.failed);
    char* dataBefore = buffer.data;
    UINT32 capacityBefore = buffer.capacity;

    // Every kind of append is ignored while failed, even one that would fit.
    AppendBytes(&buffer, "abc", 3);
    AppendBytes(&buffer, "", 0);
    AppendJsonString(&buffer, L"texto");
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 4;
    AppendJsonVariant(&buffer, &number);
    EXPECT_TRUE(buffer.failed);
    EXPECT_EQ(dataBefore, buffer.data);
    EXPECT_EQ(50u, buffer.length);
    EXPECT_EQ(capacityBefore, buffer.capacity);
    EXPECT_EQ(std::string(50, 'x'), Text(buffer));

    ResetBuffer(&buffer);
    EXPECT_EQ(nullptr, buffer.data);
    EXPECT_EQ(0u, buffer.length);
    EXPECT_EQ(0u, buffer.capacity);
    EXPECT_FALSE(buffer.failed);
    EXPECT_EQ(0, testHeap.liveBlocks);

    AppendBytes(&buffer, "abc", 3);
    EXPECT_FALSE(buffer.failed);
    EXPECT_EQ("abc", Text(buffer));
    EXPECT_EQ(2u * 3 + 8192, buffer.capacity);
}

TEST_F(ReportBufferTest, ResetReleasesOnlyAnOwnedBlock) {
    ResetBuffer(&buffer);
    EXPECT_EQ(0, testHeap.freeCalls);

    // A failed record without storage (refused first append) resets without a heap call too.
    AppendBytes(&buffer, "x", kCeiling);
    ASSERT_TRUE(buffer.failed);
    ASSERT_EQ(nullptr, buffer.data);
    ResetBuffer(&buffer);
    EXPECT_EQ(0, testHeap.freeCalls);
    EXPECT_FALSE(buffer.failed);

    AppendBytes(&buffer, "x", 1);
    ResetBuffer(&buffer);
    EXPECT_EQ(1, testHeap.freeCalls);
    EXPECT_EQ(0, testHeap.liveBlocks);
}

TEST_F(ReportBufferTest, HeapRefusalKeepsTheOldTextReadable) {
    // First allocation refused: the record stays without storage, failed.
    testHeap.refuseAlloc = true;
    AppendBytes(&buffer, "abc", 3);
    EXPECT_TRUE(buffer.failed);
    EXPECT_EQ(nullptr, buffer.data);
    EXPECT_EQ(0u, buffer.length);
    EXPECT_EQ(0u, buffer.capacity);
    ResetBuffer(&buffer);
    testHeap.refuseAlloc = false;

    // Growth refused: the old block, text and terminator are intact.
    ASSERT_NO_FATAL_FAILURE(FillTo(&buffer, 8000));
    char* dataBefore = buffer.data;
    UINT32 capacityBefore = buffer.capacity;
    testHeap.refuseReAlloc = true;
    std::string big(20000, 'b');
    AppendBytes(&buffer, big.data(), (UINT32)big.size());
    EXPECT_EQ(1, testHeap.reAllocCalls);
    EXPECT_TRUE(buffer.failed);
    EXPECT_EQ(dataBefore, buffer.data);
    EXPECT_EQ(capacityBefore, buffer.capacity);
    EXPECT_EQ(8000u, buffer.length);
    EXPECT_EQ(8000u, strlen(buffer.data));
    EXPECT_EQ(std::string(8000, 'x'), std::string(buffer.data));
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, buffer.data));
}

TEST_F(ReportBufferTest, ZeroByteAppendOnAnEmptyRecordAllocatesTheFirstBlock) {
    AppendBytes(&buffer, NULL, 0);
    ASSERT_NE(nullptr, buffer.data);
    EXPECT_EQ(8192u, buffer.capacity);
    EXPECT_EQ(0u, buffer.length);
    EXPECT_EQ(0, buffer.data[0]);
    EXPECT_FALSE(buffer.failed);
}

// --- AppendJsonString -------------------------------------------------------------------------

TEST_F(ReportBufferTest, WorkedExampleEncodesToExactBytes) {
    AppendJsonString(&buffer, L"A\u00f1o \"2\"\tC:\\");
    const unsigned char expected[] = {0x22, 0x41, 0xC3, 0xB1, 0x6F, 0x20, 0x5C, 0x22,
                                      0x32, 0x5C, 0x22, 0x5C, 0x75, 0x30, 0x30, 0x30,
                                      0x39, 0x43, 0x3A, 0x5C, 0x5C, 0x22};
    ASSERT_EQ(sizeof(expected), buffer.length);
    EXPECT_EQ(0, memcmp(expected, buffer.data, sizeof(expected)));
    EXPECT_EQ(0, buffer.data[buffer.length]);
    EXPECT_FALSE(buffer.failed);
}

TEST_F(ReportBufferTest, EscapesOnlyQuoteBackslashAndControlBytes) {
    struct Case {
        std::wstring text;
        std::string json;
    };
    const Case cases[] = {
        {L"\n", std::string("\"\\u000a\"")},
        {L"\t", std::string("\"\\u0009\"")},
        {L"\r", std::string("\"\\u000d\"")},
        {L"\b\f", std::string("\"\\u0008\\u000c\"")},
        {L"\x01", std::string("\"\\u0001\"")},
        {L"\x1f", std::string("\"\\u001f\"")},
        {L"\x1a", std::string("\"\\u001a\"")},
        {L" ", std::string("\" \"")},
        {L"\x7f", std::string("\"\x7f\"")},
        {L"/", std::string("\"/\"")},
        {L"\"", std::string("\"\\\"\"")},
        {L"\\", std::string("\"\\\\\"")},
        {L"a\\\"b", std::string("\"a\\\\\\\"b\"")},
        {L"\u00e9", std::string("\"\xC3\xA9\"")},
        {L"\u0080", std::string("\"\xC2\x80\"")},
        {L"\u20ac", std::string("\"\xE2\x82\xAC\"")},
        {L"\uffff", std::string("\"\xEF\xBF\xBF\"")},
        {std::wstring{(wchar_t)0xD83D, (wchar_t)0xDE00}, std::string("\"\xF0\x9F\x98\x80\"")},
        {std::wstring{L'a', (wchar_t)0xDC00, L'b'}, std::string("\"a\xEF\xBF\xBD"
                                                                "b\"")},
        {std::wstring{L'a', (wchar_t)0xD800, L'b'}, std::string("\"a\xEF\xBF\xBD"
                                                                "b\"")},
        {L"C:\\Archivos de programa\\", std::string("\"C:\\\\Archivos de programa\\\\\"")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.json));
        AppendJsonString(&buffer, c.text.c_str());
        EXPECT_FALSE(buffer.failed);
        EXPECT_EQ(c.json, Text(buffer));
        EXPECT_EQ(0, buffer.data[buffer.length]);
        ResetBuffer(&buffer);
    }
}

TEST_F(ReportBufferTest, NullAndEmptyTextGiveAnEmptyStringWithoutScratch) {
    AppendBytes(&buffer, "[", 1);
    int allocsBefore = testHeap.allocCalls;
    AppendJsonString(&buffer, NULL);
    AppendBytes(&buffer, ",", 1);
    AppendJsonString(&buffer, L"");
    EXPECT_EQ("[\"\",\"\"", Text(buffer));
    EXPECT_EQ(allocsBefore, testHeap.allocCalls);
    EXPECT_FALSE(buffer.failed);
}

TEST_F(ReportBufferTest, EncodesAtMost6000Units) {
    struct Case {
        const char* name;
        std::wstring text;
        std::string json;
    };
    std::wstring body(5999, L'a');
    std::string bodyJson(5999, 'a');
    const Case cases[] = {
        {"5999 units", body, "\"" + bodyJson + "\""},
        {"6000 units", body + L'b', "\"" + bodyJson + "b\""},
        {"6001 units", body + L"bc", "\"" + bodyJson + "b\""},
        {"20000 units", body + L"b" + std::wstring(14000, L'z'), "\"" + bodyJson + "b\""},
        // The cut counts units: the 6000th is a high surrogate whose low half is cut off.
        {"pair split by the cut", body + std::wstring{(wchar_t)0xD83D, (wchar_t)0xDE00},
         "\"" + bodyJson + "\xEF\xBF\xBD\""},
        {"pair ending at unit 6000", std::wstring(5998, L'a') + L"\U0001F600",
         "\"" + std::string(5998, 'a') + "\xF0\x9F\x98\x80\""},
        {"6000 escapes", std::wstring(6001, L'\n'),
         "\"" +
             [] {
                 std::string s;
                 for (int i = 0; i < 6000; ++i) {
                     s += "\\u000a";
                 }
                 return s;
             }() +
             "\""},
        {"6000 three-byte units", std::wstring(6001, L'\u20ac'),
         "\"" +
             [] {
                 std::string s;
                 for (int i = 0; i < 6000; ++i) {
                     s += "\xE2\x82\xAC";
                 }
                 return s;
             }() +
             "\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppendJsonString(&buffer, c.text.c_str());
        EXPECT_FALSE(buffer.failed);
        EXPECT_EQ(c.json, Text(buffer));
        ResetBuffer(&buffer);
    }
}

TEST_F(ReportBufferTest, ScratchRefusalLeavesOnlyTheOpeningQuote) {
    AppendBytes(&buffer, "[", 1);
    testHeap.refuseAlloc = true;
    AppendJsonString(&buffer, L"texto \"largo\"");
    EXPECT_TRUE(buffer.failed);
    EXPECT_EQ("[\"", Text(buffer));
    EXPECT_EQ(0, buffer.data[buffer.length]);
    // The scratch block asked for is the UTF-8 size plus one.
    EXPECT_EQ((SIZE_T)14, testHeap.lastAllocSize);
    EXPECT_EQ(0, testHeap.freeCalls);
}

TEST_F(ReportBufferTest, ScratchBlockIsReleased) {
    AppendJsonString(&buffer, L"a\u00f1o");
    EXPECT_EQ(2, testHeap.allocCalls);
    EXPECT_EQ(1, testHeap.freeCalls);
    EXPECT_EQ(1, testHeap.liveBlocks);
    // The UTF-8 of "año" is 4 bytes; the scratch block has one more.
    EXPECT_EQ((SIZE_T)5, testHeap.lastAllocSize);
}

TEST_F(ReportBufferTest, CeilingMidStringKeepsEarlierPiecesAndNoClosingQuote) {
    struct Case {
        UINT32 room; // bytes still accepted: ceiling - 1 - length
        std::wstring text;
        std::string tail;
        bool failed;
    };
    const Case cases[] = {
        {0, L"abc", "", true},
        {1, L"abc", "\"", true},
        {4, L"abcdefgh", "\"abc", true},
        {3, L"ab", "\"ab", true},
        {4, L"ab", "\"ab\"", false},
        // A six-byte escape is refused whole although three bytes would still fit.
        {5, L"a\nb", "\"a", true},
        {8, L"a\nb", "\"a\\u000a", true},
        {2, L"\"x", "\"", true},
        {3, L"\"x", "\"\\\"", true},
        // The ceiling may split a multi-byte character; the buffer is failed anyway.
        {2, L"\u00f1", "\"\xC3", true},
        {3, L"\u00f1", "\"\xC3\xB1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "room " << c.room << " tail " << testing::PrintToString(c.tail));
        ASSERT_NO_FATAL_FAILURE(FillTo(&buffer, kCeiling - 1 - c.room));
        AppendJsonString(&buffer, c.text.c_str());
        EXPECT_EQ(c.failed, buffer.failed);
        ASSERT_EQ(kCeiling - 1 - c.room + c.tail.size(), buffer.length);
        EXPECT_EQ(c.tail, std::string(buffer.data + kCeiling - 1 - c.room,
                                      buffer.length - (kCeiling - 1 - c.room)));
        EXPECT_EQ(0, buffer.data[buffer.length]);
        EXPECT_EQ('x', buffer.data[0]);
        ResetBuffer(&buffer);
    }
}

// Plain runs are copied in one go and, when even six bytes per byte fit, escapes are written
// straight into the block. The outcome must be that of one append per piece in every case.
const std::wstring kPieceMixes[] = {
    std::wstring(L"ab\"cd\\e\nf\u00f1g\x7f/") + L"\U0001F600" + std::wstring(30, L'h') + L"\x1f" +
        std::wstring(10, L'\u20ac'),
    L"\x01\x02\x03",
    L"ab\"c",
    L"texto sin escapes",
};

void ExpectSameBuffer(const ReportBuffer& expected, const ReportBuffer& actual) {
    EXPECT_EQ(expected.failed, actual.failed);
    EXPECT_EQ(expected.capacity, actual.capacity);
    ASSERT_EQ(expected.length, actual.length);
    EXPECT_EQ(0, memcmp(expected.data, actual.data, expected.length + 1));
}

// Fills the free part of the block with a non-zero byte, so that a missing terminator shows.
void Poison(ReportBuffer* target) {
    memset(target->data + target->length + 1, 0xAB, target->capacity - target->length - 1);
}

TEST_F(ReportBufferTest, EscapingMatchesPiecewiseAppendingAtTheCeiling) {
    const UINT32 maxRoom = 130;
    const UINT32 base = kCeiling - 1 - maxRoom;
    ASSERT_NO_FATAL_FAILURE(FillTo(&buffer, base));
    ASSERT_NO_FATAL_FAILURE(FillTo(&other, base));
    for (const std::wstring& text : kPieceMixes) {
        for (UINT32 room = 0; room <= maxRoom; ++room) {
            SCOPED_TRACE(testing::Message() << testing::PrintToString(text) << " room " << room);
            // Back to `base` bytes: the same text a fresh fill gives, in a block already larger
            // than the ceiling, as a fresh fill's block would be.
            ReportBuffer* targets[] = {&buffer, &other};
            for (ReportBuffer* target : targets) {
                target->length = base;
                target->data[base] = 0;
                target->failed = false;
                Poison(target);
                std::string padding(maxRoom - room, 'm');
                AppendBytes(target, padding.data(), (UINT32)padding.size());
            }
            AppendJsonString(&buffer, text.c_str());
            ReferenceAppendJsonString(&other, text);
            ASSERT_NO_FATAL_FAILURE(ExpectSameBuffer(other, buffer));
            EXPECT_LE(buffer.length + 1, kCeiling);
        }
    }
}

TEST_F(ReportBufferTest, EscapingMatchesPiecewiseAppendingAcrossGrowth) {
    int refusals = 0;
    for (int refuse = 0; refuse <= 1; ++refuse) {
        for (const std::wstring& text : kPieceMixes) {
            // First block 2 * 100 + 8192 = 8392 bytes; the text starts `room` bytes before its
            // end, so it fits, fits only piece by piece, or needs the block to grow.
            for (UINT32 room = 0; room <= 130; ++room) {
                SCOPED_TRACE(testing::Message()
                             << "refuse " << refuse << " " << testing::PrintToString(text)
                             << " room " << room);
                ReportBuffer* targets[] = {&buffer, &other};
                for (ReportBuffer* target : targets) {
                    ASSERT_NO_FATAL_FAILURE(FillTo(target, 100));
                    ASSERT_EQ(8392u, target->capacity);
                    std::string more(8392 - 1 - room - 100, 'm');
                    AppendBytes(target, more.data(), (UINT32)more.size());
                    Poison(target);
                }
                testHeap.refuseReAlloc = refuse != 0;
                AppendJsonString(&buffer, text.c_str());
                ReferenceAppendJsonString(&other, text);
                testHeap.refuseReAlloc = false;
                refusals += buffer.failed;
                ASSERT_NO_FATAL_FAILURE(ExpectSameBuffer(other, buffer));
                ResetBuffer(&buffer);
                ResetBuffer(&other);
            }
        }
    }
    EXPECT_GT(refusals, 0) << "no case crossed the end of the block";
}

// --- AppendJsonVariant ------------------------------------------------------------------------

SAFEARRAY* MakeBstrArray() {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG index = 0;
    BSTR first = SysAllocString(L"uno");
    SafeArrayPutElement(array, &index, first);
    SysFreeString(first);
    return array;
}

SAFEARRAY* MakeI4Array() {
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
    LONG index = 1;
    LONG value = 7;
    SafeArrayPutElement(array, &index, &value);
    return array;
}

// A byte array is the one array the conversion would turn into a text.
SAFEARRAY* MakeByteArray() {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 4);
    memcpy(array->pvData, "ABCD", 4);
    return array;
}

LONG byRefValue = 7;

std::string DecimalText(const char* whole, const char* fraction) {
    WCHAR separator[8] = L"";
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
    char utf8[32] = "";
    WideCharToMultiByte(CP_UTF8, 0, separator, -1, utf8, sizeof(utf8), NULL, NULL);
    return std::string("\"") + whole + utf8 + fraction + "\"";
}

TEST_F(ReportBufferTest, VariantsBecomeAStringOrNull) {
    struct Case {
        const char* name;
        VARIANT (*make)();
        std::string json;
    };
    // clang-format off
    const Case cases[] = {
        {"empty", [] { VARIANT v; VariantInit(&v); return v; }, "null"},
        {"null", [] { VARIANT v; VariantInit(&v); v.vt = VT_NULL; return v; }, "null"},
        {"array of BSTR", [] { VARIANT v; VariantInit(&v); v.vt = VT_ARRAY | VT_BSTR; v.parray = MakeBstrArray(); return v; }, "null"},
        {"array of UI1", [] { VARIANT v; VariantInit(&v); v.vt = VT_ARRAY | VT_UI1; v.parray = MakeByteArray(); return v; }, "null"},
        {"array of I4", [] { VARIANT v; VariantInit(&v); v.vt = VT_ARRAY | VT_I4; v.parray = MakeI4Array(); return v; }, "null"},
        {"bool true", [] { VARIANT v; VariantInit(&v); v.vt = VT_BOOL; v.boolVal = VARIANT_TRUE; return v; }, "\"True\""},
        {"bool false", [] { VARIANT v; VariantInit(&v); v.vt = VT_BOOL; v.boolVal = VARIANT_FALSE; return v; }, "\"False\""},
        {"I4 4", [] { VARIANT v; VariantInit(&v); v.vt = VT_I4; v.lVal = 4; return v; }, "\"4\""},
        {"I4 negative", [] { VARIANT v; VariantInit(&v); v.vt = VT_I4; v.lVal = -2147483647 - 1; return v; }, "\"-2147483648\""},
        {"UI4 max", [] { VARIANT v; VariantInit(&v); v.vt = VT_UI4; v.ulVal = 0xFFFFFFFFu; return v; }, "\"4294967295\""},
        {"UI8 above 2^32", [] { VARIANT v; VariantInit(&v); v.vt = VT_UI8; v.ullVal = 0x123456789ULL; return v; }, "\"4886718345\""},
        {"UI8 max", [] { VARIANT v; VariantInit(&v); v.vt = VT_UI8; v.ullVal = 0xFFFFFFFFFFFFFFFFULL; return v; }, "\"18446744073709551615\""},
        {"I8 negative", [] { VARIANT v; VariantInit(&v); v.vt = VT_I8; v.llVal = -0x123456789LL; return v; }, "\"-4886718345\""},
        {"UI1", [] { VARIANT v; VariantInit(&v); v.vt = VT_UI1; v.bVal = 200; return v; }, "\"200\""},
        {"I2", [] { VARIANT v; VariantInit(&v); v.vt = VT_I2; v.iVal = -300; return v; }, "\"-300\""},
        {"I4 by reference", [] { VARIANT v; VariantInit(&v); v.vt = VT_BYREF | VT_I4; v.plVal = &byRefValue; return v; }, "\"7\""},
        {"BSTR", [] { VARIANT v; VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = SysAllocString(L"C:\\Windows \"x\""); return v; }, "\"C:\\\\Windows \\\"x\\\"\""},
        {"BSTR with zero unit", [] { VARIANT v; VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = SysAllocStringLen(L"ab\0cd", 5); return v; }, "\"ab\""},
        {"BSTR empty", [] { VARIANT v; VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = SysAllocString(L""); return v; }, "\"\""},
        {"BSTR null", [] { VARIANT v; VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = NULL; return v; }, "\"\""},
        // Values the conversion refuses.
        {"unknown null", [] { VARIANT v; VariantInit(&v); v.vt = VT_UNKNOWN; v.punkVal = NULL; return v; }, "null"},
        {"dispatch null", [] { VARIANT v; VariantInit(&v); v.vt = VT_DISPATCH; v.pdispVal = NULL; return v; }, "null"},
        {"error code", [] { VARIANT v; VariantInit(&v); v.vt = VT_ERROR; v.scode = E_FAIL; return v; }, "null"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VARIANT value = c.make();
        VARIANT copy = value;
        AppendJsonVariant(&buffer, &value);
        EXPECT_EQ(c.json, Text(buffer));
        EXPECT_FALSE(buffer.failed);
        EXPECT_EQ(0, memcmp(&copy, &value, sizeof(VARIANT))) << "the variant was modified";
        if ((value.vt & VT_BYREF) == 0) {
            VariantClear(&value);
        }
        ResetBuffer(&buffer);
    }
}

TEST_F(ReportBufferTest, RealVariantUsesTheLocaleDecimalSeparator) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 2.5;
    AppendJsonVariant(&buffer, &value);
    EXPECT_EQ(DecimalText("2", "5"), Text(buffer));
    ResetBuffer(&buffer);

    value.dblVal = -1234.25;
    AppendJsonVariant(&buffer, &value);
    EXPECT_EQ(DecimalText("-1234", "25"), Text(buffer));
}

} // namespace
