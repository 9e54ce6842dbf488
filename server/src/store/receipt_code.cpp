#include "store/receipt_code.h"

#include <vector>

#include "base/crypto.h"
#include "base/text_shapes.h"

namespace zeq {

std::string newReceiptCode() {
    std::vector<unsigned char> bytes = randomBytes(6);
    std::string digits = toHex(bytes.data(), bytes.size(), HexCase::Upper);
    return "ZEQ-" + digits.substr(0, 4) + "-" + digits.substr(4, 4) + "-" + digits.substr(8, 4);
}

bool isReceiptCode(std::string_view text) {
    return matchesShape(text, kReceiptCodeShape);
}

} // namespace zeq
