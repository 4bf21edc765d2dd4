// Tests of reading legacy IDL documents into the legacy records: root shapes,
// absent versus refused nulls, positional forms, the untagged and tagged
// enumerations with their exact messages, and the records produced.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "idl/legacy_reader.h"
#include "idl/load.h"
#include "idl/reader_rows.h"
#include "json/json.h"

namespace varkel::idl {
namespace {

// A minimal legacy document with `extra` members appended to the root (the
// last occurrence of a key wins, so `extra` may replace the defaults).
std::string doc(const std::string& extra = "") {
  std::string text = R"({"version":"0.1.0","name":"p","instructions":[])";
  if (!extra.empty()) text += "," + extra;
  return text + "}";
}

std::string with_types(const std::string& types) {
  return doc(R"("types":)" + types);
}
std::string with_body(const std::string& body) {
  return with_types(R"([{"name":"T","type":)" + body + "}]");
}
std::string with_variant_fields(const std::string& fields) {
  return with_body(R"({"kind":"enum","variants":[{"name":"V","fields":)" + fields + "}]}");
}
std::string with_arg_type(const std::string& type) {
  return doc(R"("instructions":[{"name":"ix","accounts":[],"args":[{"name":"a","type":)" + type + "}]}]");
}
std::string with_accounts(const std::string& accounts) {
  return doc(R"("instructions":[{"name":"ix","accounts":)" + accounts + R"(,"args":[]}])");
}
std::string with_seed(const std::string& seed) {
  return with_accounts(R"([{"name":"a","isMut":false,"isSigner":false,"pda":{"seeds":[)" + seed + "]}}]");
}

Result<legacy::Idl> read(std::string_view text) {
  Result<json::Value> root = json::parse(text);
  if (!root) return fail("parse: " + root.error().message);
  return read_legacy_idl(*root);
}

using testing::Row;

legacy::Idl read_ok(std::string_view text) {
  return testing::read_ok(read, text);
}
void check_rows(const std::vector<Row>& rows) {
  testing::check_rows(read, rows);
}

const std::string kTypeChoices =
    "`bool`, `u8`, `i8`, `u16`, `i16`, `u32`, `i32`, `f32`, `u64`, `i64`, `f64`, `u128`, `i128`, `u256`, "
    "`i256`, `bytes`, `string`, `publicKey`, `defined`, `option`, `vec`, `array`, `genericLenArray`, "
    "`generic`, `definedWithTypeArgs`";
const std::string kAccountItem = "data did not match any variant of untagged enum IdlAccountItem";
const std::string kEnumFields = "data did not match any variant of untagged enum EnumFields";

TEST(LegacyReaderRoot, ShapesAndRequiredKeys) {
  check_rows({
      {"integer root", "42", "invalid type: integer `42`, expected struct Idl"},
      {"null root", "null", "invalid type: null, expected struct Idl"},
      {"empty array root", "[]", "invalid length 0, expected struct Idl with 10 elements"},
      {"empty object root", "{}", "missing field `version`"},
      {"positional, short", R"(["0.1.0", "p"])", "invalid length 4, expected struct Idl with 10 elements"},
      {"positional, instructions given", R"(["0.1.0", "p", null, [], []])", "ok"},
      {"positional, all ten", R"(["0.1.0", "p", null, [], [], [], [], null, null, {"address": "x"}])", "ok"},
      {"positional, eleven", R"(["0.1.0", "p", null, [], [], [], [], null, null, null, 1])",
       "invalid length 11, expected fewer elements in array"},
      {"minimal", doc(), "ok"},
      {"no name", R"({"version":"1","instructions":[]})", "missing field `name`"},
      {"no instructions", R"({"version":"1","name":"p"})", "missing field `instructions`"},
      {"current-looking document",
       R"({"address": "x", "metadata": {"name": "p", "version": "1"}, "instructions": []})",
       "missing field `version`"},
      {"version not a string", doc(R"("version": 1)"), "invalid type: integer `1`, expected a string"},
      {"top-level address ignored", doc(R"("address": 5)"), "ok"},
      {"unknown keys ignored", doc(R"("whatever": {"deep": [1, 2]})"), "ok"},
      // Keys are visited in byte order: `accounts` sorts before `types`.
      {"first faulty key in byte order", doc(R"("types": 1, "accounts": 2)"),
       "invalid type: integer `2`, expected a sequence"},
  });
}

TEST(LegacyReaderRoot, NullsAbsentOrRefused) {
  check_rows({
      {"events null", doc(R"("events": null)"), "ok"},
      {"errors null", doc(R"("errors": null)"), "ok"},
      {"docs null", doc(R"("docs": null)"), "ok"},
      {"metadata null", doc(R"("metadata": null)"), "ok"},
      {"accounts null", doc(R"("accounts": null)"), "invalid type: null, expected a sequence"},
      {"types null", doc(R"("types": null)"), "invalid type: null, expected a sequence"},
      {"constants null", doc(R"("constants": null)"), "invalid type: null, expected a sequence"},
      {"instructions null", doc(R"("instructions": null)"), "invalid type: null, expected a sequence"},
      {"metadata any value", doc(R"("metadata": [1, "two", {"three": 3}])"), "ok"},
      {"metadata a string", doc(R"("metadata": "m")"), "ok"},
  });
  legacy::Idl absent = read_ok(doc(R"("events": null, "errors": null, "docs": null, "metadata": null)"));
  EXPECT_FALSE(absent.events.has_value());
  EXPECT_FALSE(absent.errors.has_value());
  EXPECT_FALSE(absent.docs.has_value());
  EXPECT_FALSE(absent.metadata.has_value());
  legacy::Idl empty = read_ok(doc(R"("events": [], "errors": [], "docs": [], "metadata": {})"));
  ASSERT_TRUE(empty.events.has_value());
  EXPECT_TRUE(empty.events->empty());
  ASSERT_TRUE(empty.errors.has_value());
  ASSERT_TRUE(empty.docs.has_value());
  ASSERT_TRUE(empty.metadata.has_value());
  EXPECT_TRUE(empty.metadata->is_object());
}

TEST(LegacyReaderRecords, ScalarsAndRecordNames) {
  check_rows({
      {"instruction not a record", doc(R"("instructions": [5])"),
       "invalid type: integer `5`, expected struct IdlInstruction"},
      {"instruction without args", doc(R"("instructions": [{"name": "ix", "accounts": []}])"),
       "missing field `args`"},
      {"instruction positional", doc(R"("instructions": [["ix", null, [], []]])"),
       "invalid length 4, expected struct IdlInstruction with 5 elements"},
      {"const not a record", doc(R"("constants": [true])"),
       "invalid type: boolean `true`, expected struct IdlConst"},
      {"const value not a string", doc(R"("constants": [{"name": "C", "type": "u8", "value": 5}])"),
       "invalid type: integer `5`, expected a string"},
      {"error code float", doc(R"("errors": [{"code": 6000.0, "name": "E"}])"),
       "invalid type: floating point `6000.0`, expected u32"},
      {"error code negative", doc(R"("errors": [{"code": -1, "name": "E"}])"),
       "invalid value: integer `-1`, expected u32"},
      {"error code too large", doc(R"("errors": [{"code": 4294967296, "name": "E"}])"),
       "invalid value: integer `4294967296`, expected u32"},
      {"error code largest", doc(R"("errors": [{"code": 4294967295, "name": "E"}])"), "ok"},
      {"error positional, msg defaults", doc(R"("errors": [[6000, "E"]])"), "ok"},
      {"error positional, too short", doc(R"("errors": [[6000]])"),
       "invalid length 1, expected struct IdlErrorCode with 3 elements"},
      {"event not a record", doc(R"("events": ["E"])"),
       R"(invalid type: string "E", expected struct IdlEvent)"},
      {"event without fields", doc(R"("events": [{"name": "E"}])"), "missing field `fields`"},
      {"event field without index",
       doc(R"("events": [{"name": "E", "fields": [{"name": "a", "type": "u8"}]}])"), "missing field `index`"},
      {"event field index null",
       doc(R"("events": [{"name": "E", "fields": [{"name": "a", "type": "u8", "index": null}]}])"),
       "invalid type: null, expected a boolean"},
      {"event field not a record", doc(R"("events": [{"name": "E", "fields": [1]}])"),
       "invalid type: integer `1`, expected struct IdlEventField"},
      {"type definition not a record", with_types("[1]"),
       "invalid type: integer `1`, expected struct IdlTypeDefinition"},
      {"type definition positional", with_types(R"([["T", null, null]])"),
       "invalid length 3, expected struct IdlTypeDefinition with 4 elements"},
      {"generics listed",
       with_types(R"([{"name": "T", "generics": ["A", "N"], "type": {"kind": "struct", "fields": []}}])"),
       "ok"},
      {"field not a record", with_body(R"({"kind": "struct", "fields": [1]})"),
       "invalid type: integer `1`, expected struct IdlField"},
      {"field positional needs docs", with_body(R"({"kind": "struct", "fields": [["a"]]})"),
       "invalid length 1, expected struct IdlField with 3 elements"},
  });
}

TEST(LegacyReaderTypeDefs, BodiesAndEnumFields) {
  check_rows({
      {"struct body", with_body(R"({"kind": "struct", "fields": [{"name": "a", "type": "u8"}]})"), "ok"},
      {"struct without fields", with_body(R"({"kind": "struct"})"), "missing field `fields`"},
      // A struct body is not an alternative: the field's own message surfaces.
      {"struct field without type", with_body(R"({"kind": "struct", "fields": [{"name": "a"}]})"),
       "missing field `type`"},
      {"alias body", with_body(R"({"kind": "alias", "value": {"vec": "u8"}})"), "ok"},
      {"alias without value", with_body(R"({"kind": "alias"})"), "missing field `value`"},
      {"current body tag", with_body(R"({"kind": "type", "alias": "u8"})"),
       "unknown variant `type`, expected one of `struct`, `enum`, `alias`"},
      {"no kind", with_body(R"({"fields": []})"), "missing field `kind`"},
      {"body not an object", with_body("5"),
       "invalid type: integer `5`, expected internally tagged enum IdlTypeDefinitionTy"},
      {"integer tag outside alternatives", with_body(R"({"kind": 0, "fields": []})"),
       "invalid type: integer `0`, expected variant identifier"},
      {"positional body", with_body(R"(["enum"])"),
       "invalid length 0, expected struct variant IdlTypeDefinitionTy::Enum with 1 element"},
      {"enum without variants", with_body(R"({"kind": "enum"})"), "missing field `variants`"},
      {"unit variant",
       with_body(R"({"kind": "enum", "variants": [{"name": "A"}, {"name": "B", "fields": null}]})"), "ok"},
      {"variant positional, fields default", with_body(R"({"kind": "enum", "variants": [["A"]]})"), "ok"},
      {"empty variant fields", with_variant_fields("[]"), "ok"},
      {"named variant fields", with_variant_fields(R"([{"name": "x", "type": "u8"}])"), "ok"},
      {"tuple variant fields", with_variant_fields(R"(["u8", "bool"])"), "ok"},
      {"variant field without type", with_variant_fields(R"([{"name": "x"}])"), kEnumFields},
      {"variant fields not a list", with_variant_fields(R"({"name": "x"})"), kEnumFields},
      {"variant fields unknown type", with_variant_fields(R"(["u7"])"), kEnumFields},
  });

  legacy::Idl idl = read_ok(with_body(
      R"({"kind": "enum", "variants": [{"name": "U"}, {"name": "E", "fields": []}, {"name": "T", "fields": ["u8", "bool"]},
          {"name": "N", "fields": [{"name": "x", "docs": ["d"], "type": "u8"}]}]})"));
  ASSERT_EQ(idl.types.size(), 1u);
  const auto& variants = std::get<legacy::IdlTypeDefinitionTy::Enum>(idl.types[0].type.value).variants;
  ASSERT_EQ(variants.size(), 4u);
  EXPECT_FALSE(variants[0].fields.has_value());
  ASSERT_TRUE(variants[1].fields.has_value());
  EXPECT_TRUE(std::get<legacy::EnumFields::Named>(variants[1].fields->value).empty());
  const auto& tuple = std::get<legacy::EnumFields::Tuple>(variants[2].fields->value);
  ASSERT_EQ(tuple.size(), 2u);
  EXPECT_EQ(tuple[0].kind, legacy::IdlType::Kind::U8);
  EXPECT_EQ(tuple[1].kind, legacy::IdlType::Kind::Bool);
  const auto& named = std::get<legacy::EnumFields::Named>(variants[3].fields->value);
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].name, "x");
  EXPECT_EQ(named[0].docs, (legacy::Docs{"d"}));
}

