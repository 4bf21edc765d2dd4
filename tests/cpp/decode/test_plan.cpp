// The decode plan: one node per type expression, references resolved to one
// definition per name, one key per distinct field or variant name, and the
// unsupported forms kept as nodes that fail only when reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decode/plan.h"
#include "decode/registry.h"
#include "idl/load.h"

namespace varkel::decode {
namespace {

namespace fs = std::filesystem;

// A current-format document with these events (discriminators 1, 2, ...) and
// type definitions (JSON text of the "types" array's items).
std::string document(const std::vector<std::string>& events, const std::vector<std::string>& types) {
  std::string text = R"({"address": "P", "metadata": {"name": "t", "version": "0.1.0", "spec": "0.1.0"}, )"
                     R"("instructions": [], "events": [)";
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (i > 0) text += ", ";
    text +=
        R"({"name": ")" + events[i] + R"(", "discriminator": [)" + std::to_string(i + 1) + ",0,0,0,0,0,0,0]}";
  }
  text += R"(], "types": [)";
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (i > 0) text += ", ";
    text += types[i];
  }
  return text + "]}";
}

struct Built {
  EventRegistry registry;
  DecodePlan plan;
};

Built build(const std::string& text) {
  Result<idl::Idl> idl = idl::load_idl(text);
  EXPECT_TRUE(idl.has_value()) << (idl ? "" : idl.error().message);
  Result<EventRegistry> registry = build_registry(*idl);
  EXPECT_TRUE(registry.has_value()) << (registry ? "" : registry.error().message);
  DecodePlan plan = build_plan(*registry);
  return {std::move(*registry), std::move(plan)};
}

const PlanNode& field_node(const DecodePlan& plan, const FieldsRef& fields, std::uint32_t i) {
  return plan.nodes[plan.fields[fields.first + i].type];
}

std::string key_name(const DecodePlan& plan, const FieldsRef& fields, std::uint32_t i) {
  return plan.keys[plan.fields[fields.first + i].key];
}

TEST(DecodePlan, OneKeyPerDistinctNameAcrossEventsStructsAndVariants) {
  const Built b = build(document(
      {"A", "B"}, {R"({"name": "A", "type": {"kind": "struct", "fields": [{"name": "amount", "type": "u64"},
          {"name": "side", "type": {"defined": {"name": "Side"}}}]}})",
                   R"({"name": "B", "type": {"kind": "struct", "fields": [{"name": "side", "type": "u8"},
          {"name": "amount", "type": "u64"}, {"name": "Buy", "type": "bool"}]}})",
                   R"({"name": "Side", "type": {"kind": "enum", "variants": [{"name": "Buy"}, {"name": "Sell",
          "fields": [{"name": "amount", "type": "u8"}]}]}})"}));
  const DecodePlan& plan = b.plan;
  EXPECT_EQ(plan.keys, (std::vector<std::string>{"amount", "side", "Buy", "Sell"}));
  ASSERT_EQ(plan.events.size(), 2u);
  EXPECT_EQ(key_name(plan, plan.events[1], 0), "side");
  EXPECT_EQ(key_name(plan, plan.events[1], 1), "amount");
  EXPECT_EQ(key_name(plan, plan.events[1], 2), "Buy");
  EXPECT_EQ(plan.fields[plan.events[0].first].key, plan.fields[plan.events[1].first + 1].key);
}

TEST(DecodePlan, ReferencesResolveToOneDefinitionPerName) {
  const Built b = build(document({"E"}, {R"({"name": "E", "type": {"kind": "struct", "fields": [
                  {"name": "a", "type": {"defined": {"name": "Node"}}},
                  {"name": "b", "type": {"vec": {"defined": {"name": "Node"}}}}]}})",
                                         R"({"name": "Node", "type": {"kind": "struct", "fields": [
                  {"name": "next", "type": {"option": {"defined": {"name": "Node"}}}}]}})"}));
  const DecodePlan& plan = b.plan;
  const FieldsRef& event = plan.events[0];
  ASSERT_EQ(event.form, FieldsRef::Form::Named);
  const PlanNode& a = field_node(plan, event, 0);
  const PlanNode& b_vec = field_node(plan, event, 1);
  ASSERT_EQ(a.kind, Kind::Defined);
  ASSERT_EQ(b_vec.kind, Kind::Vec);
  const std::uint32_t node_def = a.child;
  EXPECT_EQ(plan.nodes[b_vec.child].child, node_def);
  ASSERT_EQ(plan.definitions.size(), 1u);
  const PlanDefinition& def = plan.definitions[node_def];
  ASSERT_EQ(def.form, PlanDefinition::Form::Struct);
  const PlanNode& next = field_node(plan, def.fields, 0);
  ASSERT_EQ(next.kind, Kind::Option);
  EXPECT_EQ(plan.nodes[next.child].child, node_def);  // the struct reaches itself
}

