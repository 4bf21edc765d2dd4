// The wire transaction parser: messages built by a small encoder in the test
// (legacy and version 0), compact-u16 forms, every truncation and corruption
// of a message, and the real base64 transactions of the fixtures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.h"
#include "scan/base64.h"
#include "tx/tx_fixtures.h"
#include "tx/wire.h"

namespace varkel::tx {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put_compact(Bytes& out, std::size_t value) {
  do {
    std::uint8_t b = value & 0x7F;
    value >>= 7;
    if (value != 0) b |= 0x80;
    out.push_back(b);
  } while (value != 0);
}

struct ShapeInstruction {
  std::uint8_t program;
  Bytes accounts;
  Bytes data;
};

struct ShapeLookup {
  std::uint8_t table_byte;
  Bytes writable;
  Bytes readonly;
};

struct MessageShape {
  std::size_t signatures = 1;
  bool versioned = false;
  std::size_t keys = 3;
  std::vector<ShapeInstruction> instructions;
  std::vector<ShapeLookup> lookups;
};

// Signature k is 64 bytes of value k + 1; key k is 32 bytes of value 0x40 + k.
Bytes encode(const MessageShape& shape) {
  Bytes out;
  put_compact(out, shape.signatures);
  for (std::size_t k = 0; k < shape.signatures; ++k)
    out.insert(out.end(), 64, static_cast<std::uint8_t>(k + 1));
  if (shape.versioned) out.push_back(0x80);
  out.push_back(static_cast<std::uint8_t>(shape.signatures));
  out.push_back(0);
  out.push_back(1);
  put_compact(out, shape.keys);
  for (std::size_t k = 0; k < shape.keys; ++k) out.insert(out.end(), 32, static_cast<std::uint8_t>(0x40 + k));
  out.insert(out.end(), 32, 0xBB);  // blockhash
  put_compact(out, shape.instructions.size());
  for (const ShapeInstruction& ins : shape.instructions) {
    out.push_back(ins.program);
    put_compact(out, ins.accounts.size());
    out.insert(out.end(), ins.accounts.begin(), ins.accounts.end());
    put_compact(out, ins.data.size());
    out.insert(out.end(), ins.data.begin(), ins.data.end());
  }
  if (shape.versioned) {
    put_compact(out, shape.lookups.size());
    for (const ShapeLookup& lookup : shape.lookups) {
      out.insert(out.end(), 32, lookup.table_byte);
      put_compact(out, lookup.writable.size());
      out.insert(out.end(), lookup.writable.begin(), lookup.writable.end());
      put_compact(out, lookup.readonly.size());
      out.insert(out.end(), lookup.readonly.begin(), lookup.readonly.end());
    }
  }
  return out;
}

MessageShape version0() {
  MessageShape shape;
  shape.signatures = 2;
  shape.versioned = true;
  shape.keys = 4;
  shape.instructions = {{3, {0, 1, 4}, {0xE4, 0x45, 1, 2}}, {2, {}, {}}, {5, {0}, Bytes(300, 7)}};
  shape.lookups = {{0xA1, {0, 5}, {9}}, {0xA2, {}, {1, 2, 3}}};
  return shape;
}

TEST(Wire, ReadsALegacyMessage) {
  MessageShape shape;
  shape.instructions = {{2, {0, 1}, {1, 2, 3}}};
  const Bytes bytes = encode(shape);
  const Result<WireTransaction> tx = parse_wire_transaction(bytes);
  ASSERT_TRUE(tx.has_value()) << tx.error();
  EXPECT_FALSE(tx->versioned);
  ASSERT_EQ(tx->signatures.size(), 1u);
  EXPECT_EQ(tx->signatures[0].size(), 64u);
  EXPECT_EQ(tx->signatures[0][0], 1);
  EXPECT_EQ(tx->header[0], 1);
  ASSERT_EQ(tx->keys.size(), 3u);
  EXPECT_EQ(tx->keys[2][0], 0x42);
  EXPECT_EQ(tx->blockhash[31], 0xBB);
  ASSERT_EQ(tx->instructions.size(), 1u);
  EXPECT_EQ(tx->instructions[0].program_index, 2);
  EXPECT_EQ(Bytes(tx->instructions[0].accounts.begin(), tx->instructions[0].accounts.end()), (Bytes{0, 1}));
  EXPECT_EQ(Bytes(tx->instructions[0].data.begin(), tx->instructions[0].data.end()), (Bytes{1, 2, 3}));
  EXPECT_TRUE(tx->lookups.empty());
}

TEST(Wire, ReadsAVersion0MessageWithLookups) {
  const MessageShape shape = version0();
  const Bytes bytes = encode(shape);
  const Result<WireTransaction> tx = parse_wire_transaction(bytes);
  ASSERT_TRUE(tx.has_value()) << tx.error();
  EXPECT_TRUE(tx->versioned);
  EXPECT_EQ(tx->signatures.size(), 2u);
  EXPECT_EQ(tx->signatures[1][63], 2);
  EXPECT_EQ(tx->keys.size(), 4u);
  ASSERT_EQ(tx->instructions.size(), 3u);
  EXPECT_EQ(tx->instructions[2].data.size(), 300u);  // a two-byte compact length
  ASSERT_EQ(tx->lookups.size(), 2u);
  EXPECT_EQ(tx->lookups[0].table[0], 0xA1);
  EXPECT_EQ(tx->lookups[1].readonly.size(), 3u);
  EXPECT_EQ(tx->loaded_writable(), 2u);
  EXPECT_EQ(tx->loaded_readonly(), 4u);
}

// Every proper prefix of a message fails, naming where it ended; so does any
// byte after the end.
TEST(Wire, EveryTruncationAndAnyTrailingByteIsRefused) {
  for (const MessageShape& shape : {version0(), MessageShape{1, false, 3, {{2, {0}, {9}}}, {}}}) {
    const Bytes bytes = encode(shape);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      const Result<WireTransaction> tx =
          parse_wire_transaction(std::span<const std::uint8_t>(bytes.data(), n));
      ASSERT_FALSE(tx.has_value()) << "prefix of " << n << " bytes";
      EXPECT_TRUE(tx.error().message.starts_with("wire transaction ends at byte " + std::to_string(n) +
                                                 " inside the "))
          << tx.error();
    }
    Bytes longer = bytes;
    longer.push_back(0);
    const Result<WireTransaction> tx = parse_wire_transaction(longer);
    ASSERT_FALSE(tx.has_value());
    EXPECT_EQ(tx.error(),
              "wire transaction: 1 bytes after the message, from byte " + std::to_string(bytes.size()));
  }
}

