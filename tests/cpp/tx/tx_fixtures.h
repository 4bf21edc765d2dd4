// Shared by the transaction tests: the real transactions and logs of the
// shared fixtures, registries from their IDLs, and short program ids for
// synthetic logs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "decode/registry.h"
#include "idl/load.h"
#include "json/json.h"

namespace varkel::tx::testing {

namespace fs = std::filesystem;

inline const fs::path kLogFixtures = fs::path(VARKEL_FIXTURES) / "logs";
inline const fs::path kIdlFixtures = fs::path(VARKEL_FIXTURES) / "idl";

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// The fixture's text, or nullopt (and the test skipped) when the fixtures are
// absent.
inline std::optional<std::string> fixture_text(const fs::path& path) {
  if (!fs::exists(path)) return std::nullopt;
  return read_file(path);
}

#define VARKEL_FIXTURE_OR_SKIP(var, path)                                                  \
  const std::optional<std::string> var##_text = ::varkel::tx::testing::fixture_text(path); \
  if (!var##_text) GTEST_SKIP() << "fixture not available: " << (path);                    \
  const std::string& var = *var##_text

// Every list of log lines in a JSON document (lists of strings among which
// one starts with "Program "), in document order.
inline void collect_log_lists(const json::Value& value, std::vector<std::vector<std::string>>& out) {
  if (value.is_object()) {
    for (const auto& [key, item] : value.as_object()) collect_log_lists(item, out);
    return;
  }
  if (!value.is_array()) return;
  const json::Array& items = value.as_array();
  bool strings = !items.empty();
  bool program = false;
  for (const json::Value& item : items) {
    if (!item.is_string()) {
      strings = false;
      break;
    }
    program = program || item.as_string().starts_with("Program ");
  }
  if (strings && program) {
    std::vector<std::string> lines;
    for (const json::Value& item : items) lines.push_back(item.as_string());
    out.push_back(std::move(lines));
    return;
  }
  for (const json::Value& item : items) collect_log_lists(item, out);
}

// All log lists of all JSON fixtures in logs/, with the file they come from.
struct FixtureLogs {
  std::string file;
  std::vector<std::string> lines;
};

inline std::vector<FixtureLogs> all_fixture_logs() {
  std::vector<FixtureLogs> out;
  if (!fs::is_directory(kLogFixtures)) return out;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kLogFixtures)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& path : files) {
    Result<json::Value> root = json::parse(read_file(path));
    if (!root) continue;
    std::vector<std::vector<std::string>> lists;
    collect_log_lists(*root, lists);
    for (auto& lines : lists) out.push_back({path.filename().string(), std::move(lines)});
  }
  return out;
}

inline std::vector<std::string_view> views(const std::vector<std::string>& lines) {
  return std::vector<std::string_view>(lines.begin(), lines.end());
}

// The member `key` of `object`, inserted as null in key order when missing.
inline json::Value& member(json::Object& object, const std::string& key) {
  auto it = std::lower_bound(object.begin(), object.end(), key,
                             [](const json::Member& m, const std::string& k) { return m.first < k; });
  if (it == object.end() || it->first != key) it = object.insert(it, json::Member{key, json::Value{}});
  return it->second;
}

// A registry from an IDL fixture ("current/okx-dex_solana.json"); `address`
// fills a legacy IDL's missing metadata.address.
inline std::optional<decode::EventRegistry> fixture_registry(const std::string& relative,
                                                             const std::string& address = "") {
  const fs::path path = kIdlFixtures / relative;
  if (!fs::exists(path)) return std::nullopt;
  std::string text = read_file(path);
  if (!address.empty()) {
    // metadata.address of a legacy document, set on the parsed document.
    Result<json::Value> root = json::parse(text);
    if (!root || !root->is_object()) return std::nullopt;
    json::Value& metadata = member(std::get<json::Object>(root->data), "metadata");
    if (!metadata.is_object()) metadata.data = json::Object{};
    member(std::get<json::Object>(metadata.data), "address").data = address;
    text = json::to_compact(*root);
  }
  Result<idl::Idl> idl = idl::load_idl(text);
  if (!idl) return std::nullopt;
  Result<decode::EventRegistry> registry = decode::build_registry(*idl);
  if (!registry) return std::nullopt;
  return std::move(*registry);
}

// A program id for synthetic logs: 32 copies of one base58 character.
inline std::string pid(char c) {
  return std::string(32, c);
}

}  // namespace varkel::tx::testing
