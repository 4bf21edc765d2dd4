// The module definition of _varkel: multi-phase initialisation, no GIL needed.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lib/event_decoder.h"
#include "lib/event_table.h"
#include "py/guard.h"
#include "py/pyref.h"

namespace varkel {
namespace {

// Appends `name` to the module's __all__ list, creating the list if needed.
int add_to_all(PyObject* module, const char* name) {
  PyObject* raw = nullptr;
  if (PyObject_GetOptionalAttrString(module, "__all__", &raw) < 0) return -1;
  py::PyRef all = py::PyRef::steal(raw);
  if (!all) {
    all = py::PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "module __all__ is not a list");
    return -1;
  }
  py::PyRef text = py::PyRef::steal(PyUnicode_FromString(name));
  if (!text) return -1;
  return PyList_Append(all.get(), text.get());
}

int module_exec(PyObject* module) {
  PyObject* type = event_decoder_type();
  if (type == nullptr) return -1;
  if (add_to_all(module, "EventDecoder") < 0) return -1;
  if (PyModule_AddObjectRef(module, "EventDecoder", type) < 0) return -1;
  PyObject* table_type = event_table_type();
  if (table_type == nullptr) return -1;
  if (add_to_all(module, "EventTable") < 0) return -1;
  return PyModule_AddObjectRef(module, "EventTable", table_type);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(py::guarded<module_exec>)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_varkel",
    "The compiled extension module: `varkel._varkel`.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace varkel

PyMODINIT_FUNC PyInit__varkel(void) {
  return PyModuleDef_Init(&varkel::module_def);
}
