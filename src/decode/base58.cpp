#include "decode/base58.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

namespace varkel::decode {

namespace {

constexpr char kAlphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

constexpr std::uint8_t kNotDigit = 0xFF;

// Character -> digit value; kNotDigit outside the alphabet.
constexpr std::array<std::uint8_t, 256> make_digit_table() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kNotDigit;
  for (std::uint8_t v = 0; v < 58; ++v) table[static_cast<unsigned char>(kAlphabet[v])] = v;
  return table;
}

constexpr std::array<std::uint8_t, 256> kDigit = make_digit_table();

// 58^5, the largest power of 58 below 2^32: one division of the 32-bit limbs
// by it yields five base-58 digits.
constexpr std::uint32_t kChunk = 58u * 58u * 58u * 58u * 58u;

// Upper bound of the digits produced from `limbs` 32-bit limbs: every division
// removes at least 29 bits (58^5 > 2^29), and each yields five digits.
constexpr std::size_t digit_room(std::size_t limbs) {
  return 5 * (limbs * 32 / 29 + 2);
}

// Turns the big-endian number held in `limbs` (consumed) into base-58 digits,
// least significant first, without high zero digits. Returns their count.
std::size_t to_digits(std::span<std::uint32_t> limbs, std::uint8_t* digits) {
  const std::size_t count = limbs.size();
  std::size_t first = 0;
  while (first < count && limbs[first] == 0) ++first;
  std::size_t produced = 0;
  while (first < count) {
    std::uint64_t rem = 0;
    for (std::size_t j = first; j < count; ++j) {
      const std::uint64_t cur = (rem << 32) | limbs[j];
      limbs[j] = static_cast<std::uint32_t>(cur / kChunk);
      rem = cur % kChunk;
    }
    while (first < count && limbs[first] == 0) ++first;
    auto r = static_cast<std::uint32_t>(rem);
    for (int k = 0; k < 5; ++k) {
      digits[produced++] = static_cast<std::uint8_t>(r % 58);
      r /= 58;
    }
  }
  while (produced > 0 && digits[produced - 1] == 0) --produced;
  return produced;
}

// Public keys (the hot case): the 32 bytes are eight big-endian 32-bit limbs b_i, and
// 2^(32 * (7 - i)) is known in base 58^5, so the value's base-58^5 limbs are
// sums of products b_i * table[i][j] followed by one carry pass, instead of
// nine long divisions.
constexpr std::size_t kKeyLimbs = 8;
constexpr std::size_t kKeyChunks = 9;  // 58^45 > 2^256

struct KeyTable {
  // entry[i][j]: limb j (least significant first) of 2^(32 * (7 - i)) in base 58^5.
  // The same table from Python, row by row:
  //   [[2 ** (32 * (7 - i)) // 58 ** (5 * j) % 58 ** 5 for j in range(9)] for i in range(8)]
  // (the first row ends 77223048 513735 0, the last is 1 0 ... 0).
  std::uint32_t entry[kKeyLimbs][kKeyChunks];
};

constexpr KeyTable make_key_table() {
  KeyTable table{};
  std::uint64_t power[kKeyChunks] = {1};  // 2^(32 * k) in base 58^5, k = 0, 1, ...
  for (std::size_t k = 0; k < kKeyLimbs; ++k) {
    for (std::size_t j = 0; j < kKeyChunks; ++j) {
      table.entry[kKeyLimbs - 1 - k][j] = static_cast<std::uint32_t>(power[j]);
    }
    std::uint64_t carry = 0;
    for (auto& limb : power) {
      const std::uint64_t t = (limb << 32) + carry;  // limb < 2^30: no overflow
      limb = t % kChunk;
      carry = t / kChunk;
    }
  }
  return table;
}

constexpr KeyTable kKeyTable = make_key_table();

// The sums of products must stay below 2^64 together with the carry of the
// normalising pass (below 2^64 / 58^5 < 2^35).
constexpr bool key_sums_fit() {
  for (std::size_t j = 0; j < kKeyChunks; ++j) {
    std::uint64_t column = 0;
    for (std::size_t i = 0; i < kKeyLimbs; ++i) column += kKeyTable.entry[i][j];
    if (column > (~std::uint64_t{0} - (std::uint64_t{1} << 35)) / 0xFFFFFFFFu) return false;
  }
  return true;
}
static_assert(key_sums_fit());

// The two characters of every two-digit base-58 number 0 .. 58^2 - 1.
constexpr std::array<char, 2 * 58 * 58> make_pairs() {
  std::array<char, 2 * 58 * 58> pairs{};
  for (std::size_t v = 0; v < 58 * 58; ++v) {
    pairs[2 * v] = kAlphabet[v / 58];
    pairs[2 * v + 1] = kAlphabet[v % 58];
  }
  return pairs;
}

constexpr std::array<char, 2 * 58 * 58> kPairs = make_pairs();

constexpr std::size_t kKeyText = kKeyChunks * 5;

// The 45-digit base-58 text of a 32-byte big-endian number, most significant
// digit first, with its high zero digits as '1's (at least one: the value has
// at most 44 digits).
void key_text(const std::uint8_t* bytes, char* text) {
  std::uint64_t sums[kKeyChunks] = {};
  for (std::size_t i = 0; i < kKeyLimbs; ++i) {
    const std::uint64_t limb = (std::uint64_t{bytes[4 * i]} << 24) | (std::uint64_t{bytes[4 * i + 1]} << 16) |
                               (std::uint64_t{bytes[4 * i + 2]} << 8) | std::uint64_t{bytes[4 * i + 3]};
    for (std::size_t j = 0; j < kKeyChunks; ++j) sums[j] += limb * kKeyTable.entry[i][j];
  }
  std::uint64_t carry = 0;
  for (std::size_t j = 0; j < kKeyChunks; ++j) {
    const std::uint64_t t = sums[j] + carry;
    const auto chunk = static_cast<std::uint32_t>(t % kChunk);
    carry = t / kChunk;
    // Five digits: one single, then two pairs.
    char* at = text + kKeyText - 5 * (j + 1);
    const std::uint32_t high = chunk / (58 * 58);
    const std::uint32_t low = chunk % (58 * 58);
    at[0] = kAlphabet[high / (58 * 58)];
    std::memcpy(at + 1, &kPairs[2 * (high % (58 * 58))], 2);
    std::memcpy(at + 3, &kPairs[2 * low], 2);
  }
}

// Loads `bytes` as a big-endian number into `limbs` (ceil(size / 4) of them).
void load_limbs(std::span<const std::uint8_t> bytes, std::uint32_t* limbs, std::size_t count) {
  std::size_t head = bytes.size() % 4;
  if (head == 0 && !bytes.empty()) head = 4;
  std::size_t pos = 0;
  for (std::size_t j = 0; j < count; ++j) {
    const std::size_t take = j == 0 ? head : 4;
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < take; ++k) v = (v << 8) | bytes[pos++];
    limbs[j] = v;
  }
}

