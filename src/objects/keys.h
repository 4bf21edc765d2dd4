// The Python str of every key of a decode plan (field and enum variant
// names), made once when the decoder is built and shared by every dict that
// the decoder fills.
//
// Each str is interned: one object per distinct text in the process, which
// free-threaded builds make immortal, so that threads inserting the same key
// into their own dicts never write to a shared reference count. Sharing is
// invisible to callers except through identity (`is`).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "decode/plan.h"
#include "py/pyref.h"

namespace varkel::objects {

class KeyTable {
 public:
  // The keys of `plan`, or nullopt with the interpreter's exception set.
  static std::optional<KeyTable> make(const decode::DecodePlan& plan);

  // Borrowed: the table holds the reference for as long as it lives.
  PyObject* operator[](std::uint32_t key) const noexcept { return keys_[key].get(); }

 private:
  std::vector<py::PyRef> keys_;
};

}  // namespace varkel::objects
