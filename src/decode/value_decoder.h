// Borsh bytes of one event into Python values, directed by the IDL types.
#pragma once

#include <optional>

#include "decode/borsh_reader.h"
#include "decode/registry.h"
#include "idl/model.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace varkel::decode {

// A new reference, or the decode error (`internal` set when the interpreter
// failed to create an object).
using DecodeResult = std::expected<py::PyRef, DecodeError>;

// The pending Python exception as a decode error "{type}: {text}" (clears it).
inline DecodeError error_from_python() {
  return DecodeError{py::take_exception_text(), false};
}

// An event's or struct's fields: dict for named fields, list for tuple fields,
// empty dict when absent.
DecodeResult decode_fields(const EventRegistry& registry, BorshReader& reader,
                           const std::optional<idl::IdlDefinedFields>& fields);

DecodeResult decode_type(const EventRegistry& registry, BorshReader& reader, const idl::IdlType& type);

DecodeResult decode_defined(const EventRegistry& registry, BorshReader& reader, std::string_view name);

}  // namespace varkel::decode
