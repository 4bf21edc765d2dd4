#include "lib/args.h"

#include <algorithm>
#include <string>

namespace varkel {

namespace {

// Applies one keyword to the binding. Returns false with a TypeError set.
bool bind_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** bound) {
  if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, sig.parameter) == 0) {
    if (*bound != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.function, sig.parameter);
      return false;
    }
    *bound = value;
    return true;
  }
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", sig.function, key);
  return false;
}

bool check_positional_count(const Signature& sig, Py_ssize_t nargs) {
  if (nargs <= 1) return true;
  PyErr_Format(PyExc_TypeError, "%s takes 1 positional arguments but %zd were given", sig.function, nargs);
  return false;
}

PyObject* finish(const Signature& sig, PyObject* bound) {
  if (bound == nullptr) {
    PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: '%s'", sig.function,
                 sig.parameter);
  }
  return bound;
}

}  // namespace

PyObject* bind_single(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  nargs = PyVectorcall_NARGS(nargs);
  if (!check_positional_count(sig, nargs)) return nullptr;
  PyObject* bound = nargs == 1 ? args[0] : nullptr;
  Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    if (!bind_keyword(sig, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], &bound)) return nullptr;
  }
  return finish(sig, bound);
}

bool bind_optional(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** bound) {
  nargs = PyVectorcall_NARGS(nargs);
  if (!check_positional_count(sig, nargs)) return false;
  *bound = nargs == 1 ? args[0] : nullptr;
  Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    if (!bind_keyword(sig, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], bound)) return false;
  }
  return true;
}

PyObject* bind_single(const Signature& sig, PyObject* args, PyObject* kwargs) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (!check_positional_count(sig, nargs)) return nullptr;
  PyObject* bound = nargs == 1 ? PyTuple_GET_ITEM(args, 0) : nullptr;
  if (kwargs != nullptr) {
    // The keyword dict is private to this call.
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!bind_keyword(sig, key, value, &bound)) return nullptr;
    }
  }
  return finish(sig, bound);
}

bool bind_arguments(const char* function, std::span<const char* const> params, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out, std::size_t required) {
  required = std::min(required, params.size());
  nargs = PyVectorcall_NARGS(nargs);
  const auto count = static_cast<Py_ssize_t>(params.size());
  if (nargs > count) {
    PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd were given", function, count,
                 nargs);
    return false;
  }
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    std::size_t match = params.size();
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, params[i]) == 0) {
        match = i;
        break;
      }
    }
    if (match == params.size()) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", function, key);
      return false;
    }
    if (out[match] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", function, params[match]);
      return false;
    }
    out[match] = args[nargs + k];
  }
  std::string missing;
  int missing_count = 0;
  for (std::size_t i = 0; i < required; ++i) {
    if (out[i] != nullptr) continue;
    ++missing_count;
    missing += missing.empty() ? "" : " and ";
    missing += std::string("'") + params[i] + "'";
  }
  if (missing_count == 1) {
    PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: %s", function, missing.c_str());
    return false;
  }
  if (missing_count > 1) {
    PyErr_Format(PyExc_TypeError, "%s missing %d required positional arguments: %s", function, missing_count,
                 missing.c_str());
    return false;
  }
  return true;
}

}  // namespace varkel
