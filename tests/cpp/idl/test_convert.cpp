// Tests of converting legacy documents to the current model: the address
// check, derived discriminators, where names are snake_cased and where they
// are kept, the order of type definitions, seeds and type expressions.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "idl/convert.h"
#include "idl/legacy_reader.h"
#include "idl/load.h"
#include "json/json.h"

namespace varkel::idl {
namespace {

const char kNoAddress[] = "Program id missing in `idl.metadata.address` field";

// A legacy document with an address and `extra` members appended to the root.
std::string doc(const std::string& extra = "") {
  std::string text = R"({"version":"0.1.0","name":"p","instructions":[],"metadata":{"address":"Prog1"})";
  if (!extra.empty()) text += "," + extra;
  return text + "}";
}

Result<Idl> convert(std::string_view text) {
  Result<json::Value> root = json::parse(text);
  if (!root) return fail("parse: " + root.error().message);
  Result<legacy::Idl> legacy_idl = read_legacy_idl(*root);
  if (!legacy_idl) return fail("read: " + legacy_idl.error().message);
  return convert_legacy_idl(std::move(*legacy_idl));
}

Idl convert_ok(std::string_view text) {
  Result<Idl> idl = convert(text);
  EXPECT_TRUE(idl.has_value()) << text << "\n" << (idl ? "" : idl.error().message);
  return idl ? std::move(*idl) : Idl{};
}

// Instruction accounts with `accounts` as the account list of one instruction.
std::vector<IdlInstructionAccountItem> items_of(const std::string& accounts) {
  Idl idl = convert_ok(doc(R"("instructions":[{"name":"ix","accounts":)" + accounts + R"(,"args":[]}])"));
  return idl.instructions.empty() ? std::vector<IdlInstructionAccountItem>{} : idl.instructions[0].accounts;
}

const IdlInstructionAccount& single(const IdlInstructionAccountItem& item) {
  return std::get<IdlInstructionAccount>(item.value);
}

// The pda of one account whose seeds are `seeds` (and program id `program`).
std::optional<IdlPda> pda_of(const std::string& seeds, const std::string& program = "") {
  std::string pda = R"({"seeds":[)" + seeds + "]";
  if (!program.empty()) pda += R"(,"programId":)" + program;
  pda += "}";
  auto items = items_of(R"([{"name":"a","isMut":false,"isSigner":false,"pda":)" + pda + "}]");
  return items.empty() ? std::nullopt : single(items[0]).pda;
}

const IdlTypeDef& type_named(const Idl& idl, std::size_t index) {
  return idl.types.at(index);
}

const IdlDefinedFields::Named& named_fields(const IdlTypeDef& def) {
  return std::get<IdlDefinedFields::Named>(std::get<IdlTypeDefTy::Struct>(def.type.value).fields->value);
}

TEST(ConvertAddress, TakenFromMetadataOrRefused) {
  const std::string base = R"({"version": "0.1.0", "name": "p", "instructions": [])";
  struct Row {
    std::string name;
    std::string text;
    std::string expected;  // the address, or the message prefixed with "!"
  };
  const std::vector<Row> rows = {
      {"no metadata", base + "}", std::string("!") + kNoAddress},
      {"metadata null", base + R"(, "metadata": null})", std::string("!") + kNoAddress},
      {"metadata a string", base + R"(, "metadata": "Prog1"})", std::string("!") + kNoAddress},
      {"metadata an array", base + R"(, "metadata": ["Prog1"]})", std::string("!") + kNoAddress},
      {"no address key", base + R"(, "metadata": {"name": "p"}})", std::string("!") + kNoAddress},
      {"address a number", base + R"(, "metadata": {"address": 5}})", std::string("!") + kNoAddress},
      {"address null", base + R"(, "metadata": {"address": null}})", std::string("!") + kNoAddress},
      {"top-level address only", base + R"(, "address": "Prog1"})", std::string("!") + kNoAddress},
      {"empty address", base + R"(, "metadata": {"address": ""}})", ""},
      {"address as is", base + R"(, "metadata": {"address": " Not base58! ", "spec": null}})",
       " Not base58! "},
  };
  for (const Row& row : rows) {
    Result<Idl> idl = convert(row.text);
    EXPECT_EQ(idl ? idl->address : "!" + idl.error().message, row.expected) << row.name;
  }
  // Through the loader, the message reaches the caller unchanged.
  EXPECT_EQ(load_idl(base + "}").error(), kNoAddress);
}

TEST(ConvertRoot, MetadataAndPassThroughLists) {
  Idl idl = convert_ok(R"({"version": "2.1.0", "name": "my_prog", "docs": ["line"],
      "metadata": {"address": "Prog1", "description": "dropped", "spec": 7},
      "instructions": [],
      "constants": [{"name": "MAX_SIZE", "type": {"array": ["u8", 4]}, "value": "[1, 2, 3, 4]"},
                    {"name": "BuyOrder", "type": "publicKey", "value": "x"}],
      "errors": [{"code": 6000, "name": "NotAllowed", "msg": "Not allowed"}, {"code": 6001, "name": "TooBig"}]})");
  EXPECT_EQ(idl.address, "Prog1");
  EXPECT_EQ(idl.metadata.name, "my_prog");
  EXPECT_EQ(idl.metadata.version, "2.1.0");
  EXPECT_EQ(idl.metadata.spec, "0.1.0");
  EXPECT_FALSE(idl.metadata.description.has_value());
  EXPECT_FALSE(idl.metadata.repository.has_value());
  EXPECT_TRUE(idl.metadata.dependencies.empty());
  EXPECT_FALSE(idl.metadata.contact.has_value());
  EXPECT_FALSE(idl.metadata.deployments.has_value());
  EXPECT_EQ(idl.docs, (Docs{"line"}));

