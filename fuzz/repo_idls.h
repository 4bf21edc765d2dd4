// Shared by the fuzz targets that decode against IDLs of the repository: the
// IDL lists under fuzz/data/ read into event registries (a bad entry ends the
// run), and a plain base64 encoder to build payload lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "base/result.h"
#include "decode/registry.h"
#include "fuzz/common.h"
#include "idl/load.h"

namespace varkel::fuzz {

inline std::string read_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) check_failed(path.c_str(), 0, "cannot read");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Calls visit(entry, registry) for every entry of fuzz/data/<list> (paths
// from the repository's root; blank lines and # comments skipped).
template <typename Visit>
void for_each_listed_idl(const char* list, Visit&& visit) {
  const std::string root = VARKEL_SOURCE_DIR;
  std::istringstream entries(read_text(root + "/fuzz/data/" + list));
  for (std::string entry; std::getline(entries, entry);) {
    if (entry.empty() || entry[0] == '#') continue;
    const std::string path = root + "/" + entry;
    Result<idl::Idl> idl = idl::load_idl(read_text(path));
    if (!idl) check_failed(path.c_str(), 0, idl.error().message.c_str());
    Result<decode::EventRegistry> registry = decode::build_registry(*idl);
    if (!registry) check_failed(path.c_str(), 0, registry.error().message.c_str());
    visit(entry, std::move(*registry));
  }
}

inline std::string encode_base64(const std::uint8_t* data, std::size_t size) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t n = size - i < 3 ? size - i : 3;
    std::uint32_t chunk = std::uint32_t{data[i]} << 16;
    if (n > 1) chunk |= std::uint32_t{data[i + 1]} << 8;
    if (n > 2) chunk |= data[i + 2];
    out += kAlphabet[(chunk >> 18) & 63];
    out += kAlphabet[(chunk >> 12) & 63];
    out += n > 1 ? kAlphabet[(chunk >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

}  // namespace varkel::fuzz
