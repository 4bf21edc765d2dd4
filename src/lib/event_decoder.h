// The EventDecoder type.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "decode/registry.h"

namespace varkel {

struct EventDecoderObject {
  PyObject_HEAD decode::EventRegistry registry;  // built by the constructor, never changed
  PyObject* idl_json;                            // the IDL text it was built from (exact str), for pickling
};

// The type object, created at the first call in the process and kept for its
// whole life. Borrowed; null with an exception set if creation fails.
PyObject* event_decoder_type();

// Records the module function that unpickling calls to rebuild a decoder from
// its IDL text (the first module object's; kept for the life of the process).
// 0, or -1 with an exception set.
int publish_decoder_rebuilder(PyObject* function);

}  // namespace varkel
