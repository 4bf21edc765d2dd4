// Base58 text of byte strings (Bitcoin alphabet and leading-zero rule), both
// ways.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

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

// A Solana public key (an account or program address): 32 bytes.
using Pubkey = std::array<std::uint8_t, 32>;

// The longest text of 32 bytes (2^256 - 1).
constexpr std::size_t kKeyTextMax = 44;

// The text of the 32 bytes at `key`, written to `out` (room for kKeyTextMax
// characters); returns its length. base58_encode takes this route for every
// 32-byte input.
std::size_t base58_encode_key(const std::uint8_t* key, char* out);

// base58_encode's route for the other lengths (repeated division of 32-bit
// limbs), for any length; the reference for the key route in tests and
// benchmarks.
std::optional<std::size_t> base58_encode_generic(std::span<const std::uint8_t> input, std::span<char> out);

// Decoding is strict: every character must be in the alphabet (no white
// space, no '0', 'O', 'I', 'l'); each leading '1' is one zero byte and the rest
// is the big-endian number without zero bytes in front, so every byte string
// has exactly one text.

// The offset of the first character outside the alphabet, or nullopt when
// every character is in it (then the text decodes).
std::optional<std::size_t> base58_invalid_at(std::string_view text);

// The bytes of `text`, or "invalid base58 character '{c}' at offset {i}"
// (a byte that is not printable ASCII is shown as \xHH).
Result<std::vector<std::uint8_t>> base58_decode(std::string_view text);

// The 32 bytes of a public key's text, or the message of base58_decode, or
// "base58 text of {n} bytes, not a 32-byte public key".
Result<Pubkey> base58_decode_key(std::string_view text);

}  // namespace varkel::decode
