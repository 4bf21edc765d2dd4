#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decode/base58.h"

namespace varkel::decode {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The plain quadratic digit-list algorithm, as the reference for the fast one.
std::string reference_base58(const Bytes& input) {
  static constexpr char alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
  std::vector<std::uint32_t> digits;  // least significant first
  for (const std::uint8_t b : input) {
    std::uint32_t carry = b;
    for (auto& digit : digits) {
      carry += digit * 256;
      digit = carry % 58;
      carry /= 58;
    }
    while (carry > 0) {
      digits.push_back(carry % 58);
      carry /= 58;
    }
  }
  for (std::size_t k = 0; k < input.size() && input[k] == 0; ++k) digits.push_back(0);
  std::string text;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) text += alphabet[*it];
  return text;
}

Bytes with_first(std::uint8_t first, std::size_t size, std::uint8_t fill) {
  Bytes bytes(size, fill);
  if (size > 0) bytes[0] = first;
  return bytes;
}

struct Base58Case {
  std::string name;
  Bytes input;
  std::string expected;
};

class Base58Table : public ::testing::TestWithParam<Base58Case> {};

TEST_P(Base58Table, EncodesExactly) {
  const Base58Case& c = GetParam();
  EXPECT_EQ(base58_encode(c.input), c.expected);
  EXPECT_EQ(reference_base58(c.input), c.expected);
}

TEST_P(Base58Table, DecodesBack) {
  const Base58Case& c = GetParam();
  const auto bytes = base58_decode(c.expected);
  ASSERT_TRUE(bytes.has_value()) << bytes.error();
  EXPECT_EQ(*bytes, c.input);
  const auto key = base58_decode_key(c.expected);
  EXPECT_EQ(key.has_value(), c.input.size() == 32);
  if (key) {
    EXPECT_TRUE(std::equal(key->begin(), key->end(), c.input.begin(), c.input.end()));
  }
}

Bytes key_ending_in_one() {
  Bytes key(32, 0);
  key[31] = 1;
  return key;
}

Bytes counting_key() {
  Bytes key(32);
  for (std::size_t k = 0; k < 32; ++k) key[k] = static_cast<std::uint8_t>(k + 1);
  return key;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Base58Table,
    ::testing::Values(
        Base58Case{"empty", {}, ""}, Base58Case{"one_zero", {0}, "1"}, Base58Case{"two_zeros", {0, 0}, "11"},
        Base58Case{"digit_57", {57}, "z"}, Base58Case{"digit_58", {58}, "21"},
        Base58Case{"leading_zeros_then_value", {0, 0, 0x28, 0x7F, 0xB4, 0xCD}, "11233QC4"},
        Base58Case{"text", {'H', 'e', 'l', 'l', 'o', ' ', 'W', 'o', 'r', 'l', 'd', '!'}, "2NEpo7TZRRrLZSi2U"},
        Base58Case{"zero_key", Bytes(32, 0), std::string(32, '1')},
        Base58Case{"key_ending_in_one", key_ending_in_one(), "11111111111111111111111111111112"},
        Base58Case{"all_ff_key", Bytes(32, 0xFF), "JEKNVnkbo3jma5nREBBJCDoXFVeKkD56V3xKrvRmWxFG"},
        Base58Case{"key_starting_with_one", with_first(1, 32, 0),
                   "4uQeVj5tqViQh7yWWGStvkEG1Zmhx6uasJtWCJziofM"},
        Base58Case{"counting_key", counting_key(), "4wBqpZM9xaSheZzJSMawUKKwhdpChKbZ5eu5ky4Vigw"}),
    [](const ::testing::TestParamInfo<Base58Case>& row) { return row.param.name; });

TEST(Base58, KeyStartingWithOneHasNoLeadingOne) {
  const std::string text = base58_encode(with_first(1, 32, 0));
  EXPECT_EQ(text.size(), 43u);
  EXPECT_NE(text.front(), '1');
}