TEST(LegacyReaderAccounts, ItemAlternativesAndSeeds) {
  check_rows({
      {"single account", with_accounts(R"([{"name": "payer", "isMut": true, "isSigner": true}])"), "ok"},
      {"single account with accounts key",
       with_accounts(R"([{"name": "payer", "isMut": true, "isSigner": true, "accounts": []}])"), "ok"},
      {"group", with_accounts(R"([{"name": "group", "accounts": []}])"), "ok"},
      {"nested groups",
       with_accounts(
           R"([{"name": "g", "accounts": [{"name": "h", "accounts": [{"name": "a", "isMut": false, "isSigner": false}]}]}])"),
       "ok"},
      {"neither", with_accounts(R"([{"name": "x"}])"), kAccountItem},
      {"isMut not a boolean", with_accounts(R"([{"name": "x", "isMut": 1, "isSigner": true}])"),
       kAccountItem},
      {"bad entry in group", with_accounts(R"([{"name": "g", "accounts": [{"name": "x"}]}])"), kAccountItem},
      {"isOptional null",
       with_accounts(R"([{"name": "x", "isMut": false, "isSigner": false, "isOptional": null}])"), "ok"},
      {"relations null",
       with_accounts(R"([{"name": "x", "isMut": false, "isSigner": false, "relations": null}])"),
       kAccountItem},
      {"positional account", with_accounts(R"([["x", true, false, null, null]])"), "ok"},
      {"positional account too short", with_accounts(R"([["x", true, false, null]])"), kAccountItem},
      {"const string seed", with_seed(R"({"kind": "const", "type": "string", "value": "abc"})"), "ok"},
      {"const seed null value", with_seed(R"({"kind": "const", "type": "u8", "value": null})"), "ok"},
      {"const seed without value", with_seed(R"({"kind": "const", "type": "u8"})"), kAccountItem},
      {"arg seed", with_seed(R"({"kind": "arg", "type": "u64", "path": "amount"})"), "ok"},
      {"account seed",
       with_seed(R"({"kind": "account", "type": "publicKey", "account": "Market", "path": "market"})"), "ok"},
      {"account seed without account",
       with_seed(R"({"kind": "account", "type": "publicKey", "path": "market"})"), "ok"},
      {"seed tag constant", with_seed(R"({"kind": "constant", "type": "string", "value": "abc"})"),
       kAccountItem},
      {"seed without type", with_seed(R"({"kind": "arg", "path": "amount"})"), kAccountItem},
      {"seed integer tag", with_seed(R"({"kind": 1, "type": "u64", "path": "amount"})"), "ok"},
      {"seed integer tag too large", with_seed(R"({"kind": 3, "type": "u64", "path": "amount"})"),
       kAccountItem},
      {"programId", with_accounts(R"([{"name": "a", "isMut": false, "isSigner": false, "pda": {"seeds": [],
          "programId": {"kind": "const", "type": "publicKey", "value": [1, 2]}}}])"),
       "ok"},
  });

  legacy::Idl idl = read_ok(with_accounts(
      R"([{"name": "payer", "isMut": true, "isSigner": true, "accounts": [], "relations": ["owner"],
           "pda": {"seeds": [{"kind": "const", "type": "string", "value": "abc"},
                             {"kind": 2, "type": "publicKey", "path": "mint"}]}},
          {"name": "group", "accounts": [{"name": "inner", "isMut": false, "isSigner": false, "isOptional": true}]},
          {"name": "plain", "isMut": false, "isSigner": false, "isOptional": null}])"));
  const auto& items = idl.instructions.at(0).accounts;
  ASSERT_EQ(items.size(), 3u);
  const auto& payer = std::get<legacy::IdlAccount>(items[0].value);
  EXPECT_TRUE(payer.is_mut);
  EXPECT_TRUE(payer.is_signer);
  EXPECT_FALSE(payer.is_optional.has_value());
  EXPECT_EQ(payer.relations, (std::vector<std::string>{"owner"}));
  ASSERT_TRUE(payer.pda.has_value());
  ASSERT_EQ(payer.pda->seeds.size(), 2u);
  const auto& constant = std::get<legacy::IdlSeed::Const>(payer.pda->seeds[0].value);
  EXPECT_EQ(constant.type.kind, legacy::IdlType::Kind::String);
  EXPECT_EQ(json::to_compact(constant.value), R"("abc")");
  const auto& account_seed = std::get<legacy::IdlSeed::Account>(payer.pda->seeds[1].value);
  EXPECT_EQ(account_seed.path, "mint");
  EXPECT_FALSE(account_seed.account.has_value());
  EXPECT_FALSE(payer.pda->program_id.has_value());
  const auto& group = std::get<legacy::IdlAccounts>(items[1].value);
  EXPECT_EQ(group.name, "group");
  ASSERT_EQ(group.accounts.size(), 1u);
  EXPECT_EQ(std::get<legacy::IdlAccount>(group.accounts[0].value).is_optional, std::optional<bool>(true));
  EXPECT_FALSE(std::get<legacy::IdlAccount>(items[2].value).is_optional.has_value());
}

