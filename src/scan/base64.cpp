#include "scan/base64.h"

#include <array>
#include <bit>
#include <cstring>

namespace varkel::scan {

namespace {

constexpr std::uint8_t kInvalid = 0xFF;

// Byte value -> 6-bit value; kInvalid for everything outside the standard
// alphabet, '=' included (padding is recognised by position, not by table).
constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::uint8_t v = 0; v < 64; ++v) table[static_cast<unsigned char>(alphabet[v])] = v;
  return table;
}

constexpr std::array<std::uint8_t, 256> kTable = make_table();

inline std::uint8_t value_of(char c) {
  return kTable[static_cast<unsigned char>(c)];
}

// Writes the 3 bytes of `bits` (24 bits) and one byte of garbage after them,
// as a single 4-byte store; the caller guarantees the fourth byte's room.
inline void store_wide(std::uint8_t* out, std::uint32_t bits) {
  std::uint32_t word = bits << 8;
  if constexpr (std::endian::native == std::endian::little) word = std::byteswap(word);
  std::memcpy(out, &word, 4);
}

}  // namespace

std::optional<ByteBuffer> decode_base64(std::string_view text) {
  const std::size_t length = text.size();
  if (length % 4 != 0) return std::nullopt;
  const std::size_t groups = length / 4;

  ByteBuffer buffer;
  buffer.data = std::make_unique_for_overwrite<std::uint8_t[]>(groups * 3);
  if (groups == 0) return buffer;

  const char* in = text.data();
  std::uint8_t* out = buffer.data.get();

  // Every group but the last: four alphabet characters. Any invalid entry
  // (0xFF) sets the high bits that the OR of the four values tests. The last
  // group's room takes the spare byte of each wide store.
  for (std::size_t g = 0; g + 1 < groups; ++g, in += 4, out += 3) {
    const std::uint32_t a = value_of(in[0]);
    const std::uint32_t b = value_of(in[1]);
    const std::uint32_t c = value_of(in[2]);
    const std::uint32_t d = value_of(in[3]);
    if (((a | b | c | d) & 0xC0) != 0) return std::nullopt;
    store_wide(out, (a << 18) | (b << 12) | (c << 6) | d);
  }

  // The last group: "xxxx", "xxx=" or "xx==", with the unused low bits zero.
  const std::uint32_t a = value_of(in[0]);
  const std::uint32_t b = value_of(in[1]);
  if (in[3] != '=') {
    const std::uint32_t c = value_of(in[2]);
    const std::uint32_t d = value_of(in[3]);
    if (((a | b | c | d) & 0xC0) != 0) return std::nullopt;
    const std::uint32_t bits = (a << 18) | (b << 12) | (c << 6) | d;
    out[0] = static_cast<std::uint8_t>(bits >> 16);
    out[1] = static_cast<std::uint8_t>(bits >> 8);
    out[2] = static_cast<std::uint8_t>(bits);
    buffer.size = groups * 3;
  } else if (in[2] != '=') {
    const std::uint32_t c = value_of(in[2]);
    if (((a | b | c) & 0xC0) != 0 || (c & 0x03) != 0) return std::nullopt;
    const std::uint32_t bits = (a << 18) | (b << 12) | (c << 6);
    out[0] = static_cast<std::uint8_t>(bits >> 16);
    out[1] = static_cast<std::uint8_t>(bits >> 8);
    buffer.size = groups * 3 - 1;
  } else {
    if (((a | b) & 0xC0) != 0 || (b & 0x0F) != 0) return std::nullopt;
    out[0] = static_cast<std::uint8_t>((a << 2) | (b >> 4));
    buffer.size = groups * 3 - 2;
  }
  return buffer;
}

}  // namespace varkel::scan