TEST(DecodePlan, UnsupportedFormsStayNodesWithTheirNames) {
  const Built b = build(document({"E"}, {R"({"name": "E", "type": {"kind": "struct", "fields": [
                  {"name": "unknown", "type": {"defined": {"name": "nothing"}}},
                  {"name": "generic_ref", "type": {"defined": {"name": "E", "generics": [{"kind": "type", "type": "u8"}]}}},
                  {"name": "param", "type": {"generic": "T"}},
                  {"name": "generic_len", "type": {"array": ["u8", {"generic": "N"}]}},
                  {"name": "fixed", "type": {"array": ["u16", 7]}}]}})"}));
  const DecodePlan& plan = b.plan;
  const FieldsRef& event = plan.events[0];
  const PlanNode& unknown = field_node(plan, event, 0);
  EXPECT_EQ(unknown.kind, Kind::Defined);
  EXPECT_EQ(unknown.child, kNoIndex);
  EXPECT_EQ(plan.texts[unknown.text], "nothing");
  const PlanNode& generic_ref = field_node(plan, event, 1);
  EXPECT_TRUE(generic_ref.generic_args);
  EXPECT_EQ(plan.texts[generic_ref.text], "E");
  EXPECT_EQ(field_node(plan, event, 2).kind, Kind::Generic);
  EXPECT_TRUE(field_node(plan, event, 3).generic_length);
  const PlanNode& fixed = field_node(plan, event, 4);
  EXPECT_FALSE(fixed.generic_length);
  EXPECT_EQ(fixed.length, 7u);
  EXPECT_EQ(plan.nodes[fixed.child].kind, Kind::U16);
  EXPECT_TRUE(plan.definitions.empty());  // nothing resolved, nothing compiled
}

TEST(DecodePlan, EventFieldFormsAndAliases) {
  const Built b = build(document(
      {"Empty", "Pair", "Wrapped"},
      {R"({"name": "Empty", "type": {"kind": "struct"}})",
       R"({"name": "Pair", "type": {"kind": "struct", "fields": ["u8", "bool"]}})",
       R"({"name": "Wrapped", "type": {"kind": "struct", "fields": [{"name": "w", "type": {"defined": {"name": "Amount"}}}]}})",
       R"({"name": "Amount", "type": {"kind": "type", "alias": "u128"}})"}));
  const DecodePlan& plan = b.plan;
  EXPECT_EQ(plan.events[0].form, FieldsRef::Form::Absent);
  EXPECT_EQ(plan.events[1].form, FieldsRef::Form::Tuple);
  EXPECT_EQ(plan.events[1].count, 2u);
  EXPECT_EQ(plan.fields[plan.events[1].first].key, kNoIndex);
  EXPECT_EQ(field_node(plan, plan.events[1], 1).kind, Kind::Bool);
  const PlanDefinition& alias = plan.definitions[field_node(plan, plan.events[2], 0).child];
  ASSERT_EQ(alias.form, PlanDefinition::Form::Alias);
  EXPECT_EQ(plan.nodes[alias.alias].kind, Kind::U128);
}

struct SizeCase {
  std::string type;   // JSON of the field's type
  std::uint64_t min;  // expected lower bound
};

class DecodePlanSizes : public ::testing::TestWithParam<SizeCase> {};

// The types the cases refer to.
const std::vector<std::string> kSizeTypes = {
    R"({"name": "Pair", "type": {"kind": "struct", "fields": ["u8", "u64"]}})",
    R"({"name": "Empty", "type": {"kind": "struct"}})",
    R"({"name": "Side", "type": {"kind": "enum", "variants": [{"name": "Big", "fields": ["u128"]},
        {"name": "Small", "fields": [{"name": "x", "type": "u16"}]}]}})",
    R"({"name": "Unit", "type": {"kind": "enum", "variants": [{"name": "A"}, {"name": "B", "fields": ["u64"]}]}})",
    R"({"name": "None", "type": {"kind": "enum", "variants": []}})",
    R"({"name": "Amount", "type": {"kind": "type", "alias": "u128"}})",
    R"({"name": "List", "type": {"kind": "struct", "fields": [{"name": "v", "type": "u32"},
        {"name": "next", "type": {"option": {"defined": {"name": "List"}}}}]}})",
    R"({"name": "Self", "type": {"kind": "struct", "fields": [{"name": "s", "type": {"defined": {"name": "Self"}}}]}})",
    R"({"name": "Doubling", "type": {"kind": "struct", "fields": [
        {"name": "a", "type": {"array": [{"defined": {"name": "Doubling"}}, 2]}}, {"name": "b", "type": "u8"}]}})",
    R"({"name": "Loop", "type": {"kind": "type", "alias": {"defined": {"name": "Loop"}}}})",
};

