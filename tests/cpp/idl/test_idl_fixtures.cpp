// Real current-format IDL documents: each loads, and the model agrees with an
// independent walk of the same JSON; truncated and mutated documents fail
// with a message and never crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "idl/current_reader.h"
#include "idl/load.h"
#include "json/json.h"

namespace varkel::idl {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::vector<fs::path> json_files(const fs::path& dir) {
  std::vector<fs::path> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

const fs::path kTestData = fs::path(VARKEL_TEST_DATA) / "idl" / "current";
const fs::path kFixtures = fs::path(VARKEL_FIXTURES) / "idl" / "current";

// ------------------------------------------------- canonical type texts

// One canonical text per type expression, built once from the model and once
// straight from the JSON: "u8", "option<T>", "vec<T>", "[T;32]", "[T;$N]",
// "Name<T,4>", "$T".
std::string model_text(const IdlType& type);

std::string array_text(const std::string& element, const std::string& len) {
  std::string text = "[";
  text.append(element).append(";").append(len).append("]");
  return text;
}

std::string model_text(const IdlGenericArg& arg) {
  if (const auto* t = std::get_if<IdlGenericArg::Type>(&arg.value)) return model_text(*t->type);
  return std::get<IdlGenericArg::Const>(arg.value).value;
}

std::string model_text(const IdlType& type) {
  static const char* const kNames[] = {"bool", "u8",   "i8",   "u16",   "i16",    "u32",
                                       "i32",  "f32",  "u64",  "i64",   "f64",    "u128",
                                       "i128", "u256", "i256", "bytes", "string", "pubkey"};
  switch (type.kind) {
    case IdlType::Kind::Option:
      return "option<" + model_text(type.inner()) + ">";
    case IdlType::Kind::Vec:
      return "vec<" + model_text(type.inner()) + ">";
    case IdlType::Kind::Array: {
      const auto& len = type.array().len.value;
      std::string n = std::holds_alternative<std::uint64_t>(len)
                          ? std::to_string(std::get<std::uint64_t>(len))
                          : "$" + std::get<IdlArrayLen::Generic>(len).name;
      return array_text(model_text(*type.array().element), n);
    }
    case IdlType::Kind::Defined: {
      std::string text = type.defined().name;
      if (!type.defined().generics.empty()) {
        text += "<";
        for (std::size_t i = 0; i < type.defined().generics.size(); ++i) {
          if (i != 0) text += ",";
          text += model_text(type.defined().generics[i]);
        }
        text += ">";
      }
      return text;
    }
    case IdlType::Kind::Generic:
      return "$" + type.generic();
    default:
      return kNames[static_cast<int>(type.kind)];
  }
}

std::string json_text(const json::Value& type) {
  if (type.is_string()) return type.as_string();
  const json::Object& object = type.as_object();
  const std::string& key = object.at(0).first;
  const json::Value& payload = object.at(0).second;
  if (key == "option" || key == "vec") return key + "<" + json_text(payload) + ">";
  if (key == "generic") return "$" + payload.as_string();
  if (key == "array") {
    const json::Value& len = payload.as_array().at(1);
    std::string n = len.is_object() ? "$" + len.get("generic")->as_string() : std::to_string(len.as_uint());
    return array_text(json_text(payload.as_array().at(0)), n);
  }
  EXPECT_EQ(key, "defined");
  std::string text = payload.get("name")->as_string();
  const json::Value* generics = payload.get("generics");
  if (generics != nullptr && !generics->as_array().empty()) {
    text += "<";
    bool first = true;
    for (const json::Value& arg : generics->as_array()) {
      if (!first) text += ",";
      first = false;
      text += arg.get("kind")->as_string() == "type" ? json_text(*arg.get("type"))
                                                     : arg.get("value")->as_string();
    }
    text += ">";
  }
  return text;
}

// ------------------------------------------------ model against JSON

const json::Array& list_or_empty(const json::Value& object, std::string_view key) {
  static const json::Array empty;
  const json::Value* value = object.get(key);
  return value != nullptr ? value->as_array() : empty;
}

ByteVec bytes_of(const json::Value& list) {
  ByteVec bytes;
  for (const json::Value& b : list.as_array()) bytes.push_back(static_cast<std::uint8_t>(b.as_uint()));
  return bytes;
}

void expect_fields_match(const std::optional<IdlDefinedFields>& fields, const json::Value* json_fields,
                         const std::string& where) {
  if (json_fields == nullptr || json_fields->is_null()) {
    EXPECT_FALSE(fields.has_value()) << where;
    return;
  }
  ASSERT_TRUE(fields.has_value()) << where;
  const json::Array& items = json_fields->as_array();
  if (items.empty() || (items[0].is_object() && items[0].get("name") != nullptr)) {
    ASSERT_TRUE(std::holds_alternative<IdlDefinedFields::Named>(fields->value)) << where;
    const auto& named = std::get<IdlDefinedFields::Named>(fields->value);
    ASSERT_EQ(named.size(), items.size()) << where;
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(named[i].name, items[i].get("name")->as_string()) << where;
      EXPECT_EQ(model_text(named[i].type), json_text(*items[i].get("type"))) << where << "." << named[i].name;
    }
  } else {
    ASSERT_TRUE(std::holds_alternative<IdlDefinedFields::Tuple>(fields->value)) << where;
    const auto& tuple = std::get<IdlDefinedFields::Tuple>(fields->value);
    ASSERT_EQ(tuple.size(), items.size()) << where;
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(model_text(tuple[i]), json_text(items[i])) << where << "." << i;
    }
  }
}

