#include "idl/legacy_road.h"

#include <utility>

#include "idl/convert.h"
#include "idl/legacy_reader.h"

namespace varkel::idl {

Result<Idl> load_legacy(const json::Value& root) {
  Result<legacy::Idl> idl = read_legacy_idl(root);
  if (!idl) return fail(std::move(idl.error()));
  return convert_legacy_idl(std::move(*idl));
}

}  // namespace varkel::idl
