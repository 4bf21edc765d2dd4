// Decoded data as Python values: the Python-object sink of the plan walk
// (decode/walk.h).
//
//   bool, integers, floats   bool, int, float (f32 widened exactly)
//   u128, i128, u256, i256   int, exact
//   bytes, string            bytes, str
//   pubkey                   str: the base58 text
//   option                   None, or the value
//   vec, array               list
//   struct, named fields     dict in field order (a repeated name keeps the
//                            place of its first insertion and the value of
//                            its last); tuple fields: list; no fields: {}
//   enum                     a unit variant: its name (a new str); a variant
//                            with fields: {name: fields}
//
// Dict keys (field names, and the variant name of an enum value with fields)
// are the decoder's shared key objects (objects/keys.h), not a new str per
// key: equal as before, and identical across values.
//
// Lists are made at their final size when the walk finds the count plausible
// (tuple fields, whose count is the IDL's, and sequences whose count fits in
// the data at the element's minimal size) and filled in place; other
// sequences start empty and grow by appending, so that a count read from the
// data never reserves more than the data pays for.
//
// Failures: a failing append or item assignment is a failure of the value
// ("{type}: {text}" of the interpreter's exception), as is a failing
// int.from_bytes of a 256-bit integer; the interpreter failing to create an
// object is not: the whole call stops, with its exception pending.
#pragma once

#include <optional>

#include "base/result.h"
#include "decode/borsh_reader.h"
#include "decode/plan.h"
#include "objects/keys.h"
#include "py/pyref.h"

namespace varkel::objects {

// One decoded value, or why there is none.
struct Decoded {
  py::PyRef value;             // null on failure
  std::optional<Error> error;  // the data does not decode: what, and where (`path`)
  bool raised = false;         // the interpreter failed: its exception is pending
};

// An event's, an instruction's arguments' or a struct's fields (a run of
// `plan`, whose keys are `keys`): dict for named fields, list for tuple
// fields, empty dict when absent.
Decoded decode_fields(const decode::DecodePlan& plan, const KeyTable& keys, decode::BorshReader& reader,
                      const decode::FieldsRef& fields);

// An instruction's arguments (decode/walk.h, Walk::arguments): `missing`
// gets how many trailing ones the data leaves out (they are None).
Decoded decode_arguments(const decode::DecodePlan& plan, const KeyTable& keys, decode::BorshReader& reader,
                         const decode::FieldsRef& fields, std::uint32_t& missing);

// An account's value: the plan's node of its type, read as a memory image
// when `zero_copy` (decode/walk.h), else as Borsh.
Decoded decode_account_value(const decode::DecodePlan& plan, const KeyTable& keys,
                             decode::BorshReader& reader, std::uint32_t node, bool zero_copy);

// One value of the plan's type expression `node`.
Decoded decode_type(const decode::DecodePlan& plan, const KeyTable& keys, decode::BorshReader& reader,
                    std::uint32_t node);

}  // namespace varkel::objects
