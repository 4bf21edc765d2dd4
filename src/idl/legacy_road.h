// The road of documents without a string metadata.spec: the older format,
// read and converted to the current model.
#pragma once

#include "idl/json.h"
#include "idl/model.h"
#include "result.h"

namespace varkel::idl {

// Reads `root` as a legacy document and converts it to the current model.
Result<Idl> load_legacy(const json::Value& root);

}  // namespace varkel::idl