  ASSERT_EQ(idl.constants.size(), 2u);
  EXPECT_EQ(idl.constants[0].name, "MAX_SIZE");
  EXPECT_TRUE(idl.constants[0].docs.empty());
  EXPECT_EQ(idl.constants[0].value, "[1, 2, 3, 4]");
  EXPECT_EQ(idl.constants[0].type.kind, IdlType::Kind::Array);
  EXPECT_EQ(idl.constants[1].name, "BuyOrder");  // constant names keep their case
  EXPECT_EQ(idl.constants[1].type.kind, IdlType::Kind::Pubkey);

  ASSERT_EQ(idl.errors.size(), 2u);
  EXPECT_EQ(idl.errors[0].code, 6000u);
  EXPECT_EQ(idl.errors[0].name, "NotAllowed");
  EXPECT_EQ(idl.errors[0].msg, std::optional<std::string>("Not allowed"));
  EXPECT_EQ(idl.errors[1].name, "TooBig");
  EXPECT_FALSE(idl.errors[1].msg.has_value());

  Idl bare = convert_ok(doc());
  EXPECT_TRUE(bare.docs.empty());
  EXPECT_TRUE(bare.events.empty());
  EXPECT_TRUE(bare.errors.empty());
  EXPECT_TRUE(bare.types.empty());
}

TEST(ConvertInstructions, SnakeNamesAndGlobalDiscriminator) {
  Idl idl = convert_ok(doc(R"("instructions": [
      {"name": "initializeMarket", "docs": ["Opens a market"], "accounts": [],
       "args": [{"name": "baseLotSize", "docs": ["lots"], "type": "u64"}, {"name": "BuyOrder", "type": {"defined": "BuyOrder"}}],
       "returns": {"vec": "publicKey"}},
      {"name": "XMLParser", "accounts": [], "args": []}])"));
  ASSERT_EQ(idl.instructions.size(), 2u);
  const IdlInstruction& ix = idl.instructions[0];
  EXPECT_EQ(ix.name, "initialize_market");
  // SHA-256 of the 24 bytes "global:initialize_market", first 8 bytes.
  EXPECT_EQ(ix.discriminator, (ByteVec{0x23, 0x23, 0xbd, 0xc1, 0x9b, 0x30, 0xaa, 0xcb}));
  EXPECT_EQ(ix.docs, (Docs{"Opens a market"}));
  ASSERT_EQ(ix.args.size(), 2u);
  EXPECT_EQ(ix.args[0].name, "base_lot_size");
  EXPECT_EQ(ix.args[0].docs, (Docs{"lots"}));
  EXPECT_EQ(ix.args[1].name, "buy_order");                // a field name is converted ...
  EXPECT_EQ(ix.args[1].type.defined().name, "BuyOrder");  // ... a defined name is not
  EXPECT_TRUE(ix.args[1].type.defined().generics.empty());
  ASSERT_TRUE(ix.returns.has_value());
  EXPECT_EQ(ix.returns->kind, IdlType::Kind::Vec);
  EXPECT_EQ(ix.returns->inner().kind, IdlType::Kind::Pubkey);
  EXPECT_EQ(idl.instructions[1].name, "xml_parser");
  EXPECT_FALSE(idl.instructions[1].returns.has_value());
}

TEST(ConvertInstructions, AccountItems) {
  auto items = items_of(R"([
      {"name": "marketAuthority", "isMut": true, "isSigner": false, "docs": ["auth"], "relations": ["baseVault"]},
      {"name": "UserAccounts", "accounts": [
          {"name": "ownerKey", "isMut": false, "isSigner": true, "isOptional": true},
          {"name": "innerGroup", "accounts": []}]},
      {"name": "plain", "isMut": false, "isSigner": false, "isOptional": null}])");
  ASSERT_EQ(items.size(), 3u);
  const IdlInstructionAccount& authority = single(items[0]);
  EXPECT_EQ(authority.name, "market_authority");
  EXPECT_EQ(authority.docs, (Docs{"auth"}));
  EXPECT_TRUE(authority.writable);
  EXPECT_FALSE(authority.signer);
  EXPECT_FALSE(authority.optional);
  EXPECT_FALSE(authority.address.has_value());
  EXPECT_FALSE(authority.pda.has_value());
  EXPECT_EQ(authority.relations, (std::vector<std::string>{"baseVault"}));  // relations as is

