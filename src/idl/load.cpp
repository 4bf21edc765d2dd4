#include "idl/load.h"

#include <string>
#include <utility>

#include "idl/convert.h"
#include "idl/current_reader.h"
#include "idl/legacy_reader.h"
#include "json/json.h"

namespace varkel::idl {

namespace {

// A document without a string metadata.spec: the older format, read and
// converted to the current model.
Result<Idl> load_legacy(const json::Value& root) {
  Result<legacy::Idl> idl = read_legacy_idl(root);
  if (!idl) return fail(std::move(idl.error()));
  return convert_legacy_idl(std::move(*idl));
}

}  // namespace

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
