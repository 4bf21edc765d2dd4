// Events into tables: the Arrow type of each IDL type, the values in the
// buffers, failed events leaving no trace, wide integers as decimals or text,
// and random bytes over every kind of type keeping every table consistent.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "columnar/event_tables.h"
#include "decode/plan.h"
#include "decode/registry.h"
#include "idl/load.h"

namespace varkel::columnar {
namespace {

std::string document(const std::string& fields, const std::string& types = "") {
  return R"({"address": "P", "metadata": {"name": "t", "version": "0.1.0", "spec": "0.1.0"},
    "instructions": [], "events": [{"name": "E", "discriminator": [1,2,3,4,5,6,7,8]}],
    "types": [{"name": "E", "type": {"kind": "struct", "fields": )" +
         fields + "}}" + (types.empty() ? "" : ", " + types) + "]}";
}

struct Decoder {
  decode::EventRegistry registry;
  decode::DecodePlan plan;
  TableSchema schema;

  explicit Decoder(const std::string& text) {
    Result<idl::Idl> idl = idl::load_idl(text);
    EXPECT_TRUE(idl.has_value()) << (idl ? "" : idl.error().message);
    registry = *decode::build_registry(*idl);
    plan = decode::build_plan(registry);
    schema = build_table_schema(registry, plan);
  }

  // The table of event E after adding each of `events`; `decoded` gets
  // whether each decoded.
  std::shared_ptr<const Table> table(const std::vector<std::vector<std::uint8_t>>& events,
                                     std::vector<bool>* decoded = nullptr) const {
    EventTables tables(plan, schema);
    for (const auto& data : events) {
      const bool ok = tables.add(0, data.data(), data.size());
      if (decoded != nullptr) decoded->push_back(ok);
    }
    return std::move(tables).finish()[0];
  }
};

// Checks the invariants of Arrow's layout that consumers rely on.
void expect_consistent(const ArrayData& a, const std::string& where) {
  ASSERT_GE(a.length, 0) << where;
  ASSERT_LE(a.null_count, a.length) << where;
  if (a.format == "n") return;
  ASSERT_FALSE(a.buffers.empty()) << where;
  if (a.null_count > 0) {
    ASSERT_GE(static_cast<std::int64_t>(a.buffers[0].size()) * 8, a.length) << where;
    std::int64_t nulls = 0;
    for (std::int64_t i = 0; i < a.length; ++i) nulls += ((a.buffers[0].data()[i >> 3] >> (i & 7)) & 1) == 0;
    ASSERT_EQ(nulls, a.null_count) << where;
  }
  const bool offsets32 = a.format == "u" || a.format == "z" || a.format == "+l";
  if (offsets32) {
    const auto* offsets = a.buffers[1].as<std::int32_t>();
    ASSERT_GE(a.buffers[1].size(), static_cast<std::size_t>(a.length + 1) * 4) << where;
    ASSERT_EQ(offsets[0], 0) << where;
    for (std::int64_t i = 0; i < a.length; ++i) ASSERT_LE(offsets[i], offsets[i + 1]) << where;
    if (a.format == "+l") {
      ASSERT_EQ(a.children.at(0).length, offsets[a.length]) << where;
    } else {
      ASSERT_EQ(static_cast<std::int64_t>(a.buffers[2].size()), offsets[a.length]) << where;
    }
  }
  if (a.format.starts_with("+w:")) {
    ASSERT_EQ(a.children.at(0).length, a.length * std::stoll(a.format.substr(3))) << where;
  }
  if (a.format == "+s") {
    for (const ArrayData& child : a.children) ASSERT_EQ(child.length, a.length) << where << "." << child.name;
  }
  for (const ArrayData& child : a.children) expect_consistent(child, where + "." + child.name);
}

struct FormatCase {
  std::string type;    // JSON of field v's type
  std::string format;  // the column's format
  std::string child;   // the first child's format, if any
};

class ColumnFormats : public ::testing::TestWithParam<FormatCase> {};

const char kTypes[] =
    R"({"name": "Side", "type": {"kind": "enum", "variants": [{"name": "Buy"}, {"name": "Sell"}]}},
       {"name": "Move", "type": {"kind": "enum", "variants": [{"name": "Stay"}, {"name": "Go", "fields": ["u8"]}]}},
       {"name": "Pair", "type": {"kind": "struct", "fields": ["u8", "i64"]}},
       {"name": "Big", "type": {"kind": "type", "alias": {"array": ["u64", 100000]}}},
       {"name": "Node", "type": {"kind": "struct", "fields": [{"name": "n", "type": {"option": {"defined": {"name": "Node"}}}}]}})";

TEST_P(ColumnFormats, OfAnEmptyTable) {
  const FormatCase& c = GetParam();
  const Decoder decoder(document(R"([{"name": "v", "type": )" + c.type + "}]", kTypes));
  const ArrayData& column = decoder.schema.empty[0]->batch.children.at(0);
  EXPECT_EQ(column.format, c.format) << c.type;
  if (!c.child.empty()) {
    ASSERT_FALSE(column.children.empty()) << c.type;
    EXPECT_EQ(column.children[0].format, c.child) << c.type;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, ColumnFormats,
    ::testing::Values(
        FormatCase{R"("u8")", "C", ""}, FormatCase{R"("i8")", "c", ""}, FormatCase{R"("u16")", "S", ""},
        FormatCase{R"("i16")", "s", ""}, FormatCase{R"("u32")", "I", ""}, FormatCase{R"("i32")", "i", ""},
        FormatCase{R"("u64")", "L", ""}, FormatCase{R"("i64")", "l", ""}, FormatCase{R"("f32")", "f", ""},
        FormatCase{R"("f64")", "g", ""}, FormatCase{R"("bool")", "b", ""}, FormatCase{R"("string")", "u", ""},
        FormatCase{R"("bytes")", "z", ""}, FormatCase{R"("pubkey")", "u", ""},
        FormatCase{R"("u128")", "u", ""}, FormatCase{R"("i128")", "u", ""}, FormatCase{R"("u256")", "u", ""},
        FormatCase{R"("i256")", "u", ""}, FormatCase{R"({"option": "u16"})", "S", ""},
        FormatCase{R"({"vec": "bool"})", "+l", "b"}, FormatCase{R"({"array": ["u8", 32]})", "+w:32", "C"},
        FormatCase{R"({"defined": {"name": "Big"}})", "+l", "L"},
        FormatCase{R"({"defined": {"name": "Side"}})", "s", ""},
        FormatCase{R"({"defined": {"name": "Move"}})", "+s", "s"},
        FormatCase{R"({"defined": {"name": "Pair"}})", "+s", "C"},
        FormatCase{R"({"defined": {"name": "Node"}})", "+s", "z"},
        FormatCase{R"({"defined": {"name": "Nope"}})", "n", ""}, FormatCase{R"({"generic": "T"})", "n", ""},
        FormatCase{R"({"array": ["u8", {"generic": "N"}]})", "n", ""}));

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST(EventTables, ValuesLandInTheirBuffers) {
  const Decoder decoder(document(R"([{"name": "a", "type": "u16"}, {"name": "o", "type": {"option": "i8"}},
                                     {"name": "l", "type": {"vec": "u8"}}, {"name": "s", "type": "string"}])"));
  const auto table = decoder.table(
      {bytes({1, 2, 1, 0xFF, 2, 0, 0, 0, 5, 6, 1, 0, 0, 0, 'x'}), bytes({3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})});
  const ArrayData& batch = table->batch;
  ASSERT_EQ(batch.length, 2);
  EXPECT_EQ(batch.children[0].buffers[1].as<std::uint16_t>()[0], 0x0201);
  EXPECT_EQ(batch.children[0].buffers[1].as<std::uint16_t>()[1], 3);
  const ArrayData& o = batch.children[1];
  EXPECT_EQ(o.null_count, 1);
  EXPECT_EQ(o.buffers[1].as<std::int8_t>()[0], -1);
  EXPECT_EQ(o.buffers[0].data()[0] & 0b11, 0b01);
  const ArrayData& l = batch.children[2];
  EXPECT_EQ(l.children[0].length, 2);
  EXPECT_EQ(l.buffers[1].as<std::int32_t>()[2], 2);
  const ArrayData& s = batch.children[3];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.buffers[2].data()), s.buffers[2].size()), "x");
  expect_consistent(batch, "E");
}

TEST(EventTables, FailedEventsLeaveNoTrace) {
  const Decoder decoder(document(R"([{"name": "l", "type": {"vec": {"defined": {"name": "Pair"}}}},
                                     {"name": "s", "type": "string"}, {"name": "m", "type": {"defined": {"name": "Move"}}}])",
                                 kTypes));
  std::vector<bool> decoded;
  const auto good = bytes({1, 0, 0, 0, 7, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 'k', 1, 9});
  const auto table = decoder.table(
      {
          good,
          bytes({2, 0, 0, 0, 7, 1, 0, 0, 0, 0, 0, 0, 0, 8}),              // the second pair is cut
          bytes({0, 0, 0, 0, 2, 0, 0, 0, 0xC3, 0x28}),                    // invalid utf-8
          bytes({1, 0, 0, 0, 7, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}),  // discriminant out of range
          good,
      },
      &decoded);
  EXPECT_EQ(decoded, (std::vector<bool>{true, false, false, false, true}));
  const ArrayData& batch = table->batch;
  ASSERT_EQ(batch.length, 2);
  EXPECT_EQ(batch.children[0].children[0].length, 2);  // one pair per good event
  EXPECT_EQ(batch.children[1].buffers[2].size(), 2u);  // "k" twice
  expect_consistent(batch, "E");
}

