// Real legacy IDL documents: those without metadata.address are refused with
// the address message, one with a float error code is refused by the reader,
// and with an address added every other one loads; its events pair with the
// structs built from their inline fields, and every named type they reach
// resolves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "decode/registry.h"
#include "idl/case.h"
#include "idl/load.h"
#include "idl/sha256.h"
#include "json/json.h"

namespace varkel::idl {
namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(VARKEL_FIXTURES) / "idl" / "legacy";
const char kNoAddress[] = "Program id missing in `idl.metadata.address` field";
const char kFloatCode[] = "invalid type: floating point `6000.0`, expected u32";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::vector<fs::path> fixture_files() {
  std::vector<fs::path> files;
  if (!fs::is_directory(kFixtures)) return files;
  for (const auto& entry : fs::directory_iterator(kFixtures)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool has_address(const json::Value& root) {
  const json::Value* metadata = root.get("metadata");
  const json::Value* address = metadata != nullptr ? metadata->get("address") : nullptr;
  return address != nullptr && address->is_string();
}

// The member `key` of `object`, inserted as null in key order when missing.
json::Value& member(json::Object& object, const std::string& key) {
  auto it = std::lower_bound(object.begin(), object.end(), key,
                             [](const json::Member& m, const std::string& k) { return m.first < k; });
  if (it == object.end() || it->first != key) it = object.insert(it, json::Member{key, json::Value{}});
  return it->second;
}

// Sets metadata.address, replacing a metadata value that is not an object.
void set_address(json::Value& root, const std::string& address) {
  json::Value& metadata = member(std::get<json::Object>(root.data), "metadata");
  if (!metadata.is_object()) metadata = json::Value{json::Object{}};
  member(std::get<json::Object>(metadata.data), "address") = json::Value{address};
}

// The names a document gives its types, and the names its type expressions
// refer to (`defined` and `definedWithTypeArgs`), found by walking the JSON.
struct DocNames {
  std::set<std::string> declared;
  std::set<std::string> referenced;
};

void collect_references(const json::Value& value, std::set<std::string>& out) {
  if (value.is_array()) {
    for (const json::Value& item : value.as_array()) collect_references(item, out);
  } else if (value.is_object()) {
    for (const auto& [key, member] : value.as_object()) {
      if (key == "defined" && member.is_string()) out.insert(member.as_string());
      if (key == "definedWithTypeArgs" && member.get("name") != nullptr)
        out.insert(member.get("name")->as_string());
      collect_references(member, out);
    }
  }
}

DocNames doc_names(const json::Value& root) {
  DocNames names;
  for (const char* list : {"types", "accounts", "events"}) {
    const json::Value* items = root.get(list);
    if (items == nullptr || !items->is_array()) continue;
    for (const json::Value& item : items->as_array()) names.declared.insert(item.get("name")->as_string());
  }
  collect_references(root, names.referenced);
  return names;
}

// Every `defined` name reachable from `type` is one the document wrote, and
// it resolves exactly when the document declares it.
void expect_resolves(const IdlType& type, const decode::EventRegistry& registry, const DocNames& names,
                     const std::string& where) {
  switch (type.kind) {
    case IdlType::Kind::Option:
    case IdlType::Kind::Vec:
      expect_resolves(type.inner(), registry, names, where);
      break;
    case IdlType::Kind::Array:
      expect_resolves(*type.array().element, registry, names, where);
      break;
    case IdlType::Kind::Defined: {
      const std::string& name = type.defined().name;
      EXPECT_TRUE(names.referenced.contains(name)) << where << ": " << name;
      EXPECT_EQ(registry.find_type(name) != nullptr, names.declared.contains(name)) << where << ": " << name;
      break;
    }
    default:
      break;
  }
}

void expect_fields_resolve(const std::optional<IdlDefinedFields>& fields,
                           const decode::EventRegistry& registry, const DocNames& names,
                           const std::string& where) {
  if (!fields) return;
  if (const auto* named = std::get_if<IdlDefinedFields::Named>(&fields->value)) {
    for (const IdlField& field : *named)
      expect_resolves(field.type, registry, names, where + "." + field.name);
  } else {
    for (const IdlType& type : std::get<IdlDefinedFields::Tuple>(fields->value)) {
      expect_resolves(type, registry, names, where);
    }
  }
}

TEST(LegacyFixtures, RefusedWithoutAddressThenLoadWithOne) {
  const std::vector<fs::path> files = fixture_files();
  if (files.empty()) GTEST_SKIP() << "no legacy fixtures at " << kFixtures;
  int loaded = 0;
  int events_seen = 0;
  for (const fs::path& path : files) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const std::string text = read_file(path);
    Result<json::Value> root = json::parse(text);
    ASSERT_TRUE(root.has_value()) << root.error();

    Result<Idl> as_is = load_idl(text);
    if (name == "meteora-lb_clmm.json") {
      ASSERT_FALSE(as_is.has_value());
      EXPECT_EQ(as_is.error(), kFloatCode);
    } else if (has_address(*root)) {
      EXPECT_TRUE(as_is.has_value()) << as_is.error();
    } else {
      ASSERT_FALSE(as_is.has_value());
      EXPECT_EQ(as_is.error(), kNoAddress);
    }

    json::Value with_address = *root;
    set_address(with_address, "Addr" + name);
    Result<Idl> idl = load_idl(json::to_compact(with_address));
    if (name == "meteora-lb_clmm.json") {
      ASSERT_FALSE(idl.has_value());
      EXPECT_EQ(idl.error(), kFloatCode);
      continue;
    }
    ASSERT_TRUE(idl.has_value()) << idl.error();
    ++loaded;
    EXPECT_EQ(idl->address, "Addr" + name);
    EXPECT_EQ(idl->metadata.spec, "0.1.0");

    // Straight from the JSON: instructions, events and their fields.
    const json::Array& instructions = root->get("instructions")->as_array();
    ASSERT_EQ(idl->instructions.size(), instructions.size());
    for (std::size_t i = 0; i < instructions.size(); ++i) {
      const std::string snake = to_snake_case(instructions[i].get("name")->as_string());
      EXPECT_EQ(idl->instructions[i].name, snake);
      const auto disc = legacy_discriminator("global", snake);
      EXPECT_EQ(idl->instructions[i].discriminator, ByteVec(disc.begin(), disc.end()));
    }
    const json::Value* events_json = root->get("events");
    const json::Array no_events;
    const json::Array& events =
        events_json != nullptr && events_json->is_array() ? events_json->as_array() : no_events;
    const auto count_of = [&](const char* key) {
      const json::Value* list = root->get(key);
      return list != nullptr && list->is_array() ? list->as_array().size() : 0;
    };
    EXPECT_EQ(idl->types.size(), count_of("types") + count_of("accounts") + events.size());
    EXPECT_EQ(idl->accounts.size(), count_of("accounts"));

    const DocNames names = doc_names(*root);
    Result<decode::EventRegistry> registry = decode::build_registry(*idl);
    ASSERT_TRUE(registry.has_value()) << registry.error();
    ASSERT_EQ(registry->events.size(), events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
      const decode::EventEntry& entry = registry->events[i];
      const std::string& event_name = events[i].get("name")->as_string();
      EXPECT_EQ(entry.name, event_name);
      const auto disc = legacy_discriminator("event", event_name);
      EXPECT_EQ(entry.discriminator, ByteVec(disc.begin(), disc.end()));
      ASSERT_TRUE(entry.fields.has_value()) << event_name;
      const auto& fields = std::get<IdlDefinedFields::Named>(entry.fields->value);
      const json::Array& legacy_fields = events[i].get("fields")->as_array();
      ASSERT_EQ(fields.size(), legacy_fields.size()) << event_name;
      for (std::size_t f = 0; f < fields.size(); ++f) {
        EXPECT_EQ(fields[f].name, to_snake_case(legacy_fields[f].get("name")->as_string())) << event_name;
      }
      expect_fields_resolve(entry.fields, *registry, names, event_name);
      ++events_seen;
    }
    for (const auto& [type_name, def] : registry->types) {
      if (const auto* body = std::get_if<IdlTypeDefTy::Struct>(&def.type.value)) {
        expect_fields_resolve(body->fields, *registry, names, type_name);
      } else if (const auto* enumeration = std::get_if<IdlTypeDefTy::Enum>(&def.type.value)) {
        for (const IdlEnumVariant& variant : enumeration->variants) {
          expect_fields_resolve(variant.fields, *registry, names, type_name + "::" + variant.name);
        }
      }
    }
  }
  EXPECT_EQ(loaded, static_cast<int>(files.size()) - 1);
  EXPECT_GT(events_seen, 100);
}

}  // namespace
}  // namespace varkel::idl
