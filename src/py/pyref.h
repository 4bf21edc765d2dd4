// PyRef: owns one strong reference to a Python object and releases it when it
// goes. A function returning PyRef returns a new reference; a raw PyObject*
// parameter is borrowed.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <utility>

namespace varkel::py {

class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(std::nullptr_t) noexcept {}  // NOLINT: a failure's null converts, as for PyObject*
  // Takes over a new reference (may be null, as returned by a failing call).
  static PyRef steal(PyObject* obj) noexcept { return PyRef(obj); }
  // Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return PyRef(obj);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      PyObject* old = std::exchange(obj_, std::exchange(other.obj_, nullptr));
      Py_XDECREF(old);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(obj_); }

  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  // Gives the reference away (to a caller, or to a container that steals).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }

 private:
  explicit PyRef(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

}  // namespace varkel::py
