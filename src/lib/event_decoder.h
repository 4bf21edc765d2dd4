// The EventDecoder type.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "columnar/schemas.h"
#include "decode/plan.h"
#include "decode/registry.h"
#include "objects/keys.h"
#include "py/pyref.h"

namespace varkel {

// What the constructor builds; never changed afterwards.
struct DecoderState {
  decode::EventRegistry registry;
  decode::DecodePlan plan;    // the registry's events compiled
  objects::KeyTable keys;     // the plan's keys as str objects
  py::PyRef idl_json;         // the IDL text it was built from (exact str), for pickling
  py::PyRef program_id;       // the program id given by with_program_id (str), else null
  columnar::Schemas schemas;  // the Arrow tables' layouts, each made at its first use
};

// Not tracked by the cyclic garbage collector: it holds only str objects,
// which cannot form cycles. The state lives in a block of its own: threads
// calling the decoder write its reference count, and the state, which every
// line reads, must not share a cache line with it.
struct EventDecoderObject {
  PyObject_HEAD const DecoderState* state;  // owned
};

// The type object, created at the first call in the process and kept for its
// whole life. Borrowed; null with an exception set if creation fails.
PyObject* event_decoder_type();

// A new decoder of the IDL text `idl_json` (a str), at program id
// `program_id` (a str) when given instead of the IDL's address. Null with
// an exception set.
PyObject* new_decoder(PyObject* idl_json, PyObject* program_id);

// Records the module function that unpickling calls to rebuild a decoder from
// its IDL text (the first module object's; kept for the life of the process).
// 0, or -1 with an exception set.
int publish_decoder_rebuilder(PyObject* function);

}  // namespace varkel
