// The Event type: an immutable record of one attributed event (a struct
// sequence, so cheap to create, a tuple of its fields, hashable when its data
// is, and picklable as varkel.Event).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace varkel {

// The type object, created at the first call in the process and kept for its
// whole life. Borrowed; null with an exception set if creation fails.
PyObject* event_type();

}  // namespace varkel