std::optional<std::size_t> emit(std::size_t leading_zeros, const std::uint8_t* digits, std::size_t ndigits,
                                std::span<char> out) {
  const std::size_t total = leading_zeros + ndigits;
  if (total > out.size()) return std::nullopt;
  char* o = out.data();
  for (std::size_t k = 0; k < leading_zeros; ++k) *o++ = '1';
  for (std::size_t k = ndigits; k > 0; --k) *o++ = kAlphabet[digits[k - 1]];
  return total;
}

}  // namespace

std::size_t base58_encode_key(const std::uint8_t* key, char* out) {
  std::size_t zeros = 0;
  while (zeros < 32 && key[zeros] == 0) ++zeros;
  char text[kKeyText];
  key_text(key, text);
  std::size_t skip = 0;
  while (skip < kKeyText && text[skip] == '1') ++skip;
  // zeros + (kKeyText - skip) <= kKeyTextMax: z zero bytes leave a value below
  // 2^(256 - 8z), whose text has at most 44 - z digits.
  std::memset(out, '1', zeros);
  std::memcpy(out + zeros, text + skip, kKeyText - skip);
  return zeros + (kKeyText - skip);
}

std::optional<std::size_t> base58_encode_generic(std::span<const std::uint8_t> input, std::span<char> out) {
  std::size_t zeros = 0;
  while (zeros < input.size() && input[zeros] == 0) ++zeros;
  const std::span<const std::uint8_t> rest = input.subspan(zeros);
  const std::size_t count = (rest.size() + 3) / 4;
  constexpr std::size_t kSmall = 32;
  if (count <= kSmall) {
    std::array<std::uint32_t, kSmall> limbs;
    std::array<std::uint8_t, digit_room(kSmall)> digits;
    load_limbs(rest, limbs.data(), count);
    const std::size_t nd = to_digits(std::span<std::uint32_t>(limbs.data(), count), digits.data());
    return emit(zeros, digits.data(), nd, out);
  }
  std::vector<std::uint32_t> limbs(count);
  std::vector<std::uint8_t> digits(digit_room(count));
  load_limbs(rest, limbs.data(), count);
  const std::size_t nd = to_digits(std::span<std::uint32_t>(limbs), digits.data());
  return emit(zeros, digits.data(), nd, out);
}

