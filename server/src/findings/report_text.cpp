#include "findings/report_text.h"

#include <algorithm>

#include <cstdint>

namespace zeq::findings {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";    // U+2026

struct Decoded {
    std::uint32_t codePoint = 0;
    std::size_t length = 0; // 0: not valid UTF-8 at this position
};

// The character that starts at `at`, under the strict rules of base/utf8.
Decoded decodeAt(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t extra = lead >= 0xC2 && lead <= 0xDF   ? 1
                        : lead >= 0xE0 && lead <= 0xEF ? 2
                        : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                       : 0;
    if (extra == 0 || text.size() - at <= extra) {
        return {};
    }
    std::uint32_t cp = lead & (0x3F >> extra);
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return {};
        }
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    static const std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return {};
    }
    return {cp, extra + 1};
}

bool isControl(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

bool isBidiControl(std::uint32_t cp) {
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace

std::string plainText(std::string_view text, std::size_t maxBytes) {
    // Most values are short printable ASCII, which needs neither decoding nor cutting.
    if (text.size() <= maxBytes &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        return std::string(text);
    }
    std::string clean;
    clean.reserve(text.size() < maxBytes + 8 ? text.size() : maxBytes + 8);
    for (std::size_t at = 0; at < text.size();) {
        Decoded d = decodeAt(text, at);
        if (d.length == 0) {
            clean += kReplacement;
            ++at;
        } else if (d.codePoint == '\t' || d.codePoint == '\n' || d.codePoint == '\r') {
            clean += ' ';
        } else if (isControl(d.codePoint) || isBidiControl(d.codePoint)) {
            clean += kReplacement;
        } else {
            clean.append(text.substr(at, d.length));
        }
        at += d.length;
        // Far enough past the limit to know it is cut; stop reading a long text.
        if (clean.size() > maxBytes + kEllipsis.size()) {
            break;
        }
    }
    if (clean.size() <= maxBytes) {
        return clean;
    }
    return shortenUtf8(clean, maxBytes);
}

std::string shortenUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    if (maxBytes < kEllipsis.size()) {
        return {};
    }
    std::size_t cut = maxBytes - kEllipsis.size();
    // Back up over continuation bytes to the start of the character at `cut`.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(text.substr(0, cut)) + std::string(kEllipsis);
}

} // namespace zeq::findings
