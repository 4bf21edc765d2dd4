// The one place where the extension bridges C API differences between the
// interpreter versions it builds against: 3.14 first, then 3.13, 3.12 and
// 3.11, with or without the GIL. Every call that an older series lacks is
// wrapped here, with the same behaviour on every series.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "py/pyref.h"

// The module slot that declares the module safe without the GIL (3.13+). Older
// series have no such slot (and no free-threaded build): the entry is empty.
#if PY_VERSION_HEX >= 0x030D0000
#define VARKEL_MOD_GIL_NOT_USED_SLOT {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#else
#define VARKEL_MOD_GIL_NOT_USED_SLOT
#endif

// The module slot that declares that the module cannot be loaded into a
// second interpreter (3.12+): its types and exception classes are created
// once per process and shared, which is sound only within one interpreter.
// Importing it anywhere but in the main interpreter then fails with
// ImportError. 3.11 has no such slot (and no interpreter with its own GIL).
#if PY_VERSION_HEX >= 0x030C0000
#define VARKEL_MOD_ONE_INTERPRETER_SLOT \
  {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#else
#define VARKEL_MOD_ONE_INTERPRETER_SLOT
#endif

namespace varkel::py {

// Holds the per-object lock of `op` for its scope in free-threaded builds
// (PyCriticalSection); nothing to hold where the GIL serialises access (every
// GIL build, whose PyCriticalSection is opaque). Released on every way out,
// exceptions included.
class CriticalSection {
 public:
#ifdef Py_GIL_DISABLED
  explicit CriticalSection(PyObject* op) noexcept {
    PyCriticalSection_Begin(&section_, op);
  }
  ~CriticalSection() {
    PyCriticalSection_End(&section_);
  }
#else
  explicit CriticalSection(PyObject*) noexcept {}
#endif
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

 private:
#ifdef Py_GIL_DISABLED
  PyCriticalSection section_;
#endif
};

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

// PyObject_GetOptionalAttrString (3.13): 1 with *result a new reference, 0
// when the attribute is missing (no exception, *result null), -1 with an
// exception set (*result null).
inline int get_optional_attr_string(PyObject* obj, const char* name, PyObject** result) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyObject_GetOptionalAttrString(obj, name, result);
#else
  *result = PyObject_GetAttrString(obj, name);
  if (*result != nullptr) return 1;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
  PyErr_Clear();
  return 0;
#endif
}

// PyErr_GetRaisedException (3.12): takes the pending exception (a new
// reference to the normalized instance, its traceback attached), or null when
// none is pending; the error indicator is clear afterwards.
inline PyObject* get_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  Py_DECREF(type);
  Py_XDECREF(traceback);
  return value;
#endif
}

// PyErr_SetRaisedException (3.12): makes `exc` (an exception instance; the
// reference is stolen) the pending exception.
inline void set_raised_exception(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
  Py_INCREF(type);
  PyErr_Restore(type, exc, PyException_GetTraceback(exc));  // steals all three
#endif
}

// A Python int from `size` little-endian bytes, two's complement when
// `is_signed`; null with an exception set on failure. PyLong_FromNativeBytes
// (3.13) does it in one call; older series assemble the value from 64-bit
// words (size must then be a multiple of 8), most significant word first.
inline PyObject* long_from_little_endian(const std::uint8_t* bytes, std::size_t size, bool is_signed) {
#if PY_VERSION_HEX >= 0x030D0000
  int flags = Py_ASNATIVEBYTES_LITTLE_ENDIAN;
  if (!is_signed) flags |= Py_ASNATIVEBYTES_UNSIGNED_BUFFER;
  return PyLong_FromNativeBytes(bytes, size, flags);
#else
  if (size == 0 || size % 8 != 0) {
    PyErr_SetString(PyExc_SystemError, "long_from_little_endian: size is not a multiple of 8");
    return nullptr;
  }
  auto word_at = [bytes](std::size_t index) {
    std::uint64_t word = 0;
    for (std::size_t i = 8; i-- > 0;) word = (word << 8) | bytes[index * 8 + i];
    return word;
  };
  std::size_t words = size / 8;
  std::uint64_t top = word_at(words - 1);
  std::int64_t signed_top = 0;
  std::memcpy(&signed_top, &top, sizeof signed_top);  // two's complement reinterpretation
  PyRef value = PyRef::steal(is_signed ? PyLong_FromLongLong(signed_top) : PyLong_FromUnsignedLongLong(top));
  PyRef shift = PyRef::steal(PyLong_FromLong(64));
  if (!value || !shift) return nullptr;
  for (std::size_t index = words - 1; index-- > 0;) {
    PyRef shifted = PyRef::steal(PyNumber_Lshift(value.get(), shift.get()));
    if (!shifted) return nullptr;
    PyRef word = PyRef::steal(PyLong_FromUnsignedLongLong(word_at(index)));
    if (!word) return nullptr;
    // The low word is below 2**64: the sum carries nothing into the shifted part.
    value = PyRef::steal(PyNumber_Add(shifted.get(), word.get()));
    if (!value) return nullptr;
  }
  return value.release();
#endif
}

}  // namespace varkel::py
