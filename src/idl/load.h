// Reading an IDL document: JSON text to the model, for both formats.
#pragma once

#include <string_view>

#include "base/result.h"
#include "idl/model.h"

namespace varkel::idl {

// Parses `text` and reads it as a current-format document when
// metadata.spec is a string ("0.1.0" exactly; any other string is refused),
// and as a legacy document, converted to the current model, otherwise.
Result<Idl> load_idl(std::string_view text);

}  // namespace varkel::idl