void expect_matches(const Idl& idl, const json::Value& root, const std::string& label) {
  EXPECT_EQ(idl.address, root.get("address")->as_string()) << label;
  EXPECT_EQ(idl.metadata.name, root.get("metadata")->get("name")->as_string()) << label;

  const json::Array& events = list_or_empty(root, "events");
  ASSERT_EQ(idl.events.size(), events.size()) << label;
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(idl.events[i].name, events[i].get("name")->as_string()) << label;
    EXPECT_EQ(idl.events[i].discriminator, bytes_of(*events[i].get("discriminator"))) << label;
  }

  const json::Array& types = list_or_empty(root, "types");
  ASSERT_EQ(idl.types.size(), types.size()) << label;
  for (std::size_t i = 0; i < types.size(); ++i) {
    const IdlTypeDef& def = idl.types[i];
    const std::string where = label + ":" + def.name;
    EXPECT_EQ(def.name, types[i].get("name")->as_string()) << where;
    EXPECT_EQ(def.generics.size(), list_or_empty(types[i], "generics").size()) << where;
    EXPECT_EQ(def.repr.has_value(), types[i].get("repr") != nullptr) << where;
    const json::Value& body = *types[i].get("type");
    const std::string& kind = body.get("kind")->as_string();
    if (kind == "struct") {
      ASSERT_TRUE(std::holds_alternative<IdlTypeDefTy::Struct>(def.type.value)) << where;
      expect_fields_match(std::get<IdlTypeDefTy::Struct>(def.type.value).fields, body.get("fields"), where);
    } else if (kind == "enum") {
      ASSERT_TRUE(std::holds_alternative<IdlTypeDefTy::Enum>(def.type.value)) << where;
      const auto& variants = std::get<IdlTypeDefTy::Enum>(def.type.value).variants;
      const json::Array& json_variants = body.get("variants")->as_array();
      ASSERT_EQ(variants.size(), json_variants.size()) << where;
      for (std::size_t v = 0; v < variants.size(); ++v) {
        EXPECT_EQ(variants[v].name, json_variants[v].get("name")->as_string()) << where;
        expect_fields_match(variants[v].fields, json_variants[v].get("fields"),
                            where + "::" + variants[v].name);
      }
    } else {
      ASSERT_EQ(kind, "type") << where;
      ASSERT_TRUE(std::holds_alternative<IdlTypeDefTy::Type>(def.type.value)) << where;
      EXPECT_EQ(model_text(std::get<IdlTypeDefTy::Type>(def.type.value).alias), json_text(*body.get("alias")))
          << where;
    }
  }

  const json::Array& instructions = root.get("instructions")->as_array();
  ASSERT_EQ(idl.instructions.size(), instructions.size()) << label;
  for (std::size_t i = 0; i < instructions.size(); ++i) {
    const IdlInstruction& ix = idl.instructions[i];
    EXPECT_EQ(ix.name, instructions[i].get("name")->as_string()) << label;
    EXPECT_EQ(ix.accounts.size(), instructions[i].get("accounts")->as_array().size())
        << label << ":" << ix.name;
    const json::Array& args = instructions[i].get("args")->as_array();
    ASSERT_EQ(ix.args.size(), args.size()) << label << ":" << ix.name;
    for (std::size_t a = 0; a < args.size(); ++a) {
      EXPECT_EQ(model_text(ix.args[a].type), json_text(*args[a].get("type"))) << label << ":" << ix.name;
    }
  }

  EXPECT_EQ(idl.errors.size(), list_or_empty(root, "errors").size()) << label;
  EXPECT_EQ(idl.accounts.size(), list_or_empty(root, "accounts").size()) << label;
  EXPECT_EQ(idl.constants.size(), list_or_empty(root, "constants").size()) << label;
}

