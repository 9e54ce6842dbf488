#include "store/receipt_code.h"

#include <vector>

#include "base/crypto.h"

namespace zeq {

std::string newReceiptCode() {
    std::vector<unsigned char> bytes = randomBytes(6);
    std::string digits = toHex(bytes.data(), bytes.size(), HexCase::Upper);
    return "ZEQ-" + digits.substr(0, 4) + "-" + digits.substr(4, 4) + "-" + digits.substr(8, 4);
}

bool isReceiptCode(std::string_view text) {
    if (text.size() != kReceiptCodeLength || text.substr(0, 3) != "ZEQ") {
        return false;
    }
    for (std::size_t i = 3; i < text.size(); ++i) {
        char c = text[i];
        bool hyphen = i == 3 || i == 8 || i == 13;
        bool upperHex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (hyphen ? c != '-' : !upperHex) {
            return false;
        }
    }
    return true;
}

} // namespace zeq