  const auto& group = std::get<IdlInstructionAccounts>(items[1].value);
  EXPECT_EQ(group.name, "user_accounts");
  ASSERT_EQ(group.accounts.size(), 2u);
  EXPECT_EQ(single(group.accounts[0]).name, "owner_key");
  EXPECT_TRUE(single(group.accounts[0]).signer);
  EXPECT_TRUE(single(group.accounts[0]).optional);
  EXPECT_EQ(std::get<IdlInstructionAccounts>(group.accounts[1].value).name, "inner_group");

  EXPECT_FALSE(single(items[2]).optional);
}

std::string bytes_text(const ByteVec& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(ConvertInstructions, Seeds) {
  // Const seeds of type string hold the compact JSON text of their value.
  struct Row {
    std::string value;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {R"("abc")", R"("abc")"},
      {"7", "7"},
      {"-7", "-7"},
      {"1.5", "1.5"},
      {"null", "null"},
      {"true", "true"},
      {R"("q\"b\\s\n\u0001é")", "\"q\\\"b\\\\s\\n\\u0001é\""},
      {R"({ "z" : 1, "a" : [1, 2] })", R"({"a":[1,2],"z":1})"},
  };
  for (const Row& row : rows) {
    auto pda = pda_of(R"({"kind": "const", "type": "string", "value": )" + row.value + "}");
    ASSERT_TRUE(pda.has_value()) << row.value;
    ASSERT_EQ(pda->seeds.size(), 1u);
    EXPECT_EQ(bytes_text(std::get<IdlSeed::Const>(pda->seeds[0].value).value), row.expected) << row.value;
  }
  // "abc" becomes its 5 bytes, quotation marks included.
  auto abc = pda_of(R"({"kind": "const", "type": "string", "value": "abc"})");
  ASSERT_TRUE(abc.has_value());
  EXPECT_EQ(std::get<IdlSeed::Const>(abc->seeds[0].value).value, (ByteVec{'"', 'a', 'b', 'c', '"'}));

  // Any other const seed removes the pda, and only the pda.
  EXPECT_FALSE(pda_of(R"({"kind": "const", "type": "u8", "value": 1})").has_value());
  EXPECT_FALSE(pda_of(R"({"kind": "const", "type": "bytes", "value": [1, 2]})").has_value());
  EXPECT_FALSE(pda_of(R"({"kind": "arg", "type": "u64", "path": "amount"},
                          {"kind": "const", "type": "publicKey", "value": "x"})")
                   .has_value());
  EXPECT_FALSE(pda_of("", R"({"kind": "const", "type": "publicKey", "value": [1]})").has_value());
  auto items = items_of(R"([{"name": "a", "isMut": true, "isSigner": false, "relations": ["b"],
      "pda": {"seeds": [{"kind": "const", "type": "u8", "value": 1}]}}])");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_FALSE(single(items[0]).pda.has_value());
  EXPECT_TRUE(single(items[0]).writable);
  EXPECT_EQ(single(items[0]).relations, (std::vector<std::string>{"b"}));

  // Arg and account seeds keep their paths as is; the seed type is dropped.
  auto pda = pda_of(R"({"kind": "arg", "type": "u64", "path": "args.baseLot"},
                       {"kind": "account", "type": "publicKey", "path": "marketKey", "account": "MarketState"},
                       {"kind": "account", "type": "publicKey", "path": "mint"})",
                    R"({"kind": "const", "type": "string", "value": "p"})");
  ASSERT_TRUE(pda.has_value());
  ASSERT_EQ(pda->seeds.size(), 3u);
  EXPECT_EQ(std::get<IdlSeed::Arg>(pda->seeds[0].value).path, "args.baseLot");
  const auto& account = std::get<IdlSeed::Account>(pda->seeds[1].value);
  EXPECT_EQ(account.path, "marketKey");
  EXPECT_EQ(account.account, std::optional<std::string>("MarketState"));
  EXPECT_FALSE(std::get<IdlSeed::Account>(pda->seeds[2].value).account.has_value());
  ASSERT_TRUE(pda->program.has_value());
  EXPECT_EQ(bytes_text(std::get<IdlSeed::Const>(pda->program->value).value), R"("p")");

  auto no_program = pda_of(R"({"kind": "arg", "type": "u64", "path": "x"})");
  ASSERT_TRUE(no_program.has_value());
  EXPECT_FALSE(no_program->program.has_value());
}