void check_files(const std::vector<fs::path>& files) {
  for (const fs::path& path : files) {
    const std::string text = read_file(path);
    Result<Idl> idl = load_idl(text);
    ASSERT_TRUE(idl.has_value()) << path.filename() << ": " << idl.error();
    Result<json::Value> root = json::parse(text);
    ASSERT_TRUE(root.has_value());
    expect_matches(*idl, *root, path.filename().string());
  }
}

TEST(IdlFixtures, BundledDocumentsMatchTheirJson) {
  std::vector<fs::path> files = json_files(kTestData);
  ASSERT_EQ(files.size(), 3u) << kTestData;
  check_files(files);
}

TEST(IdlFixtures, SharedDocumentsMatchTheirJson) {
  std::vector<fs::path> files = json_files(kFixtures);
  if (files.empty()) GTEST_SKIP() << "no fixtures at " << kFixtures;
  check_files(files);
}

TEST(IdlFixtures, ReferenceDocumentContents) {
  Result<Idl> idl = load_idl(read_file(kTestData / "anchor-tests-external.json"));
  ASSERT_TRUE(idl.has_value()) << idl.error();
  ASSERT_EQ(idl->events.size(), 1u);
  EXPECT_EQ(idl->events[0].name, "MyEvent");
  EXPECT_EQ(idl->events[0].discriminator, (ByteVec{96, 184, 197, 243, 139, 2, 90, 148}));
  const auto it = std::find_if(idl->types.begin(), idl->types.end(),
                               [](const IdlTypeDef& def) { return def.name == "MyEvent"; });
  ASSERT_NE(it, idl->types.end());
  const auto& fields = std::get<IdlTypeDefTy::Struct>(it->type.value).fields;
  ASSERT_TRUE(fields.has_value());
  const auto& named = std::get<IdlDefinedFields::Named>(fields->value);
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].name, "value");
  EXPECT_EQ(named[0].type.kind, IdlType::Kind::U32);
}

// ---------------------------------------------------------- robustness

TEST(IdlFixtures, EveryTruncationFailsWithAMessage) {
  const std::string text = read_file(kTestData / "anchor-tests-external.json");
  ASSERT_FALSE(text.empty());
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  for (std::size_t n = 0; n < text.size(); ++n) {
    Result<Idl> idl = load_idl(std::string_view(text).substr(0, n));
    if (n > last) {
      EXPECT_TRUE(idl.has_value()) << n;
    } else {
      ASSERT_FALSE(idl.has_value()) << n;
      EXPECT_FALSE(idl.error().message.empty()) << n;
    }
  }
}

void collect(json::Value& value, std::vector<json::Value*>& nodes) {
  nodes.push_back(&value);
  if (value.is_array()) {
    for (json::Value& item : std::get<json::Array>(value.data)) collect(item, nodes);
  } else if (value.is_object()) {
    for (json::Member& member : std::get<json::Object>(value.data)) collect(member.second, nodes);
  }
}

json::Value scalar(std::mt19937_64& rng) {
  static const char* const kStrings[] = {"u7", "u8",    "struct",  "enum",    "type",   "const",       "kind",
                                         "",   "0.1.0", "defined", "generic", "custom", "transparent", "N"};
  switch (rng() % 6) {
    case 0:
      return json::Value{nullptr};
    case 1: {
      static const std::uint64_t kInts[] = {0, 1, 2, 3, 255, 256, 4294967296};
      return json::Value{kInts[rng() % 7]};
    }
    case 2:
      return json::Value{std::int64_t{-1}};
    case 3:
      return json::Value{1.0};
    case 4:
      return json::Value{rng() % 2 == 0};
    default:
      return json::Value{std::string(kStrings[rng() % std::size(kStrings)])};
  }
}

