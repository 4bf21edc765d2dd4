// The EventTable type: one event name's table from parse_logs_arrow, handed
// to Arrow libraries through the Arrow PyCapsule interface.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "columnar/array_data.h"

namespace varkel {

// The type object, created at the first call in the process and kept for its
// whole life. Borrowed; null with an exception set if creation fails.
PyObject* event_table_type();

// A new EventTable holding `table`; null with an exception set.
PyObject* make_event_table(std::shared_ptr<const columnar::Table> table);

}  // namespace varkel
