// The EventTable type: one table of rows (parse_logs_arrow's events of one
// name; decode_tables' events or instructions of one name and program;
// decode_accounts_arrow's accounts of one type), handed to Arrow libraries
// through the Arrow PyCapsule interface.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <string_view>
#include <vector>

#include "columnar/array_data.h"

namespace varkel {

// The type object, created at the first call in the process and kept for its
// whole life. Borrowed; null with an exception set if creation fails.
PyObject* event_table_type();

// A new EventTable holding `table`, of rows of `kind` ("event",
// "instruction" or "account", a static string) of program `program` (empty:
// not known); null with an exception set.
PyObject* make_event_table(std::shared_ptr<const columnar::Table> table, const char* kind,
                           std::string_view program);

// A new dict from each table's name to a new EventTable of it (as
// make_event_table); null with an exception set.
PyObject* tables_by_name(std::vector<std::shared_ptr<const columnar::Table>> tables, const char* kind,
                         std::string_view program);

}  // namespace varkel
