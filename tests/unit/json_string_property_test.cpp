// Property: for any UTF-16 text, AppendJsonString writes one strict JSON string literal whose
// decoded bytes are the UTF-8 of the text's first 6000 units (up to its first zero unit).
// Random texts come from a seeded generator; set ZEQ_PROPERTY_SEED to replay a run.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "report/report_buffer.h"

namespace {

const int kTextCount = 100000;
const size_t kMaxUnits = 6000;

struct Random {
    UINT64 state;

    UINT64 Next() { // splitmix64
        UINT64 z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    UINT32 Below(UINT32 bound) {
        return (UINT32)(Next() % bound);
    }
    UINT32 Between(UINT32 low, UINT32 high) {
        return low + Below(high - low + 1);
    }
};

enum UnitKind {
    kControl,
    kQuote,
    kBackslash,
    kSlashOrDel,
    kAsciiPrintable,
    kTwoByte,
    kThreeByte,
    kLoneHigh,
    kLowSurrogate,
    kAstralPair,
    kUnitKindCount
};

// Relative weights of each kind of unit; each text picks one profile.
const UINT32 kProfiles[][kUnitKindCount] = {
    {10, 5, 5, 3, 27, 15, 10, 7, 7, 11}, // everything mixed
    {1, 1, 1, 1, 90, 2, 2, 1, 0, 1},     // mostly plain ASCII, long unescaped runs
    {2, 1, 1, 0, 10, 40, 40, 1, 1, 4},   // mostly letters outside ASCII
    {3, 1, 1, 0, 10, 5, 5, 25, 25, 25},  // surrogates, paired and not
};
const UINT32 kProfileCount = sizeof(kProfiles) / sizeof(kProfiles[0]);

void AppendRandomUnit(Random* random, const UINT32* weights, std::wstring* text) {
    UINT32 total = 0;
    for (int kind = 0; kind < kUnitKindCount; ++kind) {
        total += weights[kind];
    }
    UINT32 pick = random->Below(total);
    int kind = 0;
    while (pick >= weights[kind]) {
        pick -= weights[kind];
        ++kind;
    }
    switch (kind) {
    case kControl:
        *text += (wchar_t)random->Between(0x01, 0x1F);
        break;
    case kQuote:
        *text += L'"';
        break;
    case kBackslash:
        *text += L'\\';
        break;
    case kSlashOrDel:
        *text += random->Below(2) == 0 ? L'/' : (wchar_t)0x7F;
        break;
    case kAsciiPrintable:
        *text += (wchar_t)random->Between(0x20, 0x7E);
        break;
    case kTwoByte:
        *text += (wchar_t)random->Between(0x80, 0x7FF);
        break;
    case kThreeByte: {
        UINT32 unit = random->Between(0x800, 0xFFFF - 0x800);
        *text += (wchar_t)(unit < 0xD800 ? unit : unit + 0x800); // skip the surrogate range
        break;
    }
    case kLoneHigh:
        *text += (wchar_t)random->Between(0xD800, 0xDBFF);
        break;
    case kLowSurrogate:
        *text += (wchar_t)random->Between(0xDC00, 0xDFFF);
        break;
    default: // kAstralPair
        *text += (wchar_t)random->Between(0xD800, 0xDBFF);
        *text += (wchar_t)random->Between(0xDC00, 0xDFFF);
        break;
    }
}

std::wstring RandomText(Random* random) {
    // Mostly short texts, one in ten around the 6000-unit cut.
    size_t units = random->Below(10) != 0 ? random->Between(0, 50) : random->Between(5990, 6010);
    const UINT32* weights = kProfiles[random->Below(kProfileCount)];
    std::wstring text;
    while (text.size() < units) {
        AppendRandomUnit(random, weights, &text);
    }
    text.resize(units); // an astral pair may have overshot by one unit
    if (units != 0 && random->Below(20) == 0) {
        text[random->Below((UINT32)units)] = 0; // an embedded zero ends the text early
    }
    return text;
}

// UTF-8 of UTF-16 units written here without the platform: a pair gives one four-byte
// sequence, an unpaired surrogate gives U+FFFD.
std::string ReferenceUtf8(const wchar_t* units, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        UINT32 cp = (UINT16)units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && (UINT16)units[i + 1] >= 0xDC00 &&
            (UINT16)units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + ((UINT16)units[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += (char)cp;
        } else if (cp < 0x800) {
            out += (char)(0xC0 | (cp >> 6));
            out += (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += (char)(0xE0 | (cp >> 12));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        } else {
            out += (char)(0xF0 | (cp >> 18));
            out += (char)(0x80 | ((cp >> 12) & 0x3F));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string PlatformUtf8(const wchar_t* units, size_t count) {
    if (count == 0) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, units, (int)count, NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, units, (int)count, &out[0], size, NULL, NULL);
    return out;
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1; // upper-case digits are refused: the writer uses lower case
}

// Length of the well-formed UTF-8 sequence at `p` (RFC 3629), or 0.
size_t Utf8SequenceLength(const unsigned char* p, size_t available) {
    unsigned char lead = p[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) {
            return 0;
        }
    }
    return length;
}

// Strict decoder for exactly one JSON string literal filling `json`, in the writer's form:
// only \" \\ and \u00XX for control bytes, never a short escape, well-formed UTF-8 elsewhere.
// Returns an empty text on success, or what is wrong.
std::string DecodeJsonString(const std::string& json, std::string* decoded) {
    const unsigned char* p = (const unsigned char*)json.data();
    size_t n = json.size();
    decoded->clear();
    if (n < 2 || p[0] != '"') {
        return "no opening quotation mark";
    }
    size_t i = 1;
    for (;;) {
        if (i >= n) {
            return "no closing quotation mark";
        }
        unsigned char b = p[i];
        if (b == '"') {
            return i + 1 == n ? std::string() : "bytes after the closing quotation mark";
        }
        if (b < 0x20) {
            return "raw control byte " + std::to_string(b) + " at " + std::to_string(i);
        }
        if (b == '\\') {
            if (i + 1 >= n) {
                return "escape cut short";
            }
            unsigned char e = p[i + 1];
            if (e == '"' || e == '\\') {
                *decoded += (char)e;
                i += 2;
                continue;
            }
            if (e != 'u') {
                return std::string("escape \\") + (char)e + " at " + std::to_string(i);
            }
            if (i + 6 > n) {
                return "\\u escape cut short";
            }
            int value = 0;
            for (int k = 2; k < 6; ++k) {
                int digit = HexValue(p[i + k]);
                if (digit < 0) {
                    return "bad \\u digit at " + std::to_string(i + k);
                }
                value = value * 16 + digit;
            }
            if (value >= 0x20) {
                return "\\u escape for a byte that needs none at " + std::to_string(i);
            }
            *decoded += (char)value;
            i += 6;
            continue;
        }
        if (b < 0x80) {
            *decoded += (char)b;
            ++i;
            continue;
        }
        size_t length = Utf8SequenceLength(p + i, n - i);
        if (length == 0) {
            return "ill-formed UTF-8 at " + std::to_string(i);
        }
        decoded->append(json, i, length);
        i += length;
    }
}

UINT64 ChooseSeed() {
    const char* fixed = getenv("ZEQ_PROPERTY_SEED");
    if (fixed != NULL && fixed[0] != 0) {
        return strtoull(fixed, NULL, 0);
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (UINT64)counter.QuadPart ^ ((UINT64)GetCurrentProcessId() << 32);
}

std::string DescribeUnits(const std::wstring& text) {
    std::string out;
    char unit[8];
    for (size_t i = 0; i < text.size() && i < 80; ++i) {
        wsprintfA(unit, "%04x ", (UINT16)text[i]);
        out += unit;
    }
    if (text.size() > 80) {
        out += "... (" + std::to_string(text.size()) + " units)";
    }
    return out;
}

TEST(JsonStringPropertyTest, RandomTextsRoundTripThroughAStrictDecoder) {
    UINT64 seed = ChooseSeed();
    printf("ZEQ_PROPERTY_SEED=0x%08lx%08lx\n", (unsigned long)(seed >> 32),
           (unsigned long)(seed & 0xFFFFFFFF));
    fflush(stdout);
    Random random = {seed};
    ReportBuffer buffer = {};
    std::string decoded;
    int longTexts = 0;
    int cutTexts = 0;
    for (int index = 0; index < kTextCount; ++index) {
        std::wstring text = RandomText(&random);
        size_t units = wcslen(text.c_str());
        if (units > kMaxUnits) {
            units = kMaxUnits;
            ++cutTexts;
        }
        longTexts += text.size() >= 5990;

        ResetBuffer(&buffer);
        AppendJsonString(&buffer, text.c_str());
        ASSERT_FALSE(buffer.failed) << "text " << index;
        ASSERT_EQ(0, buffer.data[buffer.length]);
        std::string json(buffer.data, buffer.length);
        std::string problem = DecodeJsonString(json, &decoded);
        std::string expected = ReferenceUtf8(text.c_str(), units);
        if (!problem.empty() || decoded != expected ||
            decoded != PlatformUtf8(text.c_str(), units)) {
            FAIL() << "text " << index << " of seed " << seed << ": "
                   << (problem.empty() ? "decoded bytes differ" : problem) << "\n units "
                   << DescribeUnits(text) << "\n json " << testing::PrintToString(json);
        }
    }
    ResetBuffer(&buffer);
    // The generator must really reach the cut, or the run proves less than it claims.
    EXPECT_GT(longTexts, kTextCount / 20);
    EXPECT_GT(cutTexts, kTextCount / 50);
}

// The decoder itself must refuse what the writer must never produce.
TEST(JsonStringPropertyTest, DecoderRefusesMalformedLiterals) {
    const char* const malformed[] = {
        "",
        "\"",
        "abc\"",
        "\"abc",
        "\"a\"b\"",
        "\"a\nb\"",
        "\"\\n\"",
        "\"\\t\"",
        "\"\\/\"",
        "\"\\u000A\"",
        "\"\\u00g1\"",
        "\"\\u001\"",
        "\"\\u0041\"",
        "\"\\",
        "\"\xC3\"",
        "\"\xC0\xAF\"",
        "\"\xED\xA0\x80\"",
        "\"\xF4\x90\x80\x80\"",
        "\"\x80\"",
        "\"a\"\"",
    };
    for (const char* json : malformed) {
        std::string decoded;
        EXPECT_NE("", DecodeJsonString(json, &decoded)) << testing::PrintToString(json);
    }
    std::string decoded;
    EXPECT_EQ("", DecodeJsonString("\"a\\\"\\\\\\u001f\x7f/\xC3\xB1\xF0\x9F\x98\x80\"", &decoded));
    EXPECT_EQ("a\"\\\x1f\x7f/\xC3\xB1\xF0\x9F\x98\x80", decoded);
}

} // namespace
