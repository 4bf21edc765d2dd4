// Binding of the single parameter that each entry point takes, by position
// or by keyword, with the interpreter's usual TypeError messages.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

namespace varkel {

struct Signature {
  const char* function;   // "EventDecoder.__new__()"
  const char* parameter;  // "idl_json"
};

// Vectorcall convention (METH_FASTCALL | METH_KEYWORDS). Returns the borrowed
// argument, or null with a TypeError set.
PyObject* bind_single(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The same for an optional parameter: true with *bound set to the argument,
// or to null when it was not given; false with a TypeError set.
bool bind_optional(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** bound);

// tp_new convention (argument tuple, keyword dict or null).
PyObject* bind_single(const Signature& sig, PyObject* args, PyObject* kwargs);

// Several parameters, each by position or by keyword (vectorcall
// convention), the first `required` of them required (the others are null
// when not given). Fills `out` (one borrowed argument per parameter) or returns
// false with the interpreter's TypeError: "{function} takes {n} positional
// arguments but {m} were given", "... got multiple values for argument
// '{p}'", "... got an unexpected keyword argument '{k}'", "... missing 1
// required positional argument: '{p}'" / "missing 2 required positional
// arguments: '{p}' and '{q}'".
bool bind_arguments(const char* function, std::span<const char* const> params, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out,
                    std::size_t required = static_cast<std::size_t>(-1));

}  // namespace varkel
