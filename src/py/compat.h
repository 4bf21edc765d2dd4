// The one place where the extension bridges C API differences between the
// interpreter versions it builds against (3.14 first, 3.13 as well).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace varkel::py {

// PyIter_NextItem (3.14): 1 with *item set to a new reference, 0 at the end
// (*item null), -1 with an exception set (*item null).
inline int iter_next_item(PyObject* iter, PyObject** item) {
#if PY_VERSION_HEX >= 0x030E0000
  return PyIter_NextItem(iter, item);
#else
  *item = PyIter_Next(iter);
  if (*item != nullptr) return 1;
  return PyErr_Occurred() ? -1 : 0;
#endif
}

}  // namespace varkel::py
