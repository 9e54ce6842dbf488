#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zeq {

using Digest = std::array<unsigned char, 32>;

// SHA-256 of the bytes.
Digest sha256(std::string_view data);

// HMAC-SHA256 of the message under the key.
Digest hmacSha256(const std::vector<unsigned char>& key, std::string_view message);

// Bytes from OpenSSL's CSPRNG. Throws std::runtime_error when it cannot deliver.
std::vector<unsigned char> randomBytes(std::size_t count);

enum class HexCase { Lower, Upper };
std::string toHex(const unsigned char* data, std::size_t size, HexCase hexCase = HexCase::Lower);
std::string toHex(const Digest& digest);

// Comparison whose time does not depend on where the texts differ.
bool constantTimeEqual(std::string_view a, std::string_view b);

} // namespace zeq
