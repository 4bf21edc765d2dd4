#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "idl/sha256.h"

namespace varkel::idl {
namespace {

template <std::size_t N>
std::string hex(const std::array<std::uint8_t, N>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

struct DigestRow {
  std::string message;
  std::string_view digest;
};

void PrintTo(const DigestRow& row, std::ostream* os) {
  *os << row.message.size() << " bytes: " << row.message.substr(0, 16);
}

class Sha256Vectors : public ::testing::TestWithParam<DigestRow> {};

TEST_P(Sha256Vectors, OneShot) {
  const DigestRow& row = GetParam();
  EXPECT_EQ(hex(sha256(row.message)), row.digest);
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(row.message.data()),
                                            row.message.size());
  EXPECT_EQ(hex(sha256(bytes)), row.digest);
}

TEST_P(Sha256Vectors, InPieces) {
  const DigestRow& row = GetParam();
  for (const std::size_t piece : {1u, 3u, 63u, 64u, 65u, 1000u}) {
    Sha256 h;
    for (std::size_t at = 0; at < row.message.size(); at += piece) {
      h.update(std::string_view(row.message).substr(at, piece));
    }
    h.update(std::string_view());
    EXPECT_EQ(hex(h.finish()), row.digest) << "pieces of " << piece;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fips180, Sha256Vectors,
    ::testing::Values(
        DigestRow{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        DigestRow{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        DigestRow{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        DigestRow{"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopq"
                  "klmnopqrlmnopqrsmnopqrstnopqrstu",
                  "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        DigestRow{std::string(1000000, 'a'),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Padding edges: 55 bytes fit one block, 56 need a second, 64 fill one.
        DigestRow{std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        DigestRow{std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        DigestRow{std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"}));

struct DiscriminatorRow {
  std::string_view prefix;
  std::string_view name;
  std::string_view expected;
};

void PrintTo(const DiscriminatorRow& row, std::ostream* os) {
  *os << row.prefix << ":" << row.name;
}

class LegacyDiscriminator : public ::testing::TestWithParam<DiscriminatorRow> {};

TEST_P(LegacyDiscriminator, IsTheHashPrefix) {
  const DiscriminatorRow& row = GetParam();
  const auto disc = legacy_discriminator(row.prefix, row.name);
  EXPECT_EQ(hex(disc), row.expected);
  const auto full = sha256(std::string(row.prefix) + ":" + std::string(row.name));
  EXPECT_TRUE(std::equal(disc.begin(), disc.end(), full.begin()));
}

INSTANTIATE_TEST_SUITE_P(Names, LegacyDiscriminator,
                         ::testing::Values(DiscriminatorRow{"global", "initialize_market",
                                                            "2323bdc19b30aacb"},
                                           DiscriminatorRow{"account", "Market", "dbbed53700e3c69a"},
                                           DiscriminatorRow{"event", "\u00DCberEvent", "3b4907bdc17d52c5"}));

}  // namespace
}  // namespace varkel::idl
