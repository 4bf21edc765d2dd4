// A struct sequence (Event, Instruction, Transaction, Account) filled field
// by field, in the order of its fields.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "py/pyref.h"

namespace varkel::objects {

class RecordBuilder {
 public:
  explicit RecordBuilder(PyTypeObject* type) : record_(py::PyRef::steal(PyStructSequence_New(type))) {}

  // Stores `item` (a new reference, taken over) as the next field; false when
  // the record or the item could not be made (an exception is set).
  bool put(PyObject* item) {
    if (!record_ || item == nullptr) {
      Py_XDECREF(item);
      return false;
    }
    PyStructSequence_SetItem(record_.get(), field_++, item);
    return true;
  }

  // The record; null unless every field was put.
  py::PyRef finish(bool complete) && { return complete ? std::move(record_) : py::PyRef(); }

 private:
  py::PyRef record_;
  Py_ssize_t field_ = 0;
};

}  // namespace varkel::objects
