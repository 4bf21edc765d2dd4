// Mapping of failures to Python exceptions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "py/pyref.h"

namespace varkel::py {

// The internal-error exception class (derives from BaseException), created
// once per process on first use. Borrowed; null with an exception set if it
// cannot be created.
PyObject* internal_error_type();

// Raises the internal-error exception with `message`. Returns null.
PyObject* raise_internal_error(std::string_view message);

// The interpreter failed where nothing may fail (it could not create an
// object): a pending MemoryError stays as it is, so that running out of
// memory reads the same from every entry point, and so does an internal
// error already raised; any other pending exception becomes the
// internal-error exception with the text "{type}: {text}".
// Returns null, for `return py::fail_as_internal();`.
std::nullptr_t fail_as_internal();

// TypeError "argument '{param}': '{type}' object is not an instance of
// '{target}'" ("'None' is not an instance of ..." for None), with or without
// the "argument '{param}': " prefix (param null). Returns null.
PyObject* raise_not_instance(const char* param, PyObject* obj, const char* target);

// iter(obj); where `obj` is not iterable, null with the TypeError of
// raise_not_instance(param, obj, target) (other failures pass as they are).
PyRef iterate(PyObject* obj, const char* param, const char* target);

// The text "{type}: {str(exc)}" of the pending exception, which is cleared
// ("SystemError: error return without exception set" when none is pending).
std::string take_exception_text();

}  // namespace varkel::py
