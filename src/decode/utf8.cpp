#include "decode/utf8.h"

#include <cstddef>
#include <cstring>

namespace varkel::decode {

namespace {

[[gnu::cold]] std::string invalid_sequence(int k, std::size_t i) {
  return "invalid utf-8 sequence of " + std::to_string(k) + " bytes from index " + std::to_string(i);
}

[[gnu::cold]] std::string incomplete_sequence(std::size_t i) {
  return "incomplete utf-8 byte sequence from index " + std::to_string(i);
}

constexpr bool is_continuation(std::uint8_t b) {
  return (b & 0xC0) == 0x80;
}

}  // namespace

std::optional<std::string> check_utf8(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* s = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // ASCII runs, eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i >= n) break;
    const std::uint8_t lead = s[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // Width of the sequence and the range allowed for its second byte, which
    // excludes overlong forms, surrogates and code points above U+10FFFF.
    std::size_t width;
    std::uint8_t lo = 0x80;
    std::uint8_t hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      width = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      width = 3;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      width = 4;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      return invalid_sequence(1, i);
    }
    if (i + 1 >= n) return incomplete_sequence(i);
    if (s[i + 1] < lo || s[i + 1] > hi) return invalid_sequence(1, i);
    if (width > 2) {
      if (i + 2 >= n) return incomplete_sequence(i);
      if (!is_continuation(s[i + 2])) return invalid_sequence(2, i);
      if (width > 3) {
        if (i + 3 >= n) return incomplete_sequence(i);
        if (!is_continuation(s[i + 3])) return invalid_sequence(3, i);
      }
    }
    i += width;
  }
  return std::nullopt;
}

}  // namespace varkel::decode
