// Borsh bytes of one event into Python values, directed by the decode plan.
#pragma once

#include "decode/borsh_reader.h"
#include "decode/key_table.h"
#include "decode/plan.h"
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

// An event's or struct's fields (a run of `plan`, whose keys are `keys`):
// dict for named fields, list for tuple fields, empty dict when absent.
DecodeResult decode_fields(const DecodePlan& plan, const KeyTable& keys, BorshReader& reader,
                           const FieldsRef& fields);

}  // namespace varkel::decode