TEST(ConvertTypes, OrderOfDefinitionsAccountsAndEvents) {
  Idl idl = convert_ok(doc(R"(
      "events": [{"name": "TradeEvent", "fields": [{"name": "userKey", "type": "publicKey", "index": false}]},
                 {"name": "Empty", "fields": []}],
      "accounts": [{"name": "Market", "docs": ["m"], "type": {"kind": "struct", "fields": [{"name": "baseMint", "type": "publicKey"}]}}],
      "types": [{"name": "TradeEvent", "type": {"kind": "struct", "fields": [{"name": "other", "type": "u8"}]}},
                {"name": "NoFields", "generics": ["T"], "type": {"kind": "struct", "fields": []}}])"));
  ASSERT_EQ(idl.types.size(), 5u);
  std::vector<std::string> names;
  for (const IdlTypeDef& def : idl.types) names.push_back(def.name);
  // Legacy types, then accounts, then events: a type named like an event is
  // listed twice, the event's struct last.
  EXPECT_EQ(names, (std::vector<std::string>{"TradeEvent", "NoFields", "Market", "TradeEvent", "Empty"}));
  for (const IdlTypeDef& def : idl.types) {
    EXPECT_TRUE(std::holds_alternative<IdlSerialization::Borsh>(def.serialization.value)) << def.name;
    EXPECT_FALSE(def.repr.has_value()) << def.name;
    EXPECT_TRUE(def.generics.empty()) << def.name;  // legacy generics are dropped
  }
  EXPECT_EQ(named_fields(type_named(idl, 0)).at(0).name, "other");
  // An empty legacy struct has absent fields; an empty event an empty list.
  EXPECT_FALSE(std::get<IdlTypeDefTy::Struct>(type_named(idl, 1).type.value).fields.has_value());
  EXPECT_EQ(type_named(idl, 2).docs, (Docs{"m"}));
  EXPECT_EQ(named_fields(type_named(idl, 2)).at(0).name, "base_mint");
  const auto& trade = named_fields(type_named(idl, 3));
  ASSERT_EQ(trade.size(), 1u);
  EXPECT_EQ(trade[0].name, "user_key");
  EXPECT_EQ(trade[0].type.kind, IdlType::Kind::Pubkey);
  EXPECT_TRUE(trade[0].docs.empty());
  EXPECT_TRUE(named_fields(type_named(idl, 4)).empty());

  ASSERT_EQ(idl.accounts.size(), 1u);
  EXPECT_EQ(idl.accounts[0].name, "Market");
  EXPECT_EQ(idl.accounts[0].discriminator, (ByteVec{0xdb, 0xbe, 0xd5, 0x37, 0x00, 0xe3, 0xc6, 0x9a}));
  ASSERT_EQ(idl.events.size(), 2u);
  EXPECT_EQ(idl.events[0].name, "TradeEvent");
  EXPECT_EQ(idl.events[0].discriminator, (ByteVec{0xbd, 0xdb, 0x7f, 0xd3, 0x4e, 0xe6, 0x61, 0xee}));
  EXPECT_EQ(idl.events[1].name, "Empty");
}

TEST(ConvertTypes, EnumsAndAliases) {
  Idl idl = convert_ok(doc(R"("types": [
      {"name": "Side", "type": {"kind": "enum", "variants": [
          {"name": "BuyOrder"}, {"name": "Empty", "fields": []},
          {"name": "Tuple", "fields": ["u8", {"defined": "Side"}]},
          {"name": "Named", "fields": [{"name": "BuyOrder", "docs": ["d"], "type": "publicKey"}]}]}},
      {"name": "Alias", "type": {"kind": "alias", "value": {"option": "publicKey"}}}])"));
  ASSERT_EQ(idl.types.size(), 2u);
  const auto& variants = std::get<IdlTypeDefTy::Enum>(idl.types[0].type.value).variants;
  ASSERT_EQ(variants.size(), 4u);
  EXPECT_EQ(variants[0].name, "BuyOrder");  // variant names keep their case
  EXPECT_FALSE(variants[0].fields.has_value());
  ASSERT_TRUE(variants[1].fields.has_value());
  EXPECT_TRUE(std::get<IdlDefinedFields::Named>(variants[1].fields->value).empty());
  const auto& tuple = std::get<IdlDefinedFields::Tuple>(variants[2].fields->value);
  ASSERT_EQ(tuple.size(), 2u);
  EXPECT_EQ(tuple[0].kind, IdlType::Kind::U8);
  EXPECT_EQ(tuple[1].defined().name, "Side");
  const auto& named = std::get<IdlDefinedFields::Named>(variants[3].fields->value);
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].name, "buy_order");
  EXPECT_EQ(named[0].docs, (Docs{"d"}));
  EXPECT_EQ(named[0].type.kind, IdlType::Kind::Pubkey);
  const IdlType& alias = std::get<IdlTypeDefTy::Type>(idl.types[1].type.value).alias;
  ASSERT_EQ(alias.kind, IdlType::Kind::Option);
  EXPECT_EQ(alias.inner().kind, IdlType::Kind::Pubkey);
}

