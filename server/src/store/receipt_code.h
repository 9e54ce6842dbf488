#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zeq {

// Receipt codes: "ZEQ-XXXX-XXXX-XXXX", twelve upper-case hexadecimal digits
// (48 bits) from the CSPRNG. Uniqueness is enforced by the store, which draws
// again on a collision. The shape is as base/text_shapes.h reads it.
constexpr std::string_view kReceiptCodeShape = "ZEQ-XXXX-XXXX-XXXX";
constexpr std::size_t kReceiptCodeLength = kReceiptCodeShape.size();

std::string newReceiptCode();
bool isReceiptCode(std::string_view text);
// A code however a person typed it: in any case, with or without its hyphens
// and the "ZEQ" prefix, with spaces anywhere ("zeq 1a2b 3c4d 5e6f",
// "1A2B-3C4D-5E6F"). nullopt when the text is not twelve hexadecimal digits so
// written.
std::optional<std::string> receiptCodeFrom(std::string_view typed);

// Source of fresh codes; the store takes one so tests can force collisions.
using ReceiptCodeSource = std::function<std::string()>;

} // namespace zeq
