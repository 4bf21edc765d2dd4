#include "scan/base64.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VARKEL_BASE64_AVX2 1
#endif

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

#ifdef VARKEL_BASE64_AVX2

// 32 characters at a time with AVX2, where the processor has it: the
// characters are checked against the alphabet and turned into their 6-bit
// values with byte shuffles indexed by their nibbles, then the 32 values are
// packed into 24 bytes with two multiply-adds and two shuffles (the method of
// W. Muła and D. Lemire, "Faster Base64 Encoding and Decoding Using AVX2
// Instructions", 2018). Every character of these blocks must be one of the
// 64 of the alphabet ('=' included is refused), exactly as in the scalar
// loop; padding only occurs in the last group, which is left to it.
//
// Decodes `blocks` blocks from `in` into `out`; each block stores 32 bytes of
// which 24 are output, so the caller leaves 8 bytes of room after them.
// False when a block holds a character outside the alphabet.
__attribute__((target("avx2"))) bool decode_blocks_avx2(const char* in, std::size_t blocks,
                                                        std::uint8_t* out) {
  // Per nibble of a character, bits whose AND is nonzero exactly for the
  // characters outside the alphabet.
  const __m256i lut_lo = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13,
                                          0x1A, 0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11,
                                          0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i lut_hi = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10,
                                          0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08,
                                          0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // What to add to a character to get its value, by high nibble ('/' apart).
  const __m256i lut_roll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16,
                                            19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i mask_2f = _mm256_set1_epi8(0x2F);
  const __m256i merge_pairs = _mm256_set1_epi32(0x01400140);
  const __m256i merge_quads = _mm256_set1_epi32(0x00011000);
  const __m256i pack_lane = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0,
                                             6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i pack_lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, -1, -1);
  for (std::size_t b = 0; b < blocks; ++b, in += 32, out += 24) {
    __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i hi_nibbles = _mm256_and_si256(_mm256_srli_epi32(text, 4), mask_2f);
    const __m256i lo_nibbles = _mm256_and_si256(text, mask_2f);
    const __m256i hi = _mm256_shuffle_epi8(lut_hi, hi_nibbles);
    const __m256i lo = _mm256_shuffle_epi8(lut_lo, lo_nibbles);
    if (!_mm256_testz_si256(lo, hi)) return false;
    const __m256i is_slash = _mm256_cmpeq_epi8(text, mask_2f);
    const __m256i roll = _mm256_shuffle_epi8(lut_roll, _mm256_add_epi8(is_slash, hi_nibbles));
    const __m256i values = _mm256_add_epi8(text, roll);
    // 4 x 6 bits -> 2 x 12 bits -> 24 bits per 32-bit word, then the three
    // bytes of each word in order, then the two lanes' 12 bytes together.
    const __m256i pairs = _mm256_maddubs_epi16(values, merge_pairs);
    const __m256i words = _mm256_madd_epi16(pairs, merge_quads);
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack_lane), pack_lanes);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
  }
  return true;
}

bool has_avx2() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}

#endif  // VARKEL_BASE64_AVX2

// Decodes the groups of `text` (a multiple of 4 characters, at least one
// group) into `out`, which has room for 3 bytes per group. The decoded size,
// or 0 when the text is not accepted (an accepted text gives at least 1 byte).
std::size_t decode_groups(std::string_view text, std::uint8_t* out) {
  const std::size_t groups = text.size() / 4;
  const char* in = text.data();
  std::size_t done = 0;  // groups decoded

#ifdef VARKEL_BASE64_AVX2
  // Blocks of 8 groups, as long as 3 more groups (9 bytes of room for the
  // block's 8 spare bytes) and the last group follow.
  if (groups >= 12 && has_avx2()) {
    const std::size_t blocks = (groups - 4) / 8;
    if (!decode_blocks_avx2(in, blocks, out)) return 0;
    done = blocks * 8;
    in += done * 4;
    out += done * 3;
  }
#endif

  // Every group but the last: four alphabet characters. Any invalid entry
  // (0xFF) sets the high bits that the OR of the four values tests. The last
  // group's room takes the spare byte of each wide store.
  for (std::size_t g = done; g + 1 < groups; ++g, in += 4, out += 3) {
    const std::uint32_t a = value_of(in[0]);
    const std::uint32_t b = value_of(in[1]);
    const std::uint32_t c = value_of(in[2]);
    const std::uint32_t d = value_of(in[3]);
    if (((a | b | c | d) & 0xC0) != 0) return 0;
    store_wide(out, (a << 18) | (b << 12) | (c << 6) | d);
  }

  // The last group: "xxxx", "xxx=" or "xx==", with the unused low bits zero.
  const std::uint32_t a = value_of(in[0]);
  const std::uint32_t b = value_of(in[1]);
  if (in[3] != '=') {
    const std::uint32_t c = value_of(in[2]);
    const std::uint32_t d = value_of(in[3]);
    if (((a | b | c | d) & 0xC0) != 0) return 0;
    const std::uint32_t bits = (a << 18) | (b << 12) | (c << 6) | d;
    out[0] = static_cast<std::uint8_t>(bits >> 16);
    out[1] = static_cast<std::uint8_t>(bits >> 8);
    out[2] = static_cast<std::uint8_t>(bits);
    return groups * 3;
  }
  if (in[2] != '=') {
    const std::uint32_t c = value_of(in[2]);
    if (((a | b | c) & 0xC0) != 0 || (c & 0x03) != 0) return 0;
    const std::uint32_t bits = (a << 18) | (b << 12) | (c << 6);
    out[0] = static_cast<std::uint8_t>(bits >> 16);
    out[1] = static_cast<std::uint8_t>(bits >> 8);
    return groups * 3 - 1;
  }
  if (((a | b) & 0xC0) != 0 || (b & 0x0F) != 0) return 0;
  out[0] = static_cast<std::uint8_t>((a << 2) | (b >> 4));
  return groups * 3 - 2;
}

}  // namespace

std::optional<ByteBuffer> decode_base64(std::string_view text) {
  const std::size_t length = text.size();
  if (length % 4 != 0) return std::nullopt;
  const std::size_t groups = length / 4;

  ByteBuffer buffer;
  buffer.data = std::make_unique_for_overwrite<std::uint8_t[]>(groups * 3);
  if (groups == 0) return buffer;
  buffer.size = decode_groups(text, buffer.data.get());
  if (buffer.size == 0) return std::nullopt;
  return buffer;
}

bool decode_base64_head(std::string_view text, std::uint8_t (&head)[9]) {
  if (text.size() < 16) return false;
  for (std::size_t g = 0; g < 3; ++g) {
    const char* in = text.data() + 4 * g;
    const std::uint32_t a = value_of(in[0]);
    const std::uint32_t b = value_of(in[1]);
    const std::uint32_t c = value_of(in[2]);
    const std::uint32_t d = value_of(in[3]);
    if (((a | b | c | d) & 0xC0) != 0) return false;
    const std::uint32_t bits = (a << 18) | (b << 12) | (c << 6) | d;
    head[3 * g] = static_cast<std::uint8_t>(bits >> 16);
    head[3 * g + 1] = static_cast<std::uint8_t>(bits >> 8);
    head[3 * g + 2] = static_cast<std::uint8_t>(bits);
  }
  return true;
}

bool decode_base64(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() % 4 != 0) return false;
  const std::size_t groups = text.size() / 4;
  out.resize(groups * 3);  // grows only: the capacity is kept
  if (groups == 0) return true;
  const std::size_t size = decode_groups(text, out.data());
  out.resize(size);
  return size != 0;
}

}  // namespace varkel::scan
