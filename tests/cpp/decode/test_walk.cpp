// The walk of the decode plan with a sink that writes what it is given as
// text: what the walk reads, accepts and refuses, and where a failure is
// (its path), whatever the sink makes of the values.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decode/base58.h"
#include "decode/plan.h"
#include "decode/registry.h"
#include "decode/walk.h"
#include "idl/load.h"

namespace varkel::decode {
namespace {

// Values as text: {a:1,b:[2,3]}, "str", 0xhex, none, Variant, {Variant:{...}}.
class TextSink {
 public:
  using Value = std::string;
  using Slot = Unit;
  static constexpr Slot kSkip{};

  explicit TextSink(const DecodePlan& plan) : plan_(plan) {}

  template <Kind K>
  bool scalar(Slot, const std::uint8_t* b, Value& out) {
    if constexpr (K == Kind::U8) out = std::to_string(b[0]);
    if constexpr (K == Kind::I8) out = std::to_string(static_cast<std::int8_t>(b[0]));
    if constexpr (K == Kind::U16) out = std::to_string(load_le<std::uint16_t>(b));
    if constexpr (K == Kind::I16) out = std::to_string(load_le<std::int16_t>(b));
    if constexpr (K == Kind::U32) out = std::to_string(load_le<std::uint32_t>(b));
    if constexpr (K == Kind::I32) out = std::to_string(load_le<std::int32_t>(b));
    if constexpr (K == Kind::U64) out = std::to_string(load_le<std::uint64_t>(b));
    if constexpr (K == Kind::I64) out = std::to_string(load_le<std::int64_t>(b));
    if constexpr (K == Kind::F32 || K == Kind::F64) out = "float";
    return true;
  }
  bool boolean(Slot, bool value, Value& out) {
    out = value ? "true" : "false";
    return true;
  }
  bool wide(Slot, Kind, const std::uint8_t*, Value& out) {
    out = "wide";
    return true;
  }
  bool bytes(Slot, std::span<const std::uint8_t> data, Value& out) {
    out = "0x";
    for (std::uint8_t b : data) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", b);
      out += hex;
    }
    return true;
  }
  bool string(Slot, std::span<const std::uint8_t> data, Value& out) {
    out = "\"" + std::string(data.begin(), data.end()) + "\"";
    return true;
  }
  bool pubkey(Slot, const std::uint8_t* key, Value& out) {
    out = base58_encode(std::span<const std::uint8_t>(key, 32));
    return true;
  }
  bool none(Slot, Value& out) {
    out = "none";
    return true;
  }
  struct Record {
    std::string text;
    bool tuple = false;
  };
  bool begin_record(Slot, const FieldsRef& fields, Record& record) {
    record.tuple = fields.form == FieldsRef::Form::Tuple;
    return true;
  }
  Slot field_slot(const Record&, std::uint32_t) const { return {}; }
  bool set_field(Record& record, std::uint32_t i, const PlanField& field, Value&& value) {
    if (i > 0) record.text += ",";
    record.text += record.tuple ? value : plan_.keys[field.key] + ":" + value;
    return true;
  }
  bool end_record(Record& record, Slot, Value& out) {
    out = (record.tuple ? "[" : "{") + record.text + (record.tuple ? "]" : "}");
    return true;
  }
  struct List {
    std::string text;
  };
  bool begin_list(Slot, std::uint64_t, bool, List&) { return true; }
  Slot element_slot(const List&) const { return {}; }
  bool add_element(List& list, std::uint64_t i, Value&& item) {
    list.text += (i > 0 ? "," : "") + item;
    return true;
  }
  bool end_list(List& list, Slot, Value& out) {
    out = "[" + list.text + "]";
    return true;
  }
  bool unit_variant(Slot, std::uint32_t, const PlanVariant& variant, Value& out) {
    out = plan_.keys[variant.key];
    return true;
  }
  Slot variant_slot(Slot, std::uint32_t) const { return {}; }
  bool variant(Slot, std::uint32_t, const PlanVariant& variant, Value&& fields, Value& out) {
    out = "{" + plan_.keys[variant.key] + ":" + fields + "}";
    return true;
  }
  bool opaque(Slot) const { return false; }
  bool raw(Slot, std::span<const std::uint8_t>, Value&) { return true; }
  bool take_failure(Error&) { return false; }