TEST(Base58, CapacityFormula) {
  EXPECT_EQ(base58_capacity(0), 0u);
  EXPECT_EQ(base58_capacity(1), 2u);
  EXPECT_EQ(base58_capacity(2), 3u);
  EXPECT_EQ(base58_capacity(32), 48u);
}

TEST(Base58, ReportsTooSmallBufferAndFitsExactly) {
  const Bytes key(32, 0xFF);
  std::vector<char> out(44);
  EXPECT_FALSE(base58_encode(key, std::span<char>(out.data(), 43)).has_value());
  const auto length = base58_encode(key, std::span<char>(out.data(), 44));
  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(std::string(out.data(), *length), "JEKNVnkbo3jma5nREBBJCDoXFVeKkD56V3xKrvRmWxFG");

  // A short key's text fits a buffer smaller than the longest key text.
  const Bytes zero_key(32, 0);
  EXPECT_FALSE(base58_encode(zero_key, std::span<char>(out.data(), 31)).has_value());
  EXPECT_EQ(base58_encode(zero_key, std::span<char>(out.data(), 32)), 32u);
  EXPECT_EQ(std::string(out.data(), 32), std::string(32, '1'));

  const Bytes zeros(5, 0);
  EXPECT_FALSE(base58_encode(zeros, std::span<char>(out.data(), 4)).has_value());
  EXPECT_EQ(base58_encode(zeros, std::span<char>(out.data(), 5)), 5u);
  EXPECT_EQ(base58_encode(Bytes{}, std::span<char>()), 0u);
}

// Random inputs of every length up to 64 bytes (and a few long ones, which
// take the heap route), with runs of leading zeros and extreme byte values.
TEST(Base58, MatchesReferenceOnRandomInputs) {
  std::mt19937_64 rng(0x5EED58);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 64; ++n) lengths.push_back(n);
  for (std::size_t n : {100u, 127u, 128u, 129u, 130u, 200u, 257u}) lengths.push_back(n);
  for (const std::size_t n : lengths) {
    const int rounds = n == 32 ? 6000 : 60;  // keys take a route of their own
    for (int round = 0; round < rounds; ++round) {
      Bytes input(n);
      for (auto& b : input) b = static_cast<std::uint8_t>(byte(rng));
      if (n > 0) {
        switch (round % 6) {
          case 1:  // a run of leading zeros
            std::fill_n(input.begin(), std::uniform_int_distribution<std::size_t>(1, n)(rng), 0);
            break;
          case 2:
            std::fill(input.begin(), input.end(), 0xFF);
            break;
          case 3:  // small value: zeros then one byte
            std::fill(input.begin(), input.end() - 1, 0);
            break;
          case 4:  // powers of 256 and internal zero digits
            std::fill(input.begin(), input.end(), 0);
            input[std::uniform_int_distribution<std::size_t>(0, n - 1)(rng)] = 1;
            break;
          default:
            break;
        }
      }
      const std::string expected = reference_base58(input);
      ASSERT_EQ(base58_encode(input), expected) << "length " << n << " round " << round;
      ASSERT_LE(expected.size(), base58_capacity(n));
    }
  }
}

// Every input of the random round trip decodes back, as bytes and, when 32
// bytes long, as a key.
TEST(Base58, DecodeInvertsEncodeOnRandomInputs) {
  std::mt19937_64 rng(0xDEC058);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t n = 0; n <= 300; n += (n < 70 ? 1 : 37)) {
    for (int round = 0; round < (n == 32 ? 3000 : 40); ++round) {
      Bytes input(n);
      for (auto& b : input) b = static_cast<std::uint8_t>(byte(rng));
      if (n > 0 && round % 4 == 1)
        std::fill_n(input.begin(), std::uniform_int_distribution<std::size_t>(1, n)(rng), 0);
      if (n > 0 && round % 4 == 2) std::fill(input.begin(), input.end(), 0xFF);
      const std::string text = reference_base58(input);
      const auto bytes = base58_decode(text);
      ASSERT_TRUE(bytes.has_value()) << text;
      ASSERT_EQ(*bytes, input) << text;
      const auto key = base58_decode_key(text);
      ASSERT_EQ(key.has_value(), n == 32) << text;
      if (key) {
        ASSERT_TRUE(std::equal(key->begin(), key->end(), input.begin()));
      }
    }
  }
}