TEST(LegacyReaderTypes, NamesPayloadsAndMessages) {
  check_rows({
      {"publicKey", with_arg_type(R"("publicKey")"), "ok"},
      {"pubkey", with_arg_type(R"("pubkey")"), "unknown variant `pubkey`, expected one of " + kTypeChoices},
      {"unknown object key", with_arg_type(R"({"coption": "u8"})"),
       "unknown variant `coption`, expected one of " + kTypeChoices},
      {"defined string", with_arg_type(R"({"defined": "Order"})"), "ok"},
      {"defined current form", with_arg_type(R"({"defined": {"name": "Order"}})"),
       "invalid type: map, expected a string"},
      {"defined bare", with_arg_type(R"("defined")"), "invalid type: unit variant, expected newtype variant"},
      {"option", with_arg_type(R"({"option": {"vec": {"defined": "Order"}}})"), "ok"},
      {"unit with null payload", with_arg_type(R"({"u8": null})"), "ok"},
      {"unit with payload", with_arg_type(R"({"u8": 1})"), "invalid type: integer `1`, expected unit"},
      {"two keys", with_arg_type(R"({"vec": "u8", "option": "u8"})"),
       "invalid value: map, expected map with a single key"},
      {"number", with_arg_type("7"), "invalid type: integer `7`, expected string or map"},
      {"array", with_arg_type(R"({"array": ["u8", 32]})"), "ok"},
      {"array generic length", with_arg_type(R"({"array": ["u8", "N"]})"),
       R"(invalid type: string "N", expected usize)"},
      {"array negative length", with_arg_type(R"({"array": ["u8", -1]})"),
       "invalid value: integer `-1`, expected usize"},
      {"array empty", with_arg_type(R"({"array": []})"),
       "invalid type: null, expected tuple variant IdlType::Array"},
      {"array one element", with_arg_type(R"({"array": ["u8"]})"),
       "invalid length 1, expected tuple variant IdlType::Array with 2 elements"},
      {"array three elements", with_arg_type(R"({"array": ["u8", 1, 2]})"),
       "invalid length 3, expected fewer elements in array"},
      {"array not a list", with_arg_type(R"({"array": "u8"})"),
       R"(invalid type: string "u8", expected tuple variant)"},
      {"genericLenArray", with_arg_type(R"({"genericLenArray": ["u8", "N"]})"), "ok"},
      {"genericLenArray numeric", with_arg_type(R"({"genericLenArray": ["u8", 4]})"),
       "invalid type: integer `4`, expected a string"},
      {"genericLenArray one element", with_arg_type(R"({"genericLenArray": ["u8"]})"),
       "invalid length 1, expected tuple variant IdlType::GenericLenArray with 2 elements"},
      {"genericLenArray empty", with_arg_type(R"({"genericLenArray": []})"),
       "invalid type: null, expected tuple variant IdlType::GenericLenArray"},
      {"generic", with_arg_type(R"({"generic": "T"})"), "ok"},
      {"definedWithTypeArgs",
       with_arg_type(
           R"({"definedWithTypeArgs": {"name": "Pair", "args": [{"generic": "T"}, {"value": "4"}, {"type": "publicKey"}]}})"),
       "ok"},
      {"definedWithTypeArgs without args", with_arg_type(R"({"definedWithTypeArgs": {"name": "Pair"}})"),
       "missing field `args`"},
      {"definedWithTypeArgs positional outside", with_arg_type(R"({"definedWithTypeArgs": ["Pair", []]})"),
       "invalid type: sequence, expected struct variant"},
      {"definedWithTypeArgs positional inside",
       with_variant_fields(R"([{"definedWithTypeArgs": ["Pair", []]}])"), "ok"},
      {"definedWithTypeArgs short inside",
       with_body(R"({"kind": "alias", "value": {"definedWithTypeArgs": ["Pair"]}})"),
       "invalid length 1, expected struct variant IdlType::DefinedWithTypeArgs with 2 elements"},
      {"type arg unknown",
       with_arg_type(R"({"definedWithTypeArgs": {"name": "P", "args": [{"const": "4"}]}})"),
       "unknown variant `const`, expected one of `generic`, `value`, `type`"},
      {"type arg value not a string",
       with_arg_type(R"({"definedWithTypeArgs": {"name": "P", "args": [{"value": 4}]}})"),
       "invalid type: integer `4`, expected a string"},
  });

  legacy::Idl idl = read_ok(with_arg_type(
      R"({"vec": {"option": {"definedWithTypeArgs": {"name": "Pair", "args": [{"generic": "T"}, {"value": "4"},
          {"type": {"array": ["publicKey", 2]}}]}}}})"));
  const legacy::IdlType& type = idl.instructions.at(0).args.at(0).type;
  ASSERT_EQ(type.kind, legacy::IdlType::Kind::Vec);
  ASSERT_EQ(type.inner().kind, legacy::IdlType::Kind::Option);
  const legacy::IdlType& defined = type.inner().inner();
  ASSERT_EQ(defined.kind, legacy::IdlType::Kind::DefinedWithTypeArgs);
  EXPECT_EQ(defined.defined_with_type_args().name, "Pair");
  const auto& args = defined.defined_with_type_args().args;
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(std::get<legacy::IdlDefinedTypeArg::Generic>(args[0].value).name, "T");
  EXPECT_EQ(std::get<legacy::IdlDefinedTypeArg::Value>(args[1].value).value, "4");
  const legacy::IdlType& array = *std::get<legacy::IdlDefinedTypeArg::Type>(args[2].value).type;
  ASSERT_EQ(array.kind, legacy::IdlType::Kind::Array);
  EXPECT_EQ(array.array().element->kind, legacy::IdlType::Kind::PublicKey);
  EXPECT_EQ(array.array().size, 2u);
}