TEST(EventTables, WideIntegersAreTheirDecimalText) {
  const Decoder decoder(document(R"([{"name": "a", "type": "i128"}])"));
  std::vector<std::uint8_t> minus_one(16, 0xFF);
  std::vector<std::uint8_t> smallest(16, 0);
  smallest[15] = 0x80;
  const auto text = decoder.table({minus_one, smallest});
  const ArrayData& column = text->batch.children[0];
  ASSERT_EQ(column.format, "u");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(column.buffers[2].data()), column.buffers[2].size()),
            "-1-170141183460469231731687303715884105728");
}

struct WideCase {
  std::vector<std::uint8_t> bytes;  // little-endian
  bool is_signed;
  std::string text;
};

std::vector<std::uint8_t> le(std::size_t size, std::uint8_t fill, std::uint8_t top) {
  std::vector<std::uint8_t> out(size, fill);
  out.back() = top;
  return out;
}

// 10^38 - 1 and 10^38, 10^76 - 1, little-endian.
std::vector<std::uint8_t> from_hex_be(const std::string& hex, std::size_t size) {
  std::vector<std::uint8_t> out(size, 0);
  for (std::size_t i = 0; i < hex.size() / 2; ++i) {
    out[hex.size() / 2 - 1 - i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  }
  return out;
}

TEST(WideIntegers, TextAtTheEndsOfTheRanges) {
  const std::vector<WideCase> cases = {
      {le(16, 0, 0), true, "0"},
      {le(16, 0xFF, 0xFF), true, "-1"},
      {le(16, 0xFF, 0xFF), false, "340282366920938463463374607431768211455"},
      {le(16, 0, 0x80), true, "-170141183460469231731687303715884105728"},
      {le(16, 0xFF, 0x7F), true, "170141183460469231731687303715884105727"},
      {from_hex_be("4b3b4ca85a86c47a098a223fffffffff", 16), false, "99999999999999999999999999999999999999"},
      {from_hex_be("4b3b4ca85a86c47a098a224000000000", 16), false, "100000000000000000000000000000000000000"},
      {le(32, 0xFF, 0xFF), false,
       "115792089237316195423570985008687907853269984665640564039457584007913129639935"},
      {le(32, 0, 0x80), true,
       "-57896044618658097711785492504343953926634992332820282019728792003956564819968"},
      {from_hex_be("161bcca7119915b50764b4abe86529797775a5f171950fffffffffffffffffff", 32), false,
       std::string(76, '9')},
  };
  for (const WideCase& c : cases) {
    char text[kDecimalTextMax];
    EXPECT_EQ(std::string(text, decimal_text(c.bytes.data(), c.bytes.size(), c.is_signed, text)), c.text);
  }
}

// Random bytes over a type with every kind of value: whatever decodes or
// fails, every table stays consistent.
TEST(EventTables, RandomBytesKeepEveryTableConsistent) {
  const Decoder decoder(document(
      R"([{"name": "a", "type": {"option": {"vec": {"defined": {"name": "Move"}}}}},
          {"name": "b", "type": {"array": [{"option": {"defined": {"name": "Pair"}}}, 2]}},
          {"name": "c", "type": {"vec": {"option": "string"}}}, {"name": "d", "type": {"option": "u128"}},
          {"name": "e", "type": {"defined": {"name": "Node"}}}, {"name": "f", "type": {"option": "bool"}},
          {"name": "g", "type": {"option": {"defined": {"name": "Side"}}}}, {"name": "h", "type": "bytes"}])",
      kTypes));
  std::mt19937 rng(7);
  std::vector<std::vector<std::uint8_t>> events;
  for (int i = 0; i < 20000; ++i) {
    std::vector<std::uint8_t> data(rng() % 64);
    for (auto& byte : data) {
      const unsigned pick = rng() % 10;  // mostly zeros and ones: small counts and tags
      byte = static_cast<std::uint8_t>(pick < 6 ? 0 : pick < 9 ? 1 : rng());
    }
    events.push_back(std::move(data));
  }
  std::vector<bool> decoded;
  const auto table = decoder.table(events, &decoded);
  std::int64_t count = 0;
  for (bool ok : decoded) count += ok ? 1 : 0;
  EXPECT_GT(count, 100);
  EXPECT_EQ(table->batch.length, count);
  expect_consistent(table->batch, "E");
}

}  // namespace
}  // namespace varkel::columnar
