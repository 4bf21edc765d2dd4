#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "scan/base64.h"

namespace varkel::scan {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A plain padded encoder, the reference for round trips.
std::string encode(const Bytes& bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t k = 0; k < bytes.size(); k += 3) {
    const std::size_t take = std::min<std::size_t>(3, bytes.size() - k);
    std::uint32_t bits = static_cast<std::uint32_t>(bytes[k]) << 16;
    if (take > 1) bits |= static_cast<std::uint32_t>(bytes[k + 1]) << 8;
    if (take > 2) bits |= bytes[k + 2];
    text += alphabet[(bits >> 18) & 63];
    text += alphabet[(bits >> 12) & 63];
    text += take > 1 ? alphabet[(bits >> 6) & 63] : '=';
    text += take > 2 ? alphabet[bits & 63] : '=';
  }
  return text;
}

// Both forms: the allocating one, and the one into a reused buffer (which
// still holds the bytes of earlier texts), which must agree; and the head of
// a text of 16 or more characters, which refuses whatever they refuse at the
// start and otherwise holds their first 9 bytes.
std::optional<Bytes> decode(std::string_view text) {
  static thread_local std::vector<std::uint8_t> reused(7, 0xEE);
  const bool accepted = decode_base64(text, reused);
  auto buffer = decode_base64(text);
  EXPECT_EQ(accepted, buffer.has_value()) << text;
  std::uint8_t head[9];
  const bool has_head = decode_base64_head(text, head);
  EXPECT_TRUE(has_head || text.size() < 16 || !buffer) << text;
  if (has_head && buffer) {
    EXPECT_TRUE(std::equal(head, head + 9, buffer->data.get())) << text;
  }
  if (!buffer) return std::nullopt;
  Bytes bytes(buffer->data.get(), buffer->data.get() + buffer->size);
  EXPECT_EQ(Bytes(reused.begin(), reused.end()), bytes) << text;
  return bytes;
}

struct AcceptCase {
  std::string text;
  Bytes expected;
};

class Base64Accepts : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(Base64Accepts, Decodes) {
  const auto got = decode(GetParam().text);
  ASSERT_TRUE(got.has_value()) << GetParam().text;
  EXPECT_EQ(*got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Base64Accepts,
    ::testing::Values(AcceptCase{"", {}}, AcceptCase{"AQ==", {0x01}}, AcceptCase{"AQI=", {0x01, 0x02}},
                      AcceptCase{"AQID", {0x01, 0x02, 0x03}}, AcceptCase{"AAAA", {0, 0, 0}},
                      AcceptCase{"////", {0xFF, 0xFF, 0xFF}}, AcceptCase{"+/+/", {0xFB, 0xFF, 0xBF}},
                      AcceptCase{"/w==", {0xFF}}, AcceptCase{"//8=", {0xFF, 0xFF}},
                      AcceptCase{"aGVsbG8=", {'h', 'e', 'l', 'l', 'o'}},
                      AcceptCase{"AQIDBAUG", {1, 2, 3, 4, 5, 6}}, AcceptCase{"AQIDBA==", {1, 2, 3, 4}}));

class Base64Refuses : public ::testing::TestWithParam<std::string> {};

TEST_P(Base64Refuses, Fails) {
  EXPECT_FALSE(decode(GetParam()).has_value()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Table, Base64Refuses,
                         ::testing::Values("AR==", "AQJ=", "AQ", "AQI", "AQ=", "A",
                                           "AQ==AQ==", "A===", "====", "AQ ID", "AQID\n", "\nAQID", " AQID",
                                           "-_-_", "AQ-_", "AQ_=", "=AQI", "A=QI", "AQ=I",
                                           "AQID====", "AQIDAQ=I", "AQIDA===", "AQIDAR==", "AQ==AQID",
                                           "AQI=AQID", std::string("AQ\0D", 4),
                                           "AQ\x80"
                                           "D",
                                           "AQ\xC3\xA9", "AQ==\r\n"));

// Every length 0..300 round-trips through the reference encoder.
TEST(Base64, RoundTripsAllLengths) {
  std::mt19937 rng(64);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t n = 0; n <= 300; ++n) {
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(rng));
    const std::string text = encode(bytes);
    const auto got = decode(text);
    ASSERT_TRUE(got.has_value()) << "length " << n;
    ASSERT_EQ(*got, bytes) << "length " << n;
  }
}

// Replacing any one character by any byte value gives a text that is either
// refused or canonical: it decodes to bytes whose encoding is that very text.
// The longer texts take the 32-character blocks where the processor has them,
// at every position of a block.
TEST(Base64, SingleCharacterCorruptionIsRefusedOrCanonical) {
  std::mt19937 rng(6464);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 20u, 31u, 32u, 33u, 34u, 35u, 36u, 60u, 95u, 150u}) {
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(byte(rng));
    const std::string text = encode(bytes);
    for (std::size_t at = 0; at < text.size(); ++at) {
      for (int value = 0; value < 256; ++value) {
        std::string corrupted = text;
        corrupted[at] = static_cast<char>(value);
        const auto got = decode(corrupted);
        if (got) {
          ASSERT_EQ(encode(*got), corrupted) << "length " << n << " at " << at << " value " << value;
        }
      }
    }
  }
}

// Any alphabet character at any place before the last group is accepted and
// kept: the block decoder refuses nothing that the alphabet holds.
TEST(Base64, EveryAlphabetCharacterAtEveryPlaceIsAccepted) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string text = encode(Bytes(150, 0x5A));
  for (std::size_t at = 0; at + 4 < text.size(); ++at) {
    for (char c : alphabet) {
      std::string changed = text;
      changed[at] = c;
      const auto got = decode(changed);
      ASSERT_TRUE(got.has_value()) << "at " << at << " '" << c << "'";
      ASSERT_EQ(encode(*got), changed) << "at " << at << " '" << c << "'";
    }
  }
}

}  // namespace
}  // namespace varkel::scan
