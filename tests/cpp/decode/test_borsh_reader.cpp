#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "decode/borsh_reader.h"

namespace varkel::decode {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

enum class Op { Bytes, U8, U16, U32, U64, Array16, Array32 };

// Runs one read and returns its failure message, or "" on success.
std::string run(BorshReader& reader, Op op, std::uint64_t n) {
  auto message = [](const auto& result) { return result ? std::string() : result.error().message; };
  switch (op) {
    case Op::Bytes:
      return message(reader.read_bytes(n));
    case Op::U8:
      return message(reader.read_u8());
    case Op::U16:
      return message(reader.read_u16());
    case Op::U32:
      return message(reader.read_u32());
    case Op::U64:
      return message(reader.read_u64());
    case Op::Array16:
      return message(reader.read_array16());
    case Op::Array32:
      return message(reader.read_array32());
  }
  return "unreachable";
}

struct ReadCase {
  std::uint64_t length;  // size of the data
  std::uint64_t skip;    // bytes consumed before the read under test
  Op op;
  std::uint64_t n;       // count for Op::Bytes
  std::string expected;  // "" for success
};

class BorshReaderReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BorshReaderReads, FailsWithExactMessageOrAdvances) {
  const ReadCase& c = GetParam();
  std::vector<std::uint8_t> data(c.length, 0xAB);
  BorshReader reader(data.data(), data.size());
  ASSERT_TRUE(reader.read_bytes(c.skip).has_value());
  ASSERT_EQ(reader.position(), c.skip);

  const std::string got = run(reader, c.op, c.n);
  EXPECT_EQ(got, c.expected);
  if (c.expected.empty()) {
    const std::uint64_t widths[] = {c.n, 1, 2, 4, 8, 16, 32};
    EXPECT_EQ(reader.position(), c.skip + widths[static_cast<int>(c.op)]);
  } else {
    EXPECT_EQ(reader.position(), c.skip) << "a failed read must not move the cursor";
  }
  EXPECT_EQ(reader.length(), c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BorshReaderReads,
    ::testing::Values(
        ReadCase{0, 0, Op::U8, 0, "unexpected end of buffer: need 1 byte(s) at offset 0, have 0"},
        ReadCase{3, 0, Op::U32, 0, "unexpected end of buffer: need 4 byte(s) at offset 0, have 3"},
        ReadCase{9, 4, Op::Bytes, 10, "unexpected end of buffer: need 10 byte(s) at offset 4, have 9"},
        ReadCase{6, 5, Op::U16, 0, "unexpected end of buffer: need 2 byte(s) at offset 5, have 6"},
        ReadCase{8, 1, Op::U64, 0, "unexpected end of buffer: need 8 byte(s) at offset 1, have 8"},
        ReadCase{15, 0, Op::Array16, 0, "unexpected end of buffer: need 16 byte(s) at offset 0, have 15"},
        ReadCase{40, 9, Op::Array32, 0, "unexpected end of buffer: need 32 byte(s) at offset 9, have 40"},
        ReadCase{4, 4, Op::U8, 0, "unexpected end of buffer: need 1 byte(s) at offset 4, have 4"},
        ReadCase{5, 0, Op::Bytes, kMax,
                 "unexpected end of buffer: need 18446744073709551615 byte(s) at offset 0, have 5"},
        ReadCase{5, 1, Op::Bytes, kMax - 1,
                 "unexpected end of buffer: need 18446744073709551614 byte(s) at offset 1, have 5"},
        ReadCase{5, 1, Op::Bytes, kMax, "length overflow"},
        ReadCase{5, 2, Op::Bytes, kMax - 1, "length overflow"},
        ReadCase{5, 5, Op::Bytes, kMax, "length overflow"},
        // Successful reads, including exact fits and reads of nothing.
        ReadCase{0, 0, Op::Bytes, 0, ""}, ReadCase{5, 5, Op::Bytes, 0, ""}, ReadCase{9, 4, Op::Bytes, 5, ""},
        ReadCase{6, 4, Op::U16, 0, ""}, ReadCase{4, 0, Op::U32, 0, ""}, ReadCase{9, 1, Op::U64, 0, ""},
        ReadCase{16, 0, Op::Array16, 0, ""}, ReadCase{33, 1, Op::Array32, 0, ""}));

TEST(BorshReader, ReadsLittleEndianValuesInOrder) {
  std::vector<std::uint8_t> data(1 + 2 + 4 + 8 + 16 + 32 + 3);
  std::iota(data.begin(), data.end(), std::uint8_t{1});
  BorshReader reader(data.data(), data.size());

  EXPECT_EQ(reader.read_u8().value(), 0x01);
  EXPECT_EQ(reader.read_u16().value(), 0x0302);
  EXPECT_EQ(reader.read_u32().value(), 0x07060504u);
  EXPECT_EQ(reader.read_u64().value(), 0x0F0E0D0C0B0A0908ull);
  const auto a16 = reader.read_array16().value();
  for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(a16[k], 16 + k);
  const auto a32 = reader.read_array32().value();
  for (std::size_t k = 0; k < 32; ++k) EXPECT_EQ(a32[k], 32 + k);
  const auto rest = reader.read_bytes(3).value();
  EXPECT_EQ(rest.data(), data.data() + 63) << "read_bytes hands out a view into the data";
  EXPECT_EQ(rest.size(), 3u);
  EXPECT_EQ(reader.position(), data.size());
  EXPECT_TRUE(reader.read_bytes(0).has_value());
  EXPECT_EQ(reader.read_u8().error().message,
            "unexpected end of buffer: need 1 byte(s) at offset 66, have 66");
}

TEST(BorshReader, HighBitValuesAreUnsigned) {
  const std::vector<std::uint8_t> data(8, 0xFF);
  BorshReader reader(data.data(), data.size());
  EXPECT_EQ(reader.read_u64().value(), std::numeric_limits<std::uint64_t>::max());
  BorshReader again(data.data(), data.size());
  EXPECT_EQ(again.read_u16().value(), 0xFFFF);
  EXPECT_EQ(again.read_u32().value(), 0xFFFFFFFFu);
}

TEST(BorshReader, EmptyDataWithoutPointer) {
  BorshReader reader(nullptr, 0);
  const auto none = reader.read_bytes(0);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
  EXPECT_FALSE(reader.read_array32().has_value());
}

// take(): the bytes or null, the position advanced only on success, the same
// bounds as read_bytes (no overflow on huge counts).
TEST(BorshReader, TakeGivesTheBytesOrNull) {
  const std::vector<std::uint8_t> data = {1, 2, 3, 4, 5};
  BorshReader reader(data.data(), data.size());
  EXPECT_EQ(reader.take(0), data.data());
  EXPECT_EQ(reader.take(2), data.data());
  EXPECT_EQ(reader.position(), 2u);
  EXPECT_EQ(reader.take(4), nullptr);
  EXPECT_EQ(reader.take(kMax), nullptr);
  EXPECT_EQ(reader.position(), 2u);
  EXPECT_EQ(reader.take(3), data.data() + 2);
  EXPECT_EQ(reader.take(1), nullptr);
  EXPECT_EQ(reader.take(0), data.data() + 5);
}

}  // namespace
}  // namespace varkel::decode
