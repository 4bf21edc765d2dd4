// The record types: immutable records of what a transaction holds (struct
// sequences, so cheap to create, tuples of their fields, hashable when their
// values are, picklable under their names):
//   varkel.Event        one attributed event
//   varkel.Instruction  one instruction of a decoder's program
//   varkel.Transaction  one transaction's decoded contents
//   varkel.Account      one account of a decoder's program
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace varkel {

// The type objects, created at the first call in the process and kept for
// its whole life. Borrowed; null with an exception set if creation fails.
PyObject* event_type();
PyObject* instruction_type();
PyObject* transaction_type();
PyObject* account_type();

}  // namespace varkel
