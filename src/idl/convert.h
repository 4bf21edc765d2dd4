// Converting a legacy document to the current model: the program address
// from metadata.address, discriminators hashed from names, a struct type for
// every event, snake_case names for instructions, instruction accounts and
// fields.
#pragma once

#include "base/result.h"
#include "idl/legacy_model.h"
#include "idl/model.h"

namespace varkel::idl {

// Consumes `idl`. Fails only when metadata.address is not a string:
// "Program id missing in `idl.metadata.address` field".
Result<Idl> convert_legacy_idl(legacy::Idl idl);

}  // namespace varkel::idl
