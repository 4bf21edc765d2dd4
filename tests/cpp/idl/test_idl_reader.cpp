// Tests of reading current-format IDL documents: format dispatch, the record,
// scalar and enumeration readers with their exact messages, and the model
// they produce.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "idl/current_reader.h"
#include "idl/load.h"
#include "idl/reader_rows.h"
#include "json/json.h"

namespace varkel::idl {
namespace {

// What the legacy road answers for documents that lack its required root keys.
const char kLegacyMessage[] = "missing field `version`";

// A minimal valid document with `extra` members appended to the root; since
// the last occurrence of a key wins, `extra` may also replace the defaults.
std::string doc(const std::string& extra = "") {
  std::string text =
      R"({"address":"Prog1111","metadata":{"name":"p","version":"1","spec":"0.1.0"},"instructions":[])";
  if (!extra.empty()) text += "," + extra;
  return text + "}";
}

// A document with one type definition whose body is `body`.
std::string with_body(const std::string& body) {
  return doc(R"("types":[{"name":"T","type":)" + body + "}]");
}

// A document with one instruction whose single argument has type `type`.
std::string with_arg_type(const std::string& type) {
  return doc(R"("instructions":[{"name":"ix","discriminator":[1],"accounts":[],"args":[{"name":"a","type":)" +
             type + "}]}]");
}

// A document with one instruction whose account list is `accounts`.
std::string with_accounts(const std::string& accounts) {
  return doc(R"("instructions":[{"name":"ix","discriminator":[],"accounts":)" + accounts + R"(,"args":[]}])");
}

// A type alias `T = type`: the type is read below a tagged value.
std::string with_alias(const std::string& type) {
  return with_body(R"({"kind":"type","alias":)" + type + "}");
}

using testing::Row;

Idl load_ok(std::string_view text) {
  return testing::read_ok(load_idl, text);
}
void check_rows(const std::vector<Row>& rows) {
  testing::check_rows(load_idl, rows);
}

const std::string kTypeChoices =
    "`bool`, `u8`, `i8`, `u16`, `i16`, `u32`, `i32`, `f32`, `u64`, `i64`, `f64`, `u128`, `i128`, `u256`, "
    "`i256`, `bytes`, `string`, `pubkey`, `option`, `vec`, `array`, `defined`, `generic`";

TEST(IdlReaderLoad, DispatchAndParseFailures) {
  check_rows({
      {"empty text", "", "EOF while parsing a value at line 1 column 0"},
      {"second value", doc() + " {}",
       "trailing characters at line 1 column " + std::to_string(doc().size() + 2)},
      {"other spec", R"({"metadata": {"spec": "0.2.0"}})", "IDL spec not supported: `0.2.0`"},
      {"spec with blank", R"({"metadata": {"spec": " 0.1.0"}})", "IDL spec not supported: ` 0.1.0`"},
      {"empty spec", R"({"metadata": {"spec": ""}})", "IDL spec not supported: ``"},
      {"numeric spec", R"({"metadata": {"spec": 1}})", kLegacyMessage},
      {"null spec", R"({"metadata": {"spec": null}})", kLegacyMessage},
      {"no spec", R"({"metadata": {"name": "x"}})", kLegacyMessage},
      {"metadata not an object", R"({"metadata": ["0.1.0"]})", kLegacyMessage},
      {"no metadata", R"({"version": "0.1.0", "name": "p", "instructions": []})",
       "Program id missing in `idl.metadata.address` field"},
      {"root not an object", "42", "invalid type: integer `42`, expected struct Idl"},
      {"root an array", "[]", "invalid length 0, expected struct Idl with 10 elements"},
  });
}

TEST(IdlReaderRecords, RootFieldsAndKeyOrder) {
  const std::string meta = R"({"metadata":{"name":"x","version":"1","spec":"0.1.0"})";
  check_rows({
      {"only metadata", meta + "}", "missing field `address`"},
      {"no instructions", meta + R"(,"address":"A"})", "missing field `instructions`"},
      {"minimal", meta + R"(,"address":"A","instructions":[]})", "ok"},
      {"bad address before bad types", doc(R"("address":5,"types":7)"),
       "invalid type: integer `5`, expected a string"},
      {"bad metadata before missing address", R"({"metadata":{"name":1,"spec":"0.1.0"},"instructions":[]})",
       "invalid type: integer `1`, expected a string"},
      {"metadata missing version",
       R"({"metadata":{"name":"x","spec":"0.1.0"},"address":"A","instructions":[]})",
       "missing field `version`"},
      {"duplicate key, last wins", doc(R"("address":5,"address":"B")"), "ok"},
      {"duplicate key, last bad", doc(R"("address":"B","address":5)"),
       "invalid type: integer `5`, expected a string"},
      {"unknown keys ignored",
       doc(R"("version":5,"zzz":{"deep":[1,2]},"metadata":{"name":"p","version":"1",)"
           R"("spec":"0.1.0","bogus":null})"),
       "ok"},
      {"null list", doc(R"("docs":null)"), "invalid type: null, expected a sequence"},
      {"null required", doc(R"("address":null)"), "invalid type: null, expected a string"},
      {"null optional",
       doc(R"("metadata":{"name":"p","version":"1","spec":"0.1.0","description":null,)"
           R"("deployments":null})"),
       "ok"},
      {"list not array", doc(R"("events":{})"), "invalid type: map, expected a sequence"},
      {"record not object", doc(R"("events":[5])"), "invalid type: integer `5`, expected struct IdlEvent"},
      {"record a string", doc(R"("errors":["E"])"),
       "invalid type: string \"E\", expected struct IdlErrorCode"},
      {"event missing discriminator", doc(R"("events":[{"name":"E"}])"), "missing field `discriminator`"},
      {"account flag not a boolean",
       doc(R"("instructions":[{"name":"ix","discriminator":[],"args":[],"accounts":[{"name":"a",)"
           R"("writable":1}]}])"),
       "data did not match any variant of untagged enum IdlInstructionAccountItem"},
  });
}

TEST(IdlReaderScalars, IntegersAndFloats) {
  auto event = [](const std::string& disc) {
    return doc(R"("events":[{"name":"E","discriminator":)" + disc + "}]");
  };
  auto error = [](const std::string& code) { return doc(R"("errors":[{"name":"E","code":)" + code + "}]"); };
  check_rows({
      {"u8 max", event("[0,255]"), "ok"},
      {"u8 over", event("[256]"), "invalid value: integer `256`, expected u8"},
      {"u8 negative", event("[-1]"), "invalid value: integer `-1`, expected u8"},
      {"u8 float", event("[1.0]"), "invalid type: floating point `1.0`, expected u8"},
      {"u8 fraction", event("[1.5]"), "invalid type: floating point `1.5`, expected u8"},
      {"u8 string", event(R"(["1"])"), "invalid type: string \"1\", expected u8"},
      {"u8 bool", event("[true]"), "invalid type: boolean `true`, expected u8"},
      {"u8 null", event("[null]"), "invalid type: null, expected u8"},
      {"discriminator not list", event("\"abc\""), "invalid type: string \"abc\", expected a sequence"},
      {"u32 max", error("4294967295"), "ok"},
      {"u32 negative", error("-1"), "invalid value: integer `-1`, expected u32"},
      {"u32 over", error("4294967296"), "invalid value: integer `4294967296`, expected u32"},
      {"u32 exponent", error("1e3"), "invalid type: floating point `1000.0`, expected u32"},
      {"usize max", with_body(R"({"kind":"struct"},"repr":{"kind":"c","align":18446744073709551615})"), "ok"},
      {"usize negative", with_body(R"({"kind":"struct"},"repr":{"kind":"c","align":-8})"),
       "invalid value: integer `-8`, expected usize"},
      {"usize out of range",
       with_body(R"({"kind":"struct"},"repr":{"kind":"c","align":18446744073709551616})"),
       "invalid type: floating point `18446744073709551616.0`, expected usize"},
      {"boolean", with_body(R"({"kind":"struct"},"repr":{"kind":"rust","packed":"yes"})"),
       "invalid type: string \"yes\", expected a boolean"},
      {"sequence found", doc(R"("address":["a"])"), "invalid type: sequence, expected a string"},
      {"string found escaped", event(R"(["a\"b\\c"])"), R"(invalid type: string "a\"b\\c", expected u8)"},
  });
}

TEST(IdlReaderTypes, NameOrSingleKey) {
  check_rows({
      {"unknown in args", with_arg_type(R"("u7")"), "unknown variant `u7`, expected one of " + kTypeChoices},
      {"unknown key in args", with_arg_type(R"({"u7":null})"),
       "unknown variant `u7`, expected one of " + kTypeChoices},
      {"unknown in struct fields", with_body(R"({"kind":"struct","fields":[{"name":"a","type":"u7"}]})"),
       "data did not match any variant of untagged enum IdlDefinedFields"},
      {"unknown in alias", with_alias(R"("u7")"), "unknown variant `u7`, expected one of " + kTypeChoices},
      {"legacy key name", with_arg_type(R"("publicKey")"),
       "unknown variant `publicKey`, expected one of " + kTypeChoices},
      {"unit as object", with_arg_type(R"({"u8":null})"), "ok"},
      {"unit with payload", with_arg_type(R"({"u8":1})"), "invalid type: integer `1`, expected unit"},
      {"neither string nor map", with_arg_type("5"), "invalid type: integer `5`, expected string or map"},
      {"null type", with_arg_type("null"), "invalid type: null, expected string or map"},
      {"array type", with_arg_type(R"(["u8"])"), "invalid type: sequence, expected string or map"},
      {"empty map", with_arg_type("{}"), "invalid value: map, expected map with a single key"},
      {"two keys", with_arg_type(R"({"u8":null,"u16":null})"),
       "invalid value: map, expected map with a single key"},
      {"bare option", with_arg_type(R"("option")"), "invalid type: unit variant, expected newtype variant"},
      {"bare vec", with_arg_type(R"("vec")"), "invalid type: unit variant, expected newtype variant"},
      {"bare generic", with_arg_type(R"("generic")"), "invalid type: unit variant, expected newtype variant"},
      {"bare array", with_arg_type(R"("array")"), "invalid type: unit variant, expected tuple variant"},
      {"bare defined", with_arg_type(R"("defined")"), "invalid type: unit variant, expected struct variant"},
      {"option of null", with_arg_type(R"({"option":null})"), "invalid type: null, expected string or map"},
      {"generic not string", with_arg_type(R"({"generic":1})"),
       "invalid type: integer `1`, expected a string"},
      {"nested", with_arg_type(R"({"option":{"vec":{"array":[{"option":"pubkey"},4]}}})"), "ok"},
      {"array", with_arg_type(R"({"array":["u8",32]})"), "ok"},
      {"array generic length", with_arg_type(R"({"array":["u8",{"generic":"N"}]})"), "ok"},
      {"array negative length", with_arg_type(R"({"array":["u8",-1]})"),
       "data did not match any variant of untagged enum IdlArrayLen"},
      {"array float length", with_arg_type(R"({"array":["u8",2.0]})"),
       "data did not match any variant of untagged enum IdlArrayLen"},
      {"array string length", with_arg_type(R"({"array":["u8","N"]})"),
       "data did not match any variant of untagged enum IdlArrayLen"},
      {"array other length key", with_arg_type(R"({"array":["u8",{"value":3}]})"),
       "data did not match any variant of untagged enum IdlArrayLen"},
      {"array bad element first", with_arg_type(R"({"array":["u7",-1]})"),
       "unknown variant `u7`, expected one of " + kTypeChoices},
      {"array not array", with_arg_type(R"({"array":"u8"})"),
       "invalid type: string \"u8\", expected tuple variant"},
      {"array null", with_arg_type(R"({"array":null})"), "invalid type: null, expected tuple variant"},
      {"array empty", with_arg_type(R"({"array":[]})"),
       "invalid type: null, expected tuple variant IdlType::Array"},
      {"array one", with_arg_type(R"({"array":["u8"]})"),
       "invalid length 1, expected tuple variant IdlType::Array with 2 elements"},
      {"array one bad", with_arg_type(R"({"array":["u7"]})"),
       "unknown variant `u7`, expected one of " + kTypeChoices},
      {"array three", with_arg_type(R"({"array":["u8",1,2]})"),
       "invalid length 3, expected fewer elements in array"},
      {"alias array empty", with_alias(R"({"array":[]})"),
       "invalid type: null, expected tuple variant IdlType::Array"},
      {"alias array one", with_alias(R"({"array":["u8"]})"),
       "invalid length 1, expected tuple variant IdlType::Array with 2 elements"},
      {"alias array three", with_alias(R"({"array":["u8",1,2]})"),
       "invalid length 3, expected 2 elements in sequence"},
      {"defined as string", with_arg_type(R"({"defined":"Foo"})"),
       "invalid type: string \"Foo\", expected struct variant"},
      {"defined object", with_arg_type(R"({"defined":{"name":"Foo"}})"), "ok"},
      {"defined without name", with_arg_type(R"({"defined":{"generics":[]}})"), "missing field `name`"},
      {"defined array outside", with_arg_type(R"({"defined":["Foo"]})"),
       "invalid type: sequence, expected struct variant"},
      {"defined array inside", with_alias(R"({"defined":["Foo"]})"), "ok"},
      {"defined array with generics", with_alias(R"({"defined":["Foo",[{"kind":"const","value":"4"}]]})"),
       "ok"},
      {"defined empty array inside", with_alias(R"({"defined":[]})"),
       "invalid length 0, expected struct variant IdlType::Defined with 2 elements"},
      {"defined long array inside", with_alias(R"({"defined":["Foo",[],1]})"),
       "invalid length 3, expected 2 elements in sequence"},
      {"defined number inside", with_alias(R"({"defined":5})"),
       "invalid type: integer `5`, expected struct variant"},
      {"defined generics null", with_arg_type(R"({"defined":{"name":"Foo","generics":null}})"),
       "invalid type: null, expected a sequence"},
  });
}

TEST(IdlReaderTypes, GenericArgumentsInsideAndOutside) {
  check_rows({
      {"string tags",
       with_arg_type(R"({"defined":{"name":"F","generics":[{"kind":"type","type":"u8"},)"
                     R"({"kind":"const","value":"3"}]}})"),
       "ok"},
      {"integer tag outside",
       with_arg_type(R"({"defined":{"name":"F","generics":[{"kind":0,"type":"u8"}]}})"),
       "invalid type: integer `0`, expected variant identifier"},
      {"integer tag inside", with_alias(R"({"defined":{"name":"F","generics":[{"kind":0,"type":"u8"}]}})"),
       "ok"},
      {"integer tag past end", with_alias(R"({"defined":{"name":"F","generics":[{"kind":2,"type":"u8"}]}})"),
       "invalid value: integer `2`, expected variant index 0 <= i < 2"},
      {"negative tag inside", with_alias(R"({"defined":{"name":"F","generics":[{"kind":-1}]}})"),
       "invalid type: integer `-1`, expected variant identifier"},
      {"unknown tag", with_arg_type(R"({"defined":{"name":"F","generics":[{"kind":"lifetime"}]}})"),
       "unknown variant `lifetime`, expected `type` or `const`"},
      {"missing value", with_arg_type(R"({"defined":{"name":"F","generics":[{"kind":"const"}]}})"),
       "missing field `value`"},
      {"not an object", with_arg_type(R"({"defined":{"name":"F","generics":["u8"]}})"),
       "invalid type: string \"u8\", expected internally tagged enum IdlGenericArg"},
      {"positional", with_arg_type(R"({"defined":{"name":"F","generics":[["type","u8"]]}})"), "ok"},
      {"positional too long", with_arg_type(R"({"defined":{"name":"F","generics":[["const","4","x"]]}})"),
       "invalid length 2, expected 1 element in sequence"},
      {"positional missing", with_arg_type(R"({"defined":{"name":"F","generics":[["const"]]}})"),
       "invalid length 0, expected struct variant IdlGenericArg::Const with 1 element"},
  });
}

TEST(IdlReaderTypeDefs, BodiesAndAttributes) {
  auto with_def = [](const std::string& members) {
    return doc(R"("types":[{"name":"T","type":{"kind":"struct"},)" + members + "}]");
  };
  check_rows({
      {"struct without fields", with_body(R"({"kind":"struct"})"), "ok"},
      {"struct null fields", with_body(R"({"kind":"struct","fields":null})"), "ok"},
      {"union", with_body(R"({"kind":"union"})"),
       "unknown variant `union`, expected one of `struct`, `enum`, `type`"},
      {"no kind", with_body(R"({"fields":[]})"), "missing field `kind`"},
      {"kind null", with_body(R"({"kind":null})"), "invalid type: null, expected variant identifier"},
      {"integer kind outside", with_body(R"({"kind":0})"),
       "invalid type: integer `0`, expected variant identifier"},
      {"body a string", with_body(R"("struct")"),
       "invalid type: string \"struct\", expected internally tagged enum "
       "IdlTypeDefTy"},
      {"enum without variants", with_body(R"({"kind":"enum"})"), "missing field `variants`"},
      {"alias without alias", with_body(R"({"kind":"type"})"), "missing field `alias`"},
      {"empty positional body", with_body("[]"), "missing field `kind`"},
      {"positional enum", with_body(R"(["enum"])"),
       "invalid length 0, expected struct variant IdlTypeDefTy::Enum with "
       "1 element"},
      {"positional struct", with_body(R"(["struct"])"),
       "invalid length 0, expected struct variant IdlTypeDefTy::Struct with 1 element"},
      {"positional struct null", with_body(R"(["struct",null])"), "ok"},
      {"positional too long", with_body(R"(["enum",[],1])"),
       "invalid length 2, expected 1 element in sequence"},
      {"enum variant missing name", with_body(R"({"kind":"enum","variants":[{"fields":[]}]})"),
       "missing field `name`"},
      {"enum variant bad fields",
       with_body(R"({"kind":"enum","variants":[{"name":"A","fields":[{"name":"x"}]}]})"),
       "data did not match any variant of untagged enum IdlDefinedFields"},
      {"fields not list", with_body(R"({"kind":"struct","fields":{}})"),
       "data did not match any variant of untagged enum IdlDefinedFields"},
      {"field without type", with_body(R"({"kind":"struct","fields":[{"name":"a"}]})"),
       "data did not match any variant of untagged enum IdlDefinedFields"},
      {"mixed fields", with_body(R"({"kind":"struct","fields":["u8",{"name":"a","type":"u8"}]})"),
       "data did not match any variant of untagged enum IdlDefinedFields"},
      {"serialization custom bare", with_def(R"("serialization":"custom")"),
       "invalid type: unit variant, expected newtype variant"},
      {"serialization custom", with_def(R"("serialization":{"custom":"mine"})"), "ok"},
      {"serialization unknown", with_def(R"("serialization":"json")"),
       "unknown variant `json`, expected one of `borsh`, `bytemuck`, `bytemuckunsafe`, `custom`"},
      {"serialization null", with_def(R"("serialization":null)"),
       "invalid type: null, expected string or map"},
      {"repr null", with_def(R"("repr":null)"), "ok"},
      {"repr unknown", with_def(R"("repr":{"kind":"packed"})"),
       "unknown variant `packed`, expected one of `rust`, `c`, `transparent`"},
      {"repr not object", with_def(R"("repr":"c")"),
       "invalid type: string \"c\", expected internally tagged enum IdlRepr"},
      {"repr transparent ignores keys", with_def(R"("repr":{"kind":"transparent","packed":"x","align":-1})"),
       "ok"},
      {"repr positional", with_def(R"("repr":["c",true,8])"), "ok"},
      {"repr positional short", with_def(R"("repr":["c"])"),
       "invalid length 1, expected struct IdlReprModifier with 2 elements"},
      {"generic param unknown", with_def(R"("generics":[{"kind":"lifetime","name":"a"}])"),
       "unknown variant `lifetime`, expected `type` or `const`"},
      {"generic param integer outside", with_def(R"("generics":[{"kind":1,"name":"N","type":"usize"}])"),
       "invalid type: integer `1`, expected variant identifier"},
      {"generic const missing type", with_def(R"("generics":[{"kind":"const","name":"N"}])"),
       "missing field `type`"},
      {"typedef missing type", doc(R"("types":[{"name":"T"}])"), "missing field `type`"},
      {"typedef positional name only", doc(R"("types":[["A"]])"),
       "invalid length 3, expected struct IdlTypeDef with 6 elements"},
      {"typedef positional empty", doc(R"("types":[[]])"),
       "invalid length 0, expected struct IdlTypeDef with 6 elements"},
      {"typedef positional repr null", doc(R"("types":[["A",[],"borsh",null]])"),
       "invalid length 5, expected struct IdlTypeDef with 6 elements"},
      {"typedef positional full", doc(R"("types":[["A",[],"borsh",null,[],{"kind":"struct"}]])"), "ok"},
      {"typedef positional too long", doc(R"("types":[["A",[],"borsh",null,[],{"kind":"struct"},0]])"),
       "invalid length 7, expected fewer elements in array"},
      {"typedef positional bad element first", doc(R"("types":[[1,[],"borsh",null,[],{"kind":"struct"},0]])"),
       "invalid type: integer `1`, expected a string"},
      {"field positional",
       doc(R"("instructions":[{"name":"ix","discriminator":[],"accounts":[],)"
           R"("args":[["b",[],"u16"]]}])"),
       "ok"},
      {"field positional short",
       doc(R"("instructions":[{"name":"ix","discriminator":[],"accounts":[],)"
           R"("args":[["c"]]}])"),
       "invalid length 2, expected struct IdlField with 3 elements"},
      {"field positional long",
       doc(R"("instructions":[{"name":"ix","discriminator":[],"accounts":[],)"
           R"("args":[["b",[],"u16",1]]}])"),
       "invalid length 4, expected fewer elements in array"},
      {"event positional short", doc(R"("events":[["E"]])"),
       "invalid length 1, expected struct IdlEvent with 2 elements"},
      {"error positional msg", doc(R"("errors":[[6000,"E"]])"),
       "invalid length 2, expected struct IdlErrorCode with 3 elements"},
      {"const positional", doc(R"("constants":[["C",[],"u8","5"]])"), "ok"},
      {"const positional defaults", doc(R"("constants":[["C"]])"),
       "invalid length 2, expected struct IdlConst with 4 elements"},
  });
}

TEST(IdlReaderAccounts, GroupsSingleAccountsAndSeeds) {
  const std::string untagged = "data did not match any variant of untagged enum IdlInstructionAccountItem";
  check_rows({
      {"single", with_accounts(R"([{"name":"a","writable":true,"signer":true}])"), "ok"},
      {"group", with_accounts(R"([{"name":"g","accounts":[{"name":"a"}]}])"), "ok"},
      {"group degrades", with_accounts(R"([{"name":"g","accounts":[{"nme":"x"}]}])"), "ok"},
      {"nameless", with_accounts(R"([{"nme":"x"}])"), untagged},
      {"not an object", with_accounts("[1]"), untagged},
      {"bad writable", with_accounts(R"([{"name":"a","writable":"yes"}])"), untagged},
      {"unknown seed kind",
       with_accounts(R"([{"name":"a","pda":{"seeds":[{"kind":"constant","value":[1]}]}}])"), untagged},
      {"seeds",
       with_accounts(R"([{"name":"a","pda":{"seeds":[{"kind":"const","value":[1,2]},)"
                     R"({"kind":"arg","path":"amount"},{"kind":"account","path":"user","account":"User"}],)"
                     R"("program":{"kind":"const","value":[3]}}}])"),
       "ok"},
      {"integer seed kinds",
       with_accounts(R"([{"name":"a","pda":{"seeds":[{"kind":0,"value":[1]},)"
                     R"({"kind":1,"path":"x"},{"kind":2,"path":"y"}]}}])"),
       "ok"},
      {"integer seed kind past end",
       with_accounts(R"([{"name":"a","pda":{"seeds":[{"kind":3,"path":"x"}]}}])"), untagged},
      {"accounts not list", with_accounts("{}"), "invalid type: map, expected a sequence"},
      {"missing accounts", doc(R"("instructions":[{"name":"ix","discriminator":[],"args":[]}])"),
       "missing field `accounts`"},
      {"returns null",
       doc(R"("instructions":[{"name":"ix","discriminator":[],"accounts":[],"args":[],)"
           R"("returns":null}])"),
       "ok"},
      {"returns bad",
       doc(R"("instructions":[{"name":"ix","discriminator":[],"accounts":[],"args":[],)"
           R"("returns":"u7"}])"),
       "unknown variant `u7`, expected one of " + kTypeChoices},
  });
}

// The readers of single values, with and without the tagged context.
struct DirectRow {
  std::string name;
  std::string json;
  bool tagged;
  std::string expected;
};

template <class T>
std::string read_direct(schema::Status (*read)(const json::Value&, schema::Ctx, T&), const std::string& text,
                        bool tagged) {
  Result<json::Value> value = json::parse(text);
  if (!value) return "parse: " + value.error().message;
  T out{};
  schema::Status st = read(*value, schema::Ctx{.tagged = tagged}, out);
  return st ? std::string("ok") : st.error().message;
}

TEST(IdlReaderDirect, SeedsAndIntegerTags) {
  const std::vector<DirectRow> rows = {
      {"arg positional short", R"(["arg"])", true,
       "invalid length 0, expected struct IdlSeedArg with 1 element"},
      {"arg positional", R"(["arg","amount"])", true, "ok"},
      {"account positional short", R"(["account","p"])", true,
       "invalid length 1, expected struct IdlSeedAccount with 2 elements"},
      {"account positional null", R"(["account","p",null])", true, "ok"},
      {"const positional long", R"(["const",[1],2,3])", true,
       "invalid length 3, expected 1 element in sequence"},
      {"integer kind inside", R"({"kind":1,"path":"x"})", true, "ok"},
      {"integer kind positional", R"([2,"x",null])", true, "ok"},
      {"integer kind past end", R"({"kind":3,"path":"x"})", true,
       "invalid value: integer `3`, expected variant index 0 <= i < 3"},
      {"integer kind outside", R"({"kind":1,"path":"x"})", false,
       "invalid type: integer `1`, expected variant identifier"},
      {"float kind", R"({"kind":1.0})", true,
       "invalid type: floating point `1.0`, expected variant identifier"},
      {"unknown kind", R"({"kind":"constant"})", true,
       "unknown variant `constant`, expected one of `const`, `arg`, `account`"},
      {"no kind", R"({"path":"x"})", true, "missing field `kind`"},
      {"empty array", "[]", true, "missing field `kind`"},
      {"not an object", "true", true,
       "invalid type: boolean `true`, expected internally tagged enum IdlSeed"},
      {"bad const byte", R"({"kind":"const","value":[300]})", true,
       "invalid value: integer `300`, expected u8"},
      {"missing path", R"({"kind":"account","account":"A"})", true, "missing field `path`"},
  };
  for (const DirectRow& row : rows) {
    EXPECT_EQ(read_direct(&current::read_seed, row.json, row.tagged), row.expected) << row.name;
  }
}

TEST(IdlReaderDirect, RecordsAndAlternatives) {
  EXPECT_EQ(read_direct(&current::read_field, R"(["a",[],"u8",1])", false),
            "invalid length 4, expected fewer elements in array");
  EXPECT_EQ(read_direct(&current::read_field, R"(["a",[],"u8",1])", true),
            "invalid length 4, expected 3 elements in sequence");
  EXPECT_EQ(read_direct(&current::read_field, R"(["a"])", false),
            "invalid length 2, expected struct IdlField with 3 elements");
  EXPECT_EQ(read_direct(&current::read_field, R"(["a","u8"])", false),
            "invalid type: string \"u8\", expected a sequence");
  EXPECT_EQ(read_direct(&current::read_field, "5", false),
            "invalid type: integer `5`, expected struct IdlField");
  EXPECT_EQ(read_direct(&current::read_array_len, "5", false), "ok");
  EXPECT_EQ(read_direct(&current::read_array_len, R"({"generic":"N","x":1})", false),
            "data did not match any variant of untagged enum IdlArrayLen");
  EXPECT_EQ(read_direct(&current::read_defined_fields, "5", false),
            "data did not match any variant of untagged enum IdlDefinedFields");
  EXPECT_EQ(read_direct(&current::read_type_def_ty, R"({"kind":1,"variants":[]})", false),
            "invalid type: integer `1`, expected variant identifier");
  EXPECT_EQ(read_direct(&current::read_type_def_ty, R"({"kind":1,"variants":[]})", true), "ok");
  EXPECT_EQ(read_direct(&current::read_type_def_ty, R"({"kind":3})", true),
            "invalid value: integer `3`, expected variant index 0 <= i < 3");
  EXPECT_EQ(read_direct(&current::read_generic_arg, R"({"kind":"type"})", false), "missing field `type`");
  EXPECT_EQ(read_direct(&current::read_type_def, R"(["A"])", false),
            "invalid length 3, expected struct IdlTypeDef with 6 elements");
}

// ---------------------------------------------------------- model contents

TEST(IdlReaderModel, MinimalDocumentHasEmptyListsAndAbsentOptionals) {
  Idl idl = load_ok(doc());
  EXPECT_EQ(idl.address, "Prog1111");
  EXPECT_EQ(idl.metadata.name, "p");
  EXPECT_EQ(idl.metadata.version, "1");
  EXPECT_EQ(idl.metadata.spec, "0.1.0");
  EXPECT_FALSE(idl.metadata.description.has_value());
  EXPECT_FALSE(idl.metadata.repository.has_value());
  EXPECT_FALSE(idl.metadata.contact.has_value());
  EXPECT_FALSE(idl.metadata.deployments.has_value());
  EXPECT_TRUE(idl.metadata.dependencies.empty());
  EXPECT_TRUE(idl.docs.empty());
  EXPECT_TRUE(idl.instructions.empty());
  EXPECT_TRUE(idl.accounts.empty());
  EXPECT_TRUE(idl.events.empty());
  EXPECT_TRUE(idl.errors.empty());
  EXPECT_TRUE(idl.types.empty());
  EXPECT_TRUE(idl.constants.empty());
}

TEST(IdlReaderModel, MetadataAndRootLists) {
  Idl idl = load_ok(doc(
      R"("metadata":{"name":"p","version":"1","spec":"0.1.0","description":"d","dependencies":[{"name":"n",)"
      R"("version":"v"}],"deployments":{"devnet":"D","mainnet":null}},"docs":["a","b"],)"
      R"("events":[{"name":"E","discriminator":[1,2,3]}],"errors":[{"code":6000,"name":"Bad"},)"
      R"({"code":1,"name":"M","msg":"m"}],"accounts":[{"name":"Acc","discriminator":[]}],)"
      R"("constants":[{"name":"C","type":"u8","value":"5"}])"));
  EXPECT_EQ(idl.metadata.description, "d");
  ASSERT_EQ(idl.metadata.dependencies.size(), 1u);
  EXPECT_EQ(idl.metadata.dependencies[0].version, "v");
  ASSERT_TRUE(idl.metadata.deployments.has_value());
  EXPECT_EQ(idl.metadata.deployments->devnet, "D");
  EXPECT_FALSE(idl.metadata.deployments->mainnet.has_value());
  EXPECT_EQ(idl.docs, (Docs{"a", "b"}));
  ASSERT_EQ(idl.events.size(), 1u);
  EXPECT_EQ(idl.events[0].discriminator, (ByteVec{1, 2, 3}));
  ASSERT_EQ(idl.errors.size(), 2u);
  EXPECT_EQ(idl.errors[0].code, 6000u);
  EXPECT_FALSE(idl.errors[0].msg.has_value());
  EXPECT_EQ(idl.errors[1].msg, "m");
  EXPECT_EQ(idl.accounts[0].name, "Acc");
  ASSERT_EQ(idl.constants.size(), 1u);
  EXPECT_EQ(idl.constants[0].type.kind, IdlType::Kind::U8);
  EXPECT_EQ(idl.constants[0].value, "5");
}

TEST(IdlReaderModel, TypeDefinitionDefaultsAndBodies) {
  Idl idl = load_ok(doc(
      R"("types":[{"name":"A","type":{"kind":"struct"}},{"name":"B","type":{"kind":"struct","fields":[]}},)"
      R"({"name":"C","type":{"kind":"struct","fields":["u8","u64"]}},)"
      R"({"name":"D","serialization":{"custom":"mine"},"repr":{"kind":"rust","packed":true,"align":8},)"
      R"("generics":[{"kind":"type","name":"T"},{"kind":"const","name":"N","type":"usize"}],)"
      R"("type":{"kind":"enum","variants":[{"name":"U"},{"name":"N","fields":[{"name":"x","type":"bool"}]},)"
      R"({"name":"T","fields":["i8"]}]}},)"
      R"({"name":"E","serialization":"bytemuckunsafe","repr":{"kind":"transparent"},)"
      R"("type":{"kind":"type","alias":{"generic":"T"}}},)"
      R"(["F",["doc"],"bytemuck",{"kind":"c"},[],["struct",null]]])"));
  ASSERT_EQ(idl.types.size(), 6u);

  const IdlTypeDef& a = idl.types[0];
  EXPECT_TRUE(std::holds_alternative<IdlSerialization::Borsh>(a.serialization.value));
  EXPECT_FALSE(a.repr.has_value());
  EXPECT_TRUE(a.generics.empty());
  ASSERT_TRUE(std::holds_alternative<IdlTypeDefTy::Struct>(a.type.value));
  EXPECT_FALSE(std::get<IdlTypeDefTy::Struct>(a.type.value).fields.has_value());

  const auto& b_fields = std::get<IdlTypeDefTy::Struct>(idl.types[1].type.value).fields;
  ASSERT_TRUE(b_fields.has_value());
  ASSERT_TRUE(std::holds_alternative<IdlDefinedFields::Named>(b_fields->value));
  EXPECT_TRUE(std::get<IdlDefinedFields::Named>(b_fields->value).empty());

  const auto& c_fields = std::get<IdlTypeDefTy::Struct>(idl.types[2].type.value).fields;
  ASSERT_TRUE(c_fields.has_value());
  ASSERT_TRUE(std::holds_alternative<IdlDefinedFields::Tuple>(c_fields->value));
  const auto& tuple = std::get<IdlDefinedFields::Tuple>(c_fields->value);
  ASSERT_EQ(tuple.size(), 2u);
  EXPECT_EQ(tuple[1].kind, IdlType::Kind::U64);

  const IdlTypeDef& d = idl.types[3];
  ASSERT_TRUE(std::holds_alternative<IdlSerialization::Custom>(d.serialization.value));
  EXPECT_EQ(std::get<IdlSerialization::Custom>(d.serialization.value).name, "mine");
  ASSERT_TRUE(d.repr.has_value());
  ASSERT_TRUE(std::holds_alternative<IdlRepr::Rust>(d.repr->value));
  EXPECT_TRUE(std::get<IdlRepr::Rust>(d.repr->value).modifier.packed);
  EXPECT_EQ(std::get<IdlRepr::Rust>(d.repr->value).modifier.align, 8u);
  ASSERT_EQ(d.generics.size(), 2u);
  EXPECT_EQ(std::get<IdlTypeDefGeneric::Type>(d.generics[0].value).name, "T");
  EXPECT_EQ(std::get<IdlTypeDefGeneric::Const>(d.generics[1].value).type, "usize");
  const auto& variants = std::get<IdlTypeDefTy::Enum>(d.type.value).variants;
  ASSERT_EQ(variants.size(), 3u);
  EXPECT_FALSE(variants[0].fields.has_value());
  EXPECT_EQ(std::get<IdlDefinedFields::Named>(variants[1].fields->value)[0].type.kind, IdlType::Kind::Bool);
  EXPECT_EQ(std::get<IdlDefinedFields::Tuple>(variants[2].fields->value)[0].kind, IdlType::Kind::I8);

  const IdlTypeDef& e = idl.types[4];
  EXPECT_TRUE(std::holds_alternative<IdlSerialization::BytemuckUnsafe>(e.serialization.value));
  EXPECT_TRUE(std::holds_alternative<IdlRepr::Transparent>(e.repr->value));
  const IdlType& alias = std::get<IdlTypeDefTy::Type>(e.type.value).alias;
  EXPECT_EQ(alias.kind, IdlType::Kind::Generic);
  EXPECT_EQ(alias.generic(), "T");

  const IdlTypeDef& f = idl.types[5];
  EXPECT_EQ(f.name, "F");
  EXPECT_EQ(f.docs, (Docs{"doc"}));
  EXPECT_TRUE(std::holds_alternative<IdlSerialization::Bytemuck>(f.serialization.value));
  ASSERT_TRUE(std::holds_alternative<IdlRepr::C>(f.repr->value));
  EXPECT_FALSE(std::get<IdlRepr::C>(f.repr->value).modifier.packed);
  EXPECT_FALSE(std::get<IdlRepr::C>(f.repr->value).modifier.align.has_value());
  EXPECT_FALSE(std::get<IdlTypeDefTy::Struct>(f.type.value).fields.has_value());
}

TEST(IdlReaderModel, TypeExpressions) {
  Idl idl = load_ok(with_arg_type(
      R"({"option":{"vec":{"array":[{"defined":{"name":"P","generics":[{"kind":"type","type":"u8"},)"
      R"({"kind":"const","value":"4"}]}},{"generic":"N"}]}}})"));
  const IdlType& t = idl.instructions[0].args[0].type;
  ASSERT_EQ(t.kind, IdlType::Kind::Option);
  ASSERT_EQ(t.inner().kind, IdlType::Kind::Vec);
  const IdlType& arr = t.inner().inner();
  ASSERT_EQ(arr.kind, IdlType::Kind::Array);
  EXPECT_EQ(std::get<IdlArrayLen::Generic>(arr.array().len.value).name, "N");
  const IdlType& def = *arr.array().element;
  ASSERT_EQ(def.kind, IdlType::Kind::Defined);
  EXPECT_EQ(def.defined().name, "P");
  ASSERT_EQ(def.defined().generics.size(), 2u);
  EXPECT_EQ(std::get<IdlGenericArg::Type>(def.defined().generics[0].value).type->kind, IdlType::Kind::U8);
  EXPECT_EQ(std::get<IdlGenericArg::Const>(def.defined().generics[1].value).value, "4");

  Idl fixed = load_ok(with_arg_type(R"({"array":["u8",32]})"));
  const IdlType& f = fixed.instructions[0].args[0].type;
  EXPECT_EQ(f.array().element->kind, IdlType::Kind::U8);
  EXPECT_EQ(std::get<std::uint64_t>(f.array().len.value), 32u);

  Idl plain = load_ok(with_arg_type(R"({"defined":{"name":"Foo"}})"));
  EXPECT_TRUE(plain.instructions[0].args[0].type.defined().generics.empty());

  // Every payload-free name reads as its own kind, in order.
  const char* names[] = {"bool", "u8",  "i8",   "u16",  "i16",  "u32",  "i32",   "f32",    "u64",
                         "i64",  "f64", "u128", "i128", "u256", "i256", "bytes", "string", "pubkey"};
  for (int i = 0; i < 18; ++i) {
    Idl one = load_ok(with_arg_type(std::string("\"") + names[i] + "\""));
    EXPECT_EQ(static_cast<int>(one.instructions[0].args[0].type.kind), i) << names[i];
  }

  // Deep nesting is bounded only by the text parser.
  std::string deep = "\"u8\"";
  for (int i = 0; i < 100; ++i) deep = R"({"vec":)" + deep + "}";
  Idl nested = load_ok(with_arg_type(deep));
  const IdlType* cur = &nested.instructions[0].args[0].type;
  int depth = 0;
  while (cur->kind == IdlType::Kind::Vec) {
    cur = &cur->inner();
    ++depth;
  }
  EXPECT_EQ(depth, 100);
  EXPECT_EQ(cur->kind, IdlType::Kind::U8);
}

TEST(IdlReaderModel, InstructionAccounts) {
  Idl idl = load_ok(with_accounts(
      R"([{"name":"g","accounts":[{"nme":"x"}]},{"name":"plain"},)"
      R"({"name":"grp","accounts":[{"name":"inner","writable":true,"signer":true,"optional":true,)"
      R"("address":"Addr","relations":["r"],"pda":{"seeds":[{"kind":"const","value":[7]},)"
      R"({"kind":"account","path":"user"}],"program":{"kind":"arg","path":"p"}}}]}])"));
  const auto& items = idl.instructions[0].accounts;
  ASSERT_EQ(items.size(), 3u);

  ASSERT_TRUE(std::holds_alternative<IdlInstructionAccount>(items[0].value));
  const auto& degraded = std::get<IdlInstructionAccount>(items[0].value);
  EXPECT_EQ(degraded.name, "g");
  EXPECT_FALSE(degraded.writable);
  EXPECT_FALSE(degraded.signer);
  EXPECT_FALSE(degraded.optional);
  EXPECT_FALSE(degraded.pda.has_value());

  const auto& plain = std::get<IdlInstructionAccount>(items[1].value);
  EXPECT_FALSE(plain.writable || plain.signer || plain.optional);
  EXPECT_FALSE(plain.address.has_value());
  EXPECT_TRUE(plain.relations.empty());

  ASSERT_TRUE(std::holds_alternative<IdlInstructionAccounts>(items[2].value));
  const auto& group = std::get<IdlInstructionAccounts>(items[2].value);
  EXPECT_EQ(group.name, "grp");
  ASSERT_EQ(group.accounts.size(), 1u);
  const auto& inner = std::get<IdlInstructionAccount>(group.accounts[0].value);
  EXPECT_TRUE(inner.writable && inner.signer && inner.optional);
  EXPECT_EQ(inner.address, "Addr");
  EXPECT_EQ(inner.relations, (std::vector<std::string>{"r"}));
  ASSERT_TRUE(inner.pda.has_value());
  ASSERT_EQ(inner.pda->seeds.size(), 2u);
  EXPECT_EQ(std::get<IdlSeed::Const>(inner.pda->seeds[0].value).value, (ByteVec{7}));
  const auto& seed_account = std::get<IdlSeed::Account>(inner.pda->seeds[1].value);
  EXPECT_EQ(seed_account.path, "user");
  EXPECT_FALSE(seed_account.account.has_value());
  ASSERT_TRUE(inner.pda->program.has_value());
  EXPECT_EQ(std::get<IdlSeed::Arg>(inner.pda->program->value).path, "p");
}

}  // namespace
}  // namespace varkel::idl