TEST_P(DecodePlanSizes, LowerBoundOfTheBytesAValueTakes) {
  const SizeCase& c = GetParam();
  std::vector<std::string> types = kSizeTypes;
  types.push_back(R"({"name": "E", "type": {"kind": "struct", "fields": [{"name": "f", "type": )" + c.type +
                  "}]}}");
  const Built b = build(document({"E"}, types));
  EXPECT_EQ(field_node(b.plan, b.plan.events[0], 0).min_size, c.min) << c.type;
}

INSTANTIATE_TEST_SUITE_P(
    Types, DecodePlanSizes,
    ::testing::Values(
        SizeCase{R"("bool")", 1}, SizeCase{R"("i16")", 2}, SizeCase{R"("f32")", 4}, SizeCase{R"("u64")", 8},
        SizeCase{R"("i128")", 16}, SizeCase{R"("u256")", 32}, SizeCase{R"("pubkey")", 32},
        SizeCase{R"("string")", 4}, SizeCase{R"("bytes")", 4}, SizeCase{R"({"option": "pubkey"})", 1},
        SizeCase{R"({"vec": "pubkey"})", 4}, SizeCase{R"({"array": ["u16", 7]})", 14},
        SizeCase{R"({"array": ["u16", 0]})", 0},
        SizeCase{R"({"array": ["u64", 4611686018427387904]})", kSizeCap},
        SizeCase{R"({"array": ["u8", {"generic": "N"}]})", 0}, SizeCase{R"({"generic": "T"})", 0},
        SizeCase{R"({"defined": {"name": "Pair"}})", 9}, SizeCase{R"({"defined": {"name": "Empty"}})", 0},
        SizeCase{R"({"defined": {"name": "Side"}})", 3}, SizeCase{R"({"defined": {"name": "Unit"}})", 1},
        SizeCase{R"({"defined": {"name": "None"}})", 1}, SizeCase{R"({"defined": {"name": "Amount"}})", 16},
        SizeCase{R"({"defined": {"name": "List"}})", 5}, SizeCase{R"({"defined": {"name": "Self"}})", 0},
        SizeCase{R"({"defined": {"name": "Doubling"}})", kSizeCap},
        SizeCase{R"({"defined": {"name": "Loop"}})", 0}, SizeCase{R"({"defined": {"name": "Missing"}})", 0},
        SizeCase{R"({"defined": {"name": "Pair", "generics": [{"kind": "type", "type": "u8"}]}})", 0},
        SizeCase{R"({"array": [{"defined": {"name": "Pair"}}, 3]})", 27}));

// Every IDL of the shared fixtures: the plan's indices stay in range, and a
// reference resolves exactly when the registry knows its name.
TEST(DecodePlan, FixtureIdlsCompileWithEveryReferenceChecked) {
  const fs::path folder = fs::path(VARKEL_FIXTURES) / "idl" / "current";
  if (!fs::is_directory(folder)) GTEST_SKIP() << "fixtures not available: " << folder;
  std::size_t checked = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".json") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    Result<idl::Idl> idl = idl::load_idl(text.str());
    if (!idl) continue;  // refused documents are the reader's tests
    Result<EventRegistry> registry = build_registry(*idl);
    if (!registry) continue;
    const DecodePlan plan = build_plan(*registry);
    const std::string where = entry.path().filename().string();
    ASSERT_EQ(plan.events.size(), registry->events.size()) << where;
    for (const PlanField& field : plan.fields) {
      ASSERT_LT(field.type, plan.nodes.size()) << where;
      if (field.key != kNoIndex) {
        ASSERT_LT(field.key, plan.keys.size()) << where;
      }
    }
    for (const PlanNode& node : plan.nodes) {
      if (node.kind == Kind::Option || node.kind == Kind::Vec || node.kind == Kind::Array) {
        ASSERT_LT(node.child, plan.nodes.size()) << where;
      }
      if (node.kind == Kind::Defined && !node.generic_args) {
        const bool known = registry->find_type(plan.texts[node.text]) != nullptr;
        ASSERT_EQ(node.child != kNoIndex, known) << where << ": " << plan.texts[node.text];
        if (known) {
          ASSERT_LT(node.child, plan.definitions.size()) << where;
        }
        ++checked;
      }
    }
    std::vector<std::string> sorted = plan.keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << where << ": a key twice";
  }
  EXPECT_GT(checked, 50u);
}

}  // namespace
}  // namespace varkel::decode