std::optional<std::size_t> base58_encode(std::span<const std::uint8_t> input, std::span<char> out) {
  if (input.size() != 32) return base58_encode_generic(input, out);
  if (out.size() >= kKeyTextMax) return base58_encode_key(input.data(), out.data());
  char text[kKeyTextMax];
  const std::size_t length = base58_encode_key(input.data(), text);
  if (length > out.size()) return std::nullopt;
  std::memcpy(out.data(), text, length);
  return length;
}

std::optional<std::size_t> base58_invalid_at(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kDigit[static_cast<unsigned char>(text[i])] == kNotDigit) return i;
  }
  return std::nullopt;
}

namespace {

[[gnu::cold, gnu::noinline]] std::string bad_character(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  std::string shown;
  if (c >= 0x20 && c < 0x7F) {
    shown.push_back(static_cast<char>(c));
  } else {
    static constexpr char kHex[] = "0123456789abcdef";
    shown = "\\x";
    shown.push_back(kHex[c >> 4]);
    shown.push_back(kHex[c & 0xF]);
  }
  return "invalid base58 character '" + shown + "' at offset " + std::to_string(at);
}

// Decoding multiplies a little-endian number of 64-bit limbs by 58^k and adds
// the value of the next k <= 10 digits (58^10 < 2^59): one 64x64->128-bit
// product per limb for every ten digits.
__extension__ using Wide = unsigned __int128;

constexpr std::uint64_t kPowersOf58[] = {1ull,
                                         58ull,
                                         3364ull,
                                         195112ull,
                                         11316496ull,
                                         656356768ull,
                                         38068692544ull,
                                         2207984167552ull,
                                         128063081718016ull,
                                         7427658739644928ull,
                                         430804206899405824ull};

// number = number * factor + addend; returns the carry out of the top limb.
inline std::uint64_t multiply_add(std::span<std::uint64_t> number, std::uint64_t factor,
                                  std::uint64_t addend) {
  std::uint64_t carry = addend;
  for (std::uint64_t& limb : number) {
    const Wide t = static_cast<Wide>(limb) * factor + carry;
    limb = static_cast<std::uint64_t>(t);
    carry = static_cast<std::uint64_t>(t >> 64);
  }
  return carry;
}

// Reads the digits of `text` (all in the alphabet) ten at a time into the
// little-endian limbs `number`, which `grow` extends by a carry (false: no
// room).
template <class Grow>
bool accumulate(std::string_view text, std::span<std::uint64_t>& number, Grow grow) {
  for (std::size_t i = 0; i < text.size(); i += 10) {
    const std::size_t take = std::min<std::size_t>(10, text.size() - i);
    std::uint64_t value = 0;
    for (std::size_t k = 0; k < take; ++k)
      value = value * 58 + kDigit[static_cast<unsigned char>(text[i + k])];
    const std::uint64_t carry = multiply_add(number, kPowersOf58[take], value);
    if (carry != 0 && !grow(number, carry)) return false;
  }
  return true;
}

// The number of bytes of the limbs without zero bytes in front.
std::size_t byte_length(std::span<const std::uint64_t> number) {
  if (number.empty()) return 0;
  const std::uint64_t top = number.back();  // never zero: limbs grow only by a carry
  return (number.size() - 1) * 8 + static_cast<std::size_t>((64 - std::countl_zero(top) + 7) / 8);
}

// Writes the big-endian bytes of the limbs, without zero bytes in front, to
// the `length` bytes before `end`.
void put_number(std::span<const std::uint64_t> number, std::uint8_t* end, std::size_t length) {
  for (std::size_t k = 0; k < length; ++k) {
    *--end = static_cast<std::uint8_t>(number[k / 8] >> (8 * (k % 8)));
  }
}

}  // namespace