TEST(LegacyReaderModel, TablesInDocumentOrder) {
  legacy::Idl idl = read_ok(R"({
    "version": "1.2.3", "name": "prog", "docs": ["top"],
    "constants": [{"name": "SEED", "type": "string", "value": "\"x\""}],
    "instructions": [{"name": "doIt", "docs": ["d"], "accounts": [], "args": [{"name": "amount", "type": "u64"}],
                      "returns": {"option": "u8"}}],
    "accounts": [{"name": "Market", "type": {"kind": "struct", "fields": []}}],
    "types": [{"name": "Side", "generics": ["T"], "type": {"kind": "alias", "value": {"genericLenArray": ["u8", "N"]}}}],
    "events": [{"name": "TradeEvent", "fields": [{"name": "userKey", "type": "publicKey", "index": true}]}],
    "errors": [{"code": 6000, "name": "Bad", "msg": "bad"}, {"code": 6001, "name": "Worse"}],
    "metadata": {"address": "Prog1"}
  })");
  EXPECT_EQ(idl.version, "1.2.3");
  EXPECT_EQ(idl.name, "prog");
  EXPECT_EQ(idl.docs, std::optional<legacy::Docs>(legacy::Docs{"top"}));
  ASSERT_EQ(idl.constants.size(), 1u);
  EXPECT_EQ(idl.constants[0].value, "\"x\"");
  EXPECT_EQ(idl.constants[0].type.kind, legacy::IdlType::Kind::String);
  ASSERT_EQ(idl.instructions.size(), 1u);
  EXPECT_EQ(idl.instructions[0].name, "doIt");
  ASSERT_TRUE(idl.instructions[0].returns.has_value());
  EXPECT_EQ(idl.instructions[0].returns->kind, legacy::IdlType::Kind::Option);
  ASSERT_EQ(idl.accounts.size(), 1u);
  EXPECT_TRUE(std::get<legacy::IdlTypeDefinitionTy::Struct>(idl.accounts[0].type.value).fields.empty());
  ASSERT_EQ(idl.types.size(), 1u);
  EXPECT_EQ(idl.types[0].generics, std::optional<std::vector<std::string>>(std::vector<std::string>{"T"}));
  const auto& alias = std::get<legacy::IdlTypeDefinitionTy::Alias>(idl.types[0].type.value).value;
  ASSERT_EQ(alias.kind, legacy::IdlType::Kind::GenericLenArray);
  EXPECT_EQ(alias.generic_len_array().name, "N");
  ASSERT_TRUE(idl.events.has_value());
  ASSERT_EQ(idl.events->size(), 1u);
  EXPECT_EQ((*idl.events)[0].fields.at(0).name, "userKey");
  EXPECT_TRUE((*idl.events)[0].fields.at(0).index);
  ASSERT_TRUE(idl.errors.has_value());
  ASSERT_EQ(idl.errors->size(), 2u);
  EXPECT_EQ((*idl.errors)[0].msg, std::optional<std::string>("bad"));
  EXPECT_FALSE((*idl.errors)[1].msg.has_value());
  ASSERT_TRUE(idl.metadata.has_value());
  EXPECT_EQ(json::to_compact(*idl.metadata), R"({"address":"Prog1"})");
}

TEST(LegacyReaderLoad, LoaderSendsUnversionedDocumentsHere) {
  // Through load_idl: reading messages reach the caller unchanged.
  EXPECT_EQ(load_idl("42").error(), "invalid type: integer `42`, expected struct Idl");
  EXPECT_EQ(load_idl(R"({"metadata": {"spec": 1}})").error(), "missing field `version`");
  EXPECT_EQ(load_idl(with_arg_type(R"("pubkey")")).error(),
            "unknown variant `pubkey`, expected one of " + kTypeChoices);
}

}  // namespace
}  // namespace varkel::idl
