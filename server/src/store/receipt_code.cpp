#include "store/receipt_code.h"

#include <cctype>
#include <vector>

#include "base/crypto.h"
#include "base/text_shapes.h"

namespace zeq {

std::string newReceiptCode() {
    std::vector<unsigned char> bytes = randomBytes(6);
    return *receiptCodeFrom(toHex(bytes.data(), bytes.size(), HexCase::Upper));
}

bool isReceiptCode(std::string_view text) {
    return matchesShape(text, kReceiptCodeShape);
}

std::optional<std::string> receiptCodeFrom(std::string_view typed) {
    std::string digits;
    for (char c : typed) {
        if (c == ' ' || c == '\t' || c == '-') {
            continue;
        }
        if (digits.size() == 15) {
            return std::nullopt;
        }
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (digits.size() == 15 && digits.compare(0, 3, "ZEQ") == 0) {
        digits.erase(0, 3);
    }
    if (digits.size() != 12) {
        return std::nullopt;
    }
    std::string code =
        "ZEQ-" + digits.substr(0, 4) + "-" + digits.substr(4, 4) + "-" + digits.substr(8);
    return isReceiptCode(code) ? std::optional<std::string>(code) : std::nullopt;
}

} // namespace zeq