// The key route against the general one, over edge keys: each row is a family
// of keys built by `make`, numbered 0 .. count - 1.
struct KeyFamily {
  std::string name;
  std::size_t count;
  Bytes (*make)(std::size_t);
};

std::string generic_text(const Bytes& input) {
  std::string text(base58_capacity(input.size()), '\0');
  text.resize(base58_encode_generic(input, std::span<char>(text)).value());
  return text;
}

class Base58KeyRoute : public ::testing::TestWithParam<KeyFamily> {};

TEST_P(Base58KeyRoute, MatchesTheGeneralRoute) {
  const KeyFamily& family = GetParam();
  for (std::size_t n = 0; n < family.count; ++n) {
    const Bytes key = family.make(n);
    ASSERT_EQ(key.size(), 32u);
    const std::string expected = generic_text(key);
    char out[kKeyTextMax];
    const std::size_t length = base58_encode_key(key.data(), out);
    ASSERT_LE(length, kKeyTextMax) << family.name << " " << n;
    ASSERT_EQ(std::string(out, length), expected) << family.name << " " << n;
    ASSERT_EQ(base58_encode(key), expected) << family.name << " " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Base58KeyRoute,
                         ::testing::Values(
                             // n zero bytes, then 0xFF: the longest text for every count of leading ones.
                             KeyFamily{"zeros_then_ff", 33,
                                       [](std::size_t n) {
                                         Bytes key(32, 0xFF);
                                         std::fill_n(key.begin(), n, 0);
                                         return key;
                                       }},
                             // n zero bytes, then 0x01 00 ..: the shortest text after them.
                             KeyFamily{"zeros_then_one", 32,
                                       [](std::size_t n) {
                                         Bytes key(32, 0);
                                         key[n] = 1;
                                         return key;
                                       }},
                             // One byte of every value at every place (a single 32-bit limb set).
                             KeyFamily{"single_byte", 32 * 255,
                                       [](std::size_t n) {
                                         Bytes key(32, 0);
                                         key[n / 255] = static_cast<std::uint8_t>(n % 255 + 1);
                                         return key;
                                       }},
                             // 2^n and 2^n - 1: every table entry alone, and carries through every chunk.
                             KeyFamily{"powers_of_two", 256,
                                       [](std::size_t n) {
                                         Bytes key(32, 0);
                                         key[31 - n / 8] = static_cast<std::uint8_t>(1u << (n % 8));
                                         return key;
                                       }},
                             KeyFamily{"powers_of_two_less_one", 257,
                                       [](std::size_t n) {
                                         Bytes key(32, 0);
                                         for (std::size_t bit = 0; bit < n; ++bit)
                                           key[31 - bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
                                         return key;
                                       }}),
                         [](const ::testing::TestParamInfo<KeyFamily>& row) { return row.param.name; });

// Many random keys, a quarter of them with leading zero bytes.
TEST(Base58, KeyRouteMatchesTheGeneralRouteOnRandomKeys) {
  std::mt19937_64 rng(0x4B3758);
  Bytes key(32);
  char out[kKeyTextMax];
  std::vector<char> expected(base58_capacity(32));
  for (int round = 0; round < 200000; ++round) {
    for (std::size_t k = 0; k < 32; k += 8) {
      const std::uint64_t word = rng();
      std::memcpy(&key[k], &word, 8);
    }
    if (round % 4 == 1) std::fill_n(key.begin(), rng() % 33, 0);
    const std::size_t length = base58_encode_key(key.data(), out);
    const auto generic = base58_encode_generic(key, std::span<char>(expected));
    ASSERT_TRUE(generic.has_value());
    ASSERT_EQ(std::string_view(out, length), std::string_view(expected.data(), *generic))
        << "round " << round;
  }
}

struct BadText {
  std::string name;
  std::string text;
  std::string bytes_error;  // "" when base58_decode accepts it
  std::string key_error;
};

class Base58Refused : public ::testing::TestWithParam<BadText> {};

TEST_P(Base58Refused, WithItsMessage) {
  const BadText& c = GetParam();
  const auto bytes = base58_decode(c.text);
  if (c.bytes_error.empty()) {
    EXPECT_TRUE(bytes.has_value());
  } else {
    ASSERT_FALSE(bytes.has_value());
    EXPECT_EQ(bytes.error(), c.bytes_error);
  }
  const auto key = base58_decode_key(c.text);
  ASSERT_FALSE(key.has_value());
  EXPECT_EQ(key.error(), c.key_error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Base58Refused,
    ::testing::Values(
        BadText{"zero_digit", "1110abc", "invalid base58 character '0' at offset 3",
                "invalid base58 character '0' at offset 3"},
        BadText{"capital_o", "O", "invalid base58 character 'O' at offset 0",
                "invalid base58 character 'O' at offset 0"},
        BadText{"capital_i", "abI", "invalid base58 character 'I' at offset 2",
                "invalid base58 character 'I' at offset 2"},
        BadText{"small_l", "l", "invalid base58 character 'l' at offset 0",
                "invalid base58 character 'l' at offset 0"},
        BadText{"space", "abc def", "invalid base58 character ' ' at offset 3",
                "invalid base58 character ' ' at offset 3"},
        BadText{"control", std::string("ab\ncd"), "invalid base58 character '\\x0a' at offset 2",
                "invalid base58 character '\\x0a' at offset 2"},
        BadText{"high_byte", "ab\xc3\xa9", "invalid base58 character '\\xc3' at offset 2",
                "invalid base58 character '\\xc3' at offset 2"},
        BadText{"empty", "", "", "base58 text of 0 bytes, not a 32-byte public key"},
        BadText{"short_key", "1111111111111111111111111111111", "",
                "base58 text of 31 bytes, not a 32-byte public key"},
        BadText{"long_ones", std::string(33, '1'), "", "base58 text of 33 bytes, not a 32-byte public key"},
        // 2^256 and more: 33 bytes. "JEKNV...WxFG" is 2^256 - 1; one more digit value is 2^256 - 1 + 1.
        BadText{"just_above_256_bits", "JEKNVnkbo3jma5nREBBJCDoXFVeKkD56V3xKrvRmWxFH", "",
                "base58 text of 33 bytes, not a 32-byte public key"},
        BadText{"signature", std::string(88, 'z'), "",
                "base58 text of 88 characters, too long for a 32-byte public key"},
        BadText{"ones_then_key", "1JEKNVnkbo3jma5nREBBJCDoXFVeKkD56V3xKrvRmWxFG", "",
                "base58 text of 33 bytes, not a 32-byte public key"}),
    [](const ::testing::TestParamInfo<BadText>& row) { return row.param.name; });

TEST(Base58, InvalidAtFindsTheFirstBadCharacter) {
  EXPECT_EQ(base58_invalid_at("123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"), std::nullopt);
  EXPECT_EQ(base58_invalid_at(""), std::nullopt);
  EXPECT_EQ(base58_invalid_at("zz+z/"), 2u);
  for (int c = 0; c < 256; ++c) {
    const std::string one(1, static_cast<char>(c));
    const bool in_alphabet = std::string_view("123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz")
                                 .find(static_cast<char>(c)) != std::string_view::npos;
    EXPECT_EQ(base58_invalid_at(one).has_value(), !in_alphabet) << c;
  }
}

}  // namespace
}  // namespace varkel::decode