// A canonical text of a converted type expression.
std::string text_of(const IdlType& type) {
  using K = IdlType::Kind;
  static const char* const kSimple[] = {"bool", "u8",   "i8",   "u16",   "i16",    "u32",
                                        "i32",  "f32",  "u64",  "i64",   "f64",    "u128",
                                        "i128", "u256", "i256", "bytes", "string", "pubkey"};
  switch (type.kind) {
    case K::Option:
      return "option<" + text_of(type.inner()) + ">";
    case K::Vec:
      return "vec<" + text_of(type.inner()) + ">";
    case K::Array: {
      const auto& len = type.array().len.value;
      std::string n = std::holds_alternative<std::uint64_t>(len)
                          ? std::to_string(std::get<std::uint64_t>(len))
                          : "$" + std::get<IdlArrayLen::Generic>(len).name;
      std::string text = "[";
      text.append(text_of(*type.array().element)).append(";").append(n).append("]");
      return text;
    }
    case K::Defined: {
      std::string text = type.defined().name;
      if (type.defined().generics.empty()) return text;
      text += "<";
      bool first = true;
      for (const IdlGenericArg& arg : type.defined().generics) {
        if (!first) text += ",";
        first = false;
        if (const auto* t = std::get_if<IdlGenericArg::Type>(&arg.value)) {
          text += text_of(*t->type);
        } else {
          text += "const " + std::get<IdlGenericArg::Const>(arg.value).value;
        }
      }
      return text + ">";
    }
    case K::Generic:
      return "$" + type.generic();
    default:
      return kSimple[static_cast<int>(type.kind)];
  }
}

