// Process-wide Python objects created on first use and kept for the life of
// the process (a type object, an exception class).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>

namespace varkel::py {

// The object published in `slot`, created by `create()` (a new reference or
// null with an exception set) when the slot is still empty. Create, then
// publish with a compare-and-swap: a thread never blocks here while attached
// to the interpreter, and an object that loses the race is dropped. Borrowed;
// null with an exception set when creation fails.
template <class Create>
PyObject* publish_once(std::atomic<PyObject*>& slot, Create create) {
  PyObject* current = slot.load(std::memory_order_acquire);
  if (current != nullptr) return current;
  PyObject* created = create();
  if (created == nullptr) return nullptr;
  if (slot.compare_exchange_strong(current, created, std::memory_order_acq_rel)) {
    return created;  // kept for the life of the process
  }
  Py_DECREF(created);  // another thread published first
  return current;
}

}  // namespace varkel::py