Result<std::vector<std::uint8_t>> base58_decode(std::string_view text) {
  if (const auto at = base58_invalid_at(text)) return fail(bad_character(text, *at));
  std::size_t zeros = 0;
  while (zeros < text.size() && text[zeros] == '1') ++zeros;
  const std::string_view digits = text.substr(zeros);
  // Every ten digits add at most one limb (58^10 < 2^64).
  std::vector<std::uint64_t> limbs;
  limbs.reserve(digits.size() / 10 + 1);
  std::span<std::uint64_t> number;
  accumulate(digits, number, [&limbs](std::span<std::uint64_t>& n, std::uint64_t carry) {
    limbs.push_back(carry);
    n = std::span<std::uint64_t>(limbs);
    return true;
  });
  const std::size_t length = byte_length(number);
  std::vector<std::uint8_t> out(zeros + length, 0);
  put_number(number, out.data() + out.size(), length);
  return out;
}

Result<Pubkey> base58_decode_key(std::string_view text) {
  if (const auto at = base58_invalid_at(text)) return fail(bad_character(text, *at));
  std::size_t zeros = 0;
  while (zeros < text.size() && text[zeros] == '1') ++zeros;
  // Five limbs hold 45 digits (58^45 < 2^264); longer texts are longer keys.
  constexpr std::size_t kMaxDigits = 45;
  const std::string_view digits = text.substr(zeros);
  if (digits.size() > kMaxDigits) {
    return fail("base58 text of " + std::to_string(text.size()) +
                " characters, too long for a 32-byte public key");
  }
  std::array<std::uint64_t, 5> limbs{};
  std::span<std::uint64_t> number(limbs.data(), 0);
  accumulate(digits, number, [&limbs](std::span<std::uint64_t>& n, std::uint64_t carry) {
    if (n.size() == limbs.size()) return false;  // cannot happen within 45 digits
    limbs[n.size()] = carry;
    n = std::span<std::uint64_t>(limbs.data(), n.size() + 1);
    return true;
  });
  const std::size_t length = byte_length(number);
  if (zeros + length != 32) {
    return fail("base58 text of " + std::to_string(zeros + length) + " bytes, not a 32-byte public key");
  }
  Pubkey key{};
  put_number(number, key.data() + key.size(), length);
  return key;
}

std::string base58_encode(std::span<const std::uint8_t> input) {
  std::string text(base58_capacity(input.size()), '\0');
  const auto length = base58_encode(input, std::span<char>(text.data(), text.size()));
  text.resize(length.value_or(0));
  return text;
}

}  // namespace varkel::decode
