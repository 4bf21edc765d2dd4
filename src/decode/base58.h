// Base58 text of byte strings (Bitcoin alphabet and leading-zero rule).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varkel::decode {

// Size of the output buffer for n input bytes: n + (n + 1) / 2 (48 for a key).
constexpr std::size_t base58_capacity(std::size_t n) {
  return n + (n + 1) / 2;
}

// Writes the text into `out`; returns its length, or nullopt when `out` is too
// small (cannot happen with base58_capacity(input.size()) characters).
std::optional<std::size_t> base58_encode(std::span<const std::uint8_t> input, std::span<char> out);

// Convenience form returning the text.
std::string base58_encode(std::span<const std::uint8_t> input);

}  // namespace varkel::decode
