#include "base/utf8.h"

#include <cstdint>
#include <cstring>

namespace zeq {

bool isValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Reports are mostly ASCII: skip it eight bytes at a time.
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t extra;
        unsigned char low = 0x80, high = 0xBF; // bounds of the first continuation byte
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) {
                low = 0xA0; // overlong below U+0800
            } else if (c == 0xED) {
                high = 0x9F; // surrogates U+D800..U+DFFF
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) {
                low = 0x90; // overlong below U+10000
            } else if (c == 0xF4) {
                high = 0x8F; // above U+10FFFF
            }
        } else {
            return false; // continuation byte, overlong lead C0/C1, or F5..FF
        }
        if (static_cast<std::size_t>(end - p) <= extra) {
            return false;
        }
        if (p[1] < low || p[1] > high) {
            return false;
        }
        for (std::size_t i = 2; i <= extra; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF) {
                return false;
            }
        }
        p += extra + 1;
    }
    return true;
}

} // namespace zeq
