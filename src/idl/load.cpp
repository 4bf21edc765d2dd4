#include "idl/load.h"

#include <string>
#include <utility>

#include "idl/current_reader.h"
#include "idl/json.h"
#include "idl/legacy_road.h"

namespace varkel::idl {

Result<Idl> load_idl(std::string_view text) {
  Result<json::Value> root = json::parse(text);
  if (!root) return fail(std::move(root.error()));

  const json::Value* metadata = root->get("metadata");
  const json::Value* spec = metadata != nullptr ? metadata->get("spec") : nullptr;
  if (spec == nullptr || !spec->is_string()) return load_legacy(*root);
  if (spec->as_string() != "0.1.0") {
    return fail("IDL spec not supported: `" + spec->as_string() + "`");
  }
  return read_idl(*root);
}

}  // namespace varkel::idl