 private:
  const DecodePlan& plan_;
};

struct WalkCase {
  std::string name;
  std::string fields;  // JSON of the event's fields
  std::string types;   // JSON of further type definitions (comma-separated), or ""
  std::vector<std::uint8_t> data;
  std::string expected;  // the text, or "!{message} @{path}"
};

class PlanWalkTable : public ::testing::TestWithParam<WalkCase> {};

TEST_P(PlanWalkTable, ReadsOrRefusesWithThePlace) {
  const WalkCase& c = GetParam();
  std::string text = R"({"address": "P", "metadata": {"name": "t", "version": "0", "spec": "0.1.0"},)"
                     R"("instructions": [], "events": [{"name": "E", "discriminator": [1,0,0,0,0,0,0,0]}],)"
                     R"("types": [{"name": "E", "type": {"kind": "struct", "fields": )" +
                     c.fields + "}}" + (c.types.empty() ? "" : ", " + c.types) + "]}";
  Result<idl::Idl> idl = idl::load_idl(text);
  ASSERT_TRUE(idl.has_value()) << idl.error().message;
  Result<EventRegistry> registry = build_registry(*idl);
  ASSERT_TRUE(registry.has_value()) << registry.error().message;
  const DecodePlan plan = build_plan(*registry);
  TextSink sink(plan);
  BorshReader reader(c.data.data(), c.data.size());
  Walk<TextSink> walk(plan, sink, reader);
  std::string out;
  const bool ok = walk.fields(plan.events[0], {}, out);
  EXPECT_EQ(ok ? out : "!" + walk.error().message + " @" + walk.error().path, c.expected);
}

const std::string kInner =
    R"({"name": "Inner", "type": {"kind": "struct", "fields": [{"name": "x", "type": "u16"}]}})";
const std::string kMood =
    R"({"name": "Mood", "type": {"kind": "enum", "variants": [{"name": "Calm"}, )"
    R"({"name": "Moved", "fields": [{"name": "x", "type": "u8"}]}, {"name": "Pair", "fields": ["u8", "u8"]}]}})";
const std::string kEmpty = R"({"name": "Empty", "type": {"kind": "struct"}})";

INSTANTIATE_TEST_SUITE_P(
    Table, PlanWalkTable,
    ::testing::Values(
        WalkCase{
            "scalars",
            R"([{"name": "a", "type": "u8"}, {"name": "b", "type": "i16"}, {"name": "c", "type": "bool"}])",
            "",
            {7, 0xFE, 0xFF, 1},
            "{a:7,b:-2,c:true}"},
        WalkCase{"option_vec_string",
                 R"([{"name": "o", "type": {"option": "u8"}}, {"name": "n", "type": {"option": "u8"}},)"
                 R"( {"name": "v", "type": {"vec": "u16"}}, {"name": "s", "type": "string"}])",
                 "",
                 {1, 5, 0, 2, 0, 0, 0, 1, 0, 2, 0, 2, 0, 0, 0, 'h', 'i'},
                 R"({o:5,n:none,v:[1,2],s:"hi"})"},
        WalkCase{"element_of_a_vec",
                 R"([{"name": "v", "type": {"vec": "u16"}}])",
                 "",
                 {3, 0, 0, 0, 1, 0, 2, 0},
                 "!unexpected end of buffer: need 2 byte(s) at offset 8, have 8 @v[2]"},
        WalkCase{
            "field_of_a_nested_struct",
            R"([{"name": "a", "type": "u8"}, {"name": "inner", "type": {"defined": {"name": "Inner"}}}])",
            kInner,
            {1, 2},
            "!unexpected end of buffer: need 2 byte(s) at offset 1, have 2 @inner.x"},
        WalkCase{"struct_inside_an_array",
                 R"([{"name": "xs", "type": {"array": [{"defined": {"name": "Inner"}}, 2]}}])",
                 kInner,
                 {1, 0, 2},
                 "!unexpected end of buffer: need 2 byte(s) at offset 2, have 3 @xs[1].x"},
        WalkCase{"enum_variants",
                 R"([{"name": "m", "type": {"vec": {"defined": {"name": "Mood"}}}}])",
                 kMood,
                 {3, 0, 0, 0, 0, 1, 9, 2, 3, 4},
                 "{m:[Calm,{Moved:{x:9}},{Pair:[3,4]}]}"},
        WalkCase{"enum_out_of_range",
                 R"([{"name": "m", "type": {"defined": {"name": "Mood"}}}])",
                 kMood,
                 {3},
                 "!enum discriminant 3 out of range @m"},
        WalkCase{"field_of_a_variant",
                 R"([{"name": "m", "type": {"defined": {"name": "Mood"}}}])",
                 kMood,
                 {2, 1},
                 "!unexpected end of buffer: need 1 byte(s) at offset 2, have 2 @m.Pair.1"},
        WalkCase{"invalid_utf8",
                 R"([{"name": "s", "type": "string"}])",
                 "",
                 {1, 0, 0, 0, 0xFF},
                 "!invalid utf-8: invalid utf-8 sequence of 1 bytes from index 0 @s"},
        WalkCase{"zero_width_budget",
                 R"([{"name": "v", "type": {"vec": {"defined": {"name": "Empty"}}}}])",
                 kEmpty,
                 {1, 0, 16, 0},
                 "!more than 1048576 zero-width elements @v"},
        WalkCase{"generic_length",
                 R"([{"name": "g", "type": {"array": ["u8", {"generic": "N"}]}}])",
                 "",
                 {},
                 "!generic array length is not supported @g"},
        WalkCase{"unknown_type",
                 R"([{"name": "u", "type": {"defined": {"name": "Nowhere"}}}])",
                 "",
                 {},
                 "!unknown defined type 'Nowhere' @u"}),
    [](const ::testing::TestParamInfo<WalkCase>& row) { return row.param.name; });

}  // namespace
}  // namespace varkel::decode
