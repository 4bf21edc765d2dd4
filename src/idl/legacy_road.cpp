#include "idl/legacy_road.h"

namespace varkel::idl {

Result<Idl> load_legacy(const json::Value&) { return fail("legacy IDL documents are not supported yet"); }

}  // namespace varkel::idl