struct CompactCase {
  std::string name;
  Bytes encoded;      // the data length field of the one instruction
  std::size_t value;  // its value, when accepted
  std::string error;
};

class CompactTable : public ::testing::TestWithParam<CompactCase> {};

TEST_P(CompactTable, OnlyShortestFormsUpTo0xFFFF) {
  const CompactCase& c = GetParam();
  MessageShape shape;
  shape.instructions = {{2, {}, {}}};
  Bytes bytes = encode(shape);
  bytes.pop_back();  // the data length 0
  const std::size_t at = bytes.size();
  bytes.insert(bytes.end(), c.encoded.begin(), c.encoded.end());
  bytes.insert(bytes.end(), c.value, 0x5A);
  const Result<WireTransaction> tx = parse_wire_transaction(bytes);
  if (c.error.empty()) {
    ASSERT_TRUE(tx.has_value()) << tx.error();
    EXPECT_EQ(tx->instructions[0].data.size(), c.value);
  } else {
    ASSERT_FALSE(tx.has_value());
    EXPECT_EQ(tx.error(), "wire transaction: the compact-u16 instruction 0 data length at byte " +
                              std::to_string(at) + " " + c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompactTable,
    ::testing::Values(CompactCase{"zero", {0x00}, 0, ""}, CompactCase{"one_byte_max", {0x7F}, 127, ""},
                      CompactCase{"two_bytes", {0x80, 0x01}, 128, ""},
                      CompactCase{"two_bytes_max", {0xFF, 0x7F}, 16383, ""},
                      CompactCase{"three_bytes", {0x80, 0x80, 0x01}, 16384, ""},
                      CompactCase{"max", {0xFF, 0xFF, 0x03}, 65535, ""},
                      CompactCase{"alias_of_zero", {0x80, 0x00}, 0, "is not in its shortest form"},
                      CompactCase{
                          "alias_in_third_byte", {0x80, 0x80, 0x00}, 0, "is not in its shortest form"},
                      CompactCase{"above_max", {0xFF, 0xFF, 0x04}, 0, "exceeds 0xFFFF"},
                      CompactCase{"fourth_byte", {0x80, 0x80, 0x80}, 0, "exceeds 0xFFFF"}),
    [](const ::testing::TestParamInfo<CompactCase>& row) { return row.param.name; });

TEST(Wire, RefusesOtherVersionsAndSignatureCountsOtherThanTheHeaders) {
  Bytes bytes = encode(version0());
  bytes[1 + 2 * 64] = 0x81;  // version 1
  Result<WireTransaction> tx = parse_wire_transaction(bytes);
  ASSERT_FALSE(tx.has_value());
  EXPECT_EQ(tx.error(), "wire transaction: unsupported message version 1 at byte 129");

  bytes = encode(version0());
  bytes[1 + 2 * 64 + 1] = 3;  // the header asks for three signatures
  tx = parse_wire_transaction(bytes);
  ASSERT_FALSE(tx.has_value());
  EXPECT_EQ(tx.error(), "wire transaction: the message requires 3 signatures, the transaction carries 2");
}

TEST(Wire, NamesWhatWasBeingReadWhenTheBytesEnd) {
  const Bytes bytes = encode(version0());
  // Cut inside the third instruction's data (300 bytes, at the end before the lookups).
  const Result<WireTransaction> tx = parse_wire_transaction(std::span<const std::uint8_t>(bytes.data(), 400));
  ASSERT_FALSE(tx.has_value());
  EXPECT_TRUE(tx.error().message.starts_with(
      "wire transaction ends at byte 400 inside the instruction 2 data (300 bytes "))
      << tx.error();
}

// The base64 transactions of the fixtures: whole, and their top-level
// instructions are the invoke [1] lines of their logs, program by program.
TEST(WireFixtures, RealBase64TransactionsParse) {
  int checked = 0;
  for (const char* name :
       {"pump_amm-sell-buy-tx-slot387020561.json", "chainstack-pump-create-blockSubscribe-2025.json"}) {
    const auto path = testing::kLogFixtures / name;
    const auto text = testing::fixture_text(path);
    if (!text) GTEST_SKIP() << "fixture not available: " << path;
    const json::Value root = *json::parse(*text);
    const std::string& encoded = root.get("transaction")->as_array()[0].as_string();
    const auto bytes = scan::decode_base64(encoded);
    ASSERT_TRUE(bytes.has_value());
    const Result<WireTransaction> tx =
        parse_wire_transaction(std::span<const std::uint8_t>(bytes->data.get(), bytes->size));
    ASSERT_TRUE(tx.has_value()) << name << ": " << tx.error();
    EXPECT_EQ(tx->versioned, root.get("version")->kind() == json::Value::Kind::UInt) << name;
    std::vector<std::string> top_programs;
    for (const json::Value& line : root.get("meta")->get("logMessages")->as_array()) {
      const std::string& s = line.as_string();
      if (s.ends_with(" invoke [1]")) top_programs.push_back(s.substr(8, s.size() - 8 - 11));
    }
    ASSERT_EQ(tx->instructions.size(), top_programs.size()) << name;
    for (std::size_t i = 0; i < top_programs.size(); ++i) {
      const std::uint8_t index = tx->instructions[i].program_index;
      ASSERT_LT(index, tx->keys.size()) << name;  // programs are never loaded from tables
      EXPECT_EQ(decode::base58_encode(tx->keys[index]), top_programs[i]) << name << " instruction " << i;
      ++checked;
    }
  }
  EXPECT_GT(checked, 10);
}

TEST(WireFixtures, TheFirstSignatureIsTheTransactionsId) {
  const auto path = testing::kLogFixtures / "pump_amm-sell-buy-tx-slot387020561.json";
  const auto text = testing::fixture_text(path);
  if (!text) GTEST_SKIP() << "fixture not available: " << path;
  const json::Value root = *json::parse(*text);
  const auto bytes = scan::decode_base64(root.get("transaction")->as_array()[0].as_string());
  const Result<WireTransaction> tx =
      parse_wire_transaction(std::span<const std::uint8_t>(bytes->data.get(), bytes->size));
  ASSERT_TRUE(tx.has_value());
  // SOURCES.md names the transaction ZpXDocoY...
  EXPECT_TRUE(decode::base58_encode(tx->signatures[0]).starts_with("ZpXDocoY"));
}

}  // namespace
}  // namespace varkel::tx