TEST(ConvertTypes, TypeExpressions) {
  struct Row {
    std::string legacy;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {R"("bool")", "bool"},
      {R"("u8")", "u8"},
      {R"("i8")", "i8"},
      {R"("u16")", "u16"},
      {R"("i16")", "i16"},
      {R"("u32")", "u32"},
      {R"("i32")", "i32"},
      {R"("f32")", "f32"},
      {R"("u64")", "u64"},
      {R"("i64")", "i64"},
      {R"("f64")", "f64"},
      {R"("u128")", "u128"},
      {R"("i128")", "i128"},
      {R"("u256")", "u256"},
      {R"("i256")", "i256"},
      {R"("bytes")", "bytes"},
      {R"("string")", "string"},
      {R"("publicKey")", "pubkey"},
      {R"({"defined": "my_Type"})", "my_Type"},
      {R"({"option": "publicKey"})", "option<pubkey>"},
      {R"({"vec": {"vec": "u8"}})", "vec<vec<u8>>"},
      {R"({"array": [{"defined": "Order"}, 32]})", "[Order;32]"},
      {R"({"array": ["u8", 0]})", "[u8;0]"},
      {R"({"genericLenArray": ["publicKey", "N"]})", "[pubkey;$N]"},
      {R"({"generic": "T"})", "$T"},
      {R"({"definedWithTypeArgs": {"name": "Pair", "args": [{"generic": "T"}, {"value": "4"}, {"type": "publicKey"}]}})",
       "Pair<$T,const 4,pubkey>"},
      {R"({"definedWithTypeArgs": {"name": "Wrap", "args": []}})", "Wrap"},
      {R"({"definedWithTypeArgs": {"name": "Outer", "args": [{"type": {"definedWithTypeArgs": {"name": "In", "args": [{"type": {"option": "u8"}}]}}}]}})",
       "Outer<In<option<u8>>>"},
  };
  for (const Row& row : rows) {
    Idl idl = convert_ok(
        doc(R"("types": [{"name": "A", "type": {"kind": "alias", "value": )" + row.legacy + "}}]"));
    ASSERT_EQ(idl.types.size(), 1u) << row.legacy;
    EXPECT_EQ(text_of(std::get<IdlTypeDefTy::Type>(idl.types[0].type.value).alias), row.expected)
        << row.legacy;
  }

  // The generic arguments by variant: generic -> a type holding `generic`,
  // value -> a const, type -> a converted type.
  Idl idl = convert_ok(doc(R"("types": [{"name": "A", "type": {"kind": "alias", "value":
      {"definedWithTypeArgs": {"name": "Pair", "args": [{"generic": "T"}, {"value": "4"}, {"type": "publicKey"}]}}}}])"));
  const IdlType& pair = std::get<IdlTypeDefTy::Type>(idl.types.at(0).type.value).alias;
  ASSERT_EQ(pair.kind, IdlType::Kind::Defined);
  const auto& generics = pair.defined().generics;
  ASSERT_EQ(generics.size(), 3u);
  const IdlType& t = *std::get<IdlGenericArg::Type>(generics[0].value).type;
  ASSERT_EQ(t.kind, IdlType::Kind::Generic);
  EXPECT_EQ(t.generic(), "T");
  EXPECT_EQ(std::get<IdlGenericArg::Const>(generics[1].value).value, "4");
  EXPECT_EQ(std::get<IdlGenericArg::Type>(generics[2].value).type->kind, IdlType::Kind::Pubkey);
}

TEST(ConvertTypes, NamesThatAreNeverConverted) {
  Idl idl = convert_ok(doc(R"(
      "types": [{"name": "my_type", "type": {"kind": "struct", "fields": [{"name": "A", "type": {"generic": "MyParam"}}]}}],
      "events": [{"name": "my_event", "fields": []}],
      "errors": [{"code": 1, "name": "someError"}],
      "constants": [{"name": "camelConst", "type": "u8", "value": "1"}])"));
  EXPECT_EQ(idl.types.at(0).name, "my_type");
  EXPECT_EQ(named_fields(idl.types.at(0)).at(0).name, "a");
  EXPECT_EQ(named_fields(idl.types.at(0)).at(0).type.generic(), "MyParam");
  EXPECT_EQ(idl.events.at(0).name, "my_event");
  EXPECT_EQ(idl.types.at(1).name, "my_event");
  EXPECT_EQ(idl.errors.at(0).name, "someError");
  EXPECT_EQ(idl.constants.at(0).name, "camelConst");
}

}  // namespace
}  // namespace varkel::idl
