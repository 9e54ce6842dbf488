#pragma once

#include <functional>
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

// Source of fresh codes; the store takes one so tests can force collisions.
using ReceiptCodeSource = std::function<std::string()>;

} // namespace zeq
