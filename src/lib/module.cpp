// The module definition of _varkel: multi-phase initialisation, no GIL needed.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lib/event_decoder.h"
#include "lib/event_table.h"
#include "lib/record_types.h"
#include "lib/tx_api.h"
#include "objects/errors.h"
#include "py/compat.h"
#include "py/errors.h"
#include "py/guard.h"
#include "py/pyref.h"

namespace varkel {
namespace {

// Appends `name` to the module's __all__ list, creating the list if needed.
int add_to_all(PyObject* module, const char* name) {
  PyObject* raw = nullptr;
  if (py::get_optional_attr_string(module, "__all__", &raw) < 0) return -1;
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

int add_public(PyObject* module, const char* name, PyObject* obj) {
  if (obj == nullptr) return -1;
  if (add_to_all(module, name) < 0) return -1;
  return PyModule_AddObjectRef(module, name, obj);
}

int module_exec(PyObject* module) {
  if (add_public(module, "EventDecoder", event_decoder_type()) < 0) return -1;
  if (add_public(module, "Event", event_type()) < 0) return -1;
  if (add_public(module, "Instruction", instruction_type()) < 0) return -1;
  if (add_public(module, "Transaction", transaction_type()) < 0) return -1;
  if (add_public(module, "Account", account_type()) < 0) return -1;
  if (add_public(module, "EventTable", event_table_type()) < 0) return -1;
  if (add_public(module, "IdlError", objects::idl_error_type()) < 0) return -1;
  if (add_public(module, "TransactionError", objects::transaction_error_type()) < 0) return -1;
  if (add_public(module, "ProgramIdError", objects::program_id_error_type()) < 0) return -1;
  if (add_public(module, "InstructionError", objects::instruction_error_type()) < 0) return -1;
  if (add_public(module, "AccountError", objects::account_error_type()) < 0) return -1;
  if (add_public(module, "InternalError", py::internal_error_type()) < 0) return -1;
  {
    py::PyRef rebuild = py::PyRef::steal(PyObject_GetAttrString(module, "_decoder_from_idl"));
    if (!rebuild || publish_decoder_rebuilder(rebuild.get()) < 0) return -1;
  }
  // The module functions are in the module's method table; list them too.
  for (const char* name : {"decode_logs", "decode_transaction", "decode_instructions", "decode",
                           "decode_block", "decode_tables"}) {
    if (add_to_all(module, name) < 0) return -1;
  }
  return 0;
}

// _decoder_from_idl(idl_json, program_id=None): EventDecoder(idl_json), at
// program_id when given; the callable that a pickled decoder names.
PyObject* module_decoder_from_idl(PyObject*, PyObject* args) {
  PyObject* idl_json = nullptr;
  PyObject* program_id = nullptr;
  if (!PyArg_UnpackTuple(args, "_decoder_from_idl", 1, 2, &idl_json, &program_id)) return nullptr;
  if (!PyUnicode_Check(idl_json)) return py::raise_not_instance("idl_json", idl_json, "str");
  if (program_id == Py_None) program_id = nullptr;
  if (program_id != nullptr && !PyUnicode_Check(program_id))
    return py::raise_not_instance("program_id", program_id, "str");
  return new_decoder(idl_json, program_id);
}

PyMethodDef module_methods[] = {
    {"_decoder_from_idl", py::guarded<module_decoder_from_idl>, METH_VARARGS,
     "_decoder_from_idl($module, idl_json, program_id=None, /)\n--\n\n"
     "EventDecoder(idl_json), at program_id when given: rebuilds a pickled decoder."},
    {"decode_logs",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_logs>)),
     METH_FASTCALL | METH_KEYWORDS, kModuleDecodeLogsDoc},
    {"decode_transaction",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_transaction>)),
     METH_FASTCALL | METH_KEYWORDS, kModuleDecodeTransactionDoc},
    {"decode_instructions",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_instructions>)),
     METH_FASTCALL | METH_KEYWORDS, kModuleDecodeInstructionsDoc},
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode>)),
     METH_FASTCALL | METH_KEYWORDS, kModuleDecodeDoc},
    {"_decode_logs_counted",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_logs_counted>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeLogsCountedDoc},
    {"decode_block",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_block>)),
     METH_FASTCALL | METH_KEYWORDS, kModuleDecodeBlockDoc},
    {"decode_tables",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_tables>)),
     METH_FASTCALL | METH_KEYWORDS, kModuleDecodeTablesDoc},
    {"_decode_tables_counted",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_tables_counted>)),
     METH_FASTCALL | METH_KEYWORDS,
     "_decode_tables_counted($module, items, decoders, pubkey, instructions)\n--\n\n"
     "decode_tables for the command line: (tables, counts, errors), errors a list\n"
     "of (index, message) of the items that could not be read (the rest go on)."},
    {"_decode_counted",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<module_decode_counted>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeCountedDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(py::guarded<module_exec>)},
    VARKEL_MOD_GIL_NOT_USED_SLOT VARKEL_MOD_ONE_INTERPRETER_SLOT{0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_varkel",
    "The compiled extension module: `varkel._varkel`.",
    0,
    module_methods,
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