// One random change somewhere in `root`.
void mutate(json::Value& root, std::mt19937_64& rng) {
  std::vector<json::Value*> nodes;
  collect(root, nodes);
  json::Value& node = *nodes[rng() % nodes.size()];
  switch (rng() % 7) {
    case 0:
      node = scalar(rng);
      return;
    case 1:
      node = json::Value{rng() % 2 == 0 ? json::Value{json::Array{}} : json::Value{json::Object{}}};
      return;
    case 2:  // drop a member or element
      if (node.is_object() && !node.as_object().empty()) {
        auto& members = std::get<json::Object>(node.data);
        members.erase(members.begin() + static_cast<std::ptrdiff_t>(rng() % members.size()));
      } else if (node.is_array() && !node.as_array().empty()) {
        auto& items = std::get<json::Array>(node.data);
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(rng() % items.size()));
      }
      return;
    case 3:  // add or replace a member with a well-known key
      if (node.is_object()) {
        static const char* const kKeys[] = {"kind",  "name",    "type",  "fields",   "accounts", "generics",
                                            "array", "defined", "alias", "variants", "seeds",    "value"};
        std::string key = kKeys[rng() % std::size(kKeys)];
        auto& members = std::get<json::Object>(node.data);
        auto at = std::lower_bound(members.begin(), members.end(), key,
                                   [](const json::Member& m, const std::string& k) { return m.first < k; });
        if (at != members.end() && at->first == key) {
          at->second = scalar(rng);
        } else {
          members.insert(at, json::Member{key, scalar(rng)});
        }
      }
      return;
    case 4: {  // the positional form of an object
      if (node.is_object()) {
        json::Array values;
        for (const json::Member& member : node.as_object()) values.push_back(member.second);
        node = json::Value{std::move(values)};
      }
      return;
    }
    case 5: {  // a copy of another subtree
      json::Value copy = *nodes[rng() % nodes.size()];
      node = std::move(copy);
      return;
    }
    default:  // wrap in an array
      node = json::Value{json::Array{node}};
      return;
  }
}

TEST(IdlFixtures, RandomMutationsNeverCrash) {
  const std::string text = read_file(kTestData / "anchor-tests-idl.json");
  Result<json::Value> original = json::parse(text);
  ASSERT_TRUE(original.has_value());
  std::mt19937_64 rng(20240611);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    json::Value value = *original;
    const int changes = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < changes; ++i) mutate(value, rng);
    Result<Idl> idl = round % 4 == 0 ? load_idl(json::to_compact(value)) : read_idl(value);
    if (idl) {
      ++loaded;
    } else {
      EXPECT_FALSE(idl.error().message.empty()) << round;
    }
  }
  // Most single changes land in places the reader ignores or accepts.
  EXPECT_GT(loaded, 0);
  EXPECT_LT(loaded, 3000);
}

TEST(IdlFixtures, RandomByteEditsNeverCrash) {
  const std::string text = read_file(kTestData / "anchor-tests-generics.json");
  static const char kBytes[] = "{}[]\",:0123456789-.eEtrufalsn \\u";
  std::mt19937_64 rng(7);
  for (int round = 0; round < 2000; ++round) {
    std::string edited = text;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < edits && !edited.empty(); ++i) {
      const std::size_t at = rng() % edited.size();
      switch (rng() % 3) {
        case 0:
          edited[at] = kBytes[rng() % (sizeof(kBytes) - 1)];
          break;
        case 1:
          edited.erase(at, 1 + rng() % 8);
          break;
        default:
          edited.insert(at, edited.substr(rng() % edited.size(), 1 + rng() % 16));
          break;
      }
    }
    Result<Idl> idl = load_idl(edited);
    if (!idl) {
      EXPECT_FALSE(idl.error().message.empty()) << round;
    }
  }
}

}  // namespace
}  // namespace varkel::idl
