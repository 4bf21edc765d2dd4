// The base58 text of each program of a ProgramSet as a str, made at most once
// per call and shared by every record of that call.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <vector>

#include "py/pyref.h"
#include "tx/program_set.h"

namespace varkel::objects {

class ProgramIds {
 public:
  explicit ProgramIds(const tx::ProgramSet& programs) : programs_(programs), ids_(programs.size()) {}

  // Borrowed; null with an exception set.
  PyObject* of(std::uint32_t entry) {
    py::PyRef& slot = ids_[entry];
    if (!slot) {
      const std::string_view text = programs_.text(entry);
      slot = py::PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    }
    return slot.get();
  }

 private:
  const tx::ProgramSet& programs_;
  std::vector<py::PyRef> ids_;
};

}  // namespace varkel::objects
