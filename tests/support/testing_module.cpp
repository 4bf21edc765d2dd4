// Test-only extension module `_varkel_testing`, built with the C++ tests and
// never installed. It exposes what the package hides on purpose: the exact
// decode error of an event, which parse_logs drops when it skips a line.
//
//   decode(idl_json, event_name, data) -> value
//
// builds a registry and its plan from the IDL, decodes `data` (the event data after the
// 8-byte discriminator) as the first event named `event_name`, and raises
// ValueError with the decoder's message on a decode error.
//
//   zero_copy_layout(idl_json, type_name) -> dict
//
// lays out the defined type `type_name` of the IDL (and every type it
// reaches) as zero-copy memory: {"size": n, "align": n, "offsets": {field:
// offset}}, offsets in field order (tuple fields named "0", "1", ...; none
// for enums and aliases); raises ValueError with the engine's message when
// the type has no fixed layout.
//
//   throw_cpp(kind) -> never returns
//
// throws a C++ exception inside an entry point behind py::guarded, to show
// what the interpreter gets: "bad_alloc" (std::bad_alloc), "length_error" (a
// vector reserved past its maximum size), "runtime_error" (with the text
// "thrown for the test"), "int" (not a std::exception).
//
//   interpreter_failure(exc) -> never returns
//
// sets `exc` as if the interpreter had failed to make an object, and reports
// it as the decoder does (py::fail_as_internal).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "decode/borsh_reader.h"
#include "decode/plan.h"
#include "decode/registry.h"
#include "decode/zero_copy.h"
#include "idl/load.h"
#include "objects/keys.h"
#include "objects/values.h"
#include "py/compat.h"
#include "py/errors.h"
#include "py/guard.h"
#include "py/pyref.h"

namespace {

std::string_view text_of(PyObject* obj) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  return data == nullptr ? std::string_view() : std::string_view(data, static_cast<std::size_t>(size));
}

PyObject* decode(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3 || !PyUnicode_Check(args[0]) || !PyUnicode_Check(args[1])) {
    PyErr_SetString(PyExc_TypeError, "decode(idl_json: str, event_name: str, data: bytes)");
    return nullptr;
  }
  auto idl = varkel::idl::load_idl(text_of(args[0]));
  if (!idl) {
    PyErr_SetString(PyExc_ValueError, idl.error().message.c_str());
    return nullptr;
  }
  auto registry = varkel::decode::build_registry(*idl);
  if (!registry) {
    PyErr_SetString(PyExc_ValueError, registry.error().message.c_str());
    return nullptr;
  }
  const std::string_view name = text_of(args[1]);
  std::size_t index = 0;
  while (index < registry->events.size() && registry->events[index].name != name) ++index;
  if (index == registry->events.size()) {
    PyErr_Format(PyExc_KeyError, "no event named '%U'", args[1]);
    return nullptr;
  }
  const varkel::decode::DecodePlan plan = varkel::decode::build_plan(*registry);
  std::optional<varkel::objects::KeyTable> keys = varkel::objects::KeyTable::make(plan);
  if (!keys) return nullptr;
  Py_buffer view;
  if (PyObject_GetBuffer(args[2], &view, PyBUF_SIMPLE) < 0) return nullptr;
  varkel::decode::BorshReader reader(static_cast<const std::uint8_t*>(view.buf),
                                     static_cast<std::uint64_t>(view.len));
  varkel::objects::Decoded value = varkel::objects::decode_fields(plan, *keys, reader, plan.events[index]);
  PyBuffer_Release(&view);
  if (!value.value) {
    if (value.raised) return varkel::py::fail_as_internal();
    PyErr_SetString(PyExc_ValueError, value.error->message.c_str());
    return nullptr;
  }
  return value.value.release();
}

// Sets d[key] = value, stealing `value`; false with the error set on failure.
bool set_item(PyObject* d, std::string_view key, PyObject* value) {
  const varkel::py::PyRef owned = varkel::py::PyRef::steal(value);
  const varkel::py::PyRef text =
      varkel::py::PyRef::steal(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
  return owned && text && PyDict_SetItem(d, text.get(), owned.get()) == 0;
}

PyObject* zero_copy_layout(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2 || !PyUnicode_Check(args[0]) || !PyUnicode_Check(args[1])) {
    PyErr_SetString(PyExc_TypeError, "zero_copy_layout(idl_json: str, type_name: str)");
    return nullptr;
  }
  auto idl = varkel::idl::load_idl(text_of(args[0]));
  if (!idl) {
    PyErr_SetString(PyExc_ValueError, idl.error().message.c_str());
    return nullptr;
  }
  const std::string name(text_of(args[1]));
  const std::vector<std::string> roots{name};
  auto layouts = varkel::decode::compute_zero_copy_layouts(idl->types, roots);
  if (!layouts) {
    PyErr_SetString(PyExc_ValueError, layouts.error().message.c_str());
    return nullptr;
  }
  const varkel::decode::TypeLayout* layout = layouts->find(name);
  // The field names, from the last definition of the name (the one laid out).
  std::vector<std::string> names;
  for (const varkel::idl::IdlTypeDef& def : idl->types) {
    if (def.name != name) continue;
    names.clear();
    const auto* body = std::get_if<varkel::idl::IdlTypeDefTy::Struct>(&def.type.value);
    if (body == nullptr || !body->fields) continue;
    if (const auto* named = std::get_if<varkel::idl::IdlDefinedFields::Named>(&body->fields->value)) {
      for (const varkel::idl::IdlField& field : *named) names.push_back(field.name);
    } else {
      const auto& tuple = std::get<varkel::idl::IdlDefinedFields::Tuple>(body->fields->value);
      for (std::size_t i = 0; i < tuple.size(); ++i) names.push_back(std::to_string(i));
    }
  }
  varkel::py::PyRef offsets = varkel::py::PyRef::steal(PyDict_New());
  if (!offsets) return nullptr;
  for (std::size_t i = 0; i < layout->field_offsets.size() && i < names.size(); ++i) {
    if (!set_item(offsets.get(), names[i], PyLong_FromUnsignedLongLong(layout->field_offsets[i]))) {
      return nullptr;
    }
  }
  varkel::py::PyRef result = varkel::py::PyRef::steal(PyDict_New());
  if (!result || !set_item(result.get(), "size", PyLong_FromUnsignedLongLong(layout->size)) ||
      !set_item(result.get(), "align", PyLong_FromUnsignedLongLong(layout->align)) ||
      !set_item(result.get(), "offsets", offsets.release())) {
    return nullptr;
  }
  return result.release();
}

PyObject* throw_cpp(PyObject*, PyObject* kind) {
  const std::string_view name = PyUnicode_Check(kind) ? text_of(kind) : std::string_view();
  if (name == "bad_alloc") throw std::bad_alloc();
  if (name == "length_error") {
    std::vector<int> values;
    values.reserve(values.max_size() + 1);
  }
  if (name == "runtime_error") throw std::runtime_error("thrown for the test");
  if (name == "int") throw 42;
  PyErr_SetString(PyExc_ValueError, "throw_cpp(kind): bad_alloc, length_error, runtime_error or int");
  return nullptr;
}

PyObject* interpreter_failure(PyObject*, PyObject* exc) {
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc)), exc);
  return varkel::py::fail_as_internal();
}

PyMethodDef methods[] = {
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(varkel::py::guarded<decode>)),
     METH_FASTCALL,
     "decode(idl_json, event_name, data)\n--\n\nDecodes event data; raises ValueError with the decode "
     "error."},
    {"zero_copy_layout",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(varkel::py::guarded<zero_copy_layout>)),
     METH_FASTCALL,
     "zero_copy_layout(idl_json, type_name)\n--\n\nThe zero-copy memory layout of a defined type: "
     "{'size', 'align', 'offsets'}; raises ValueError when it has none."},
    {"throw_cpp", varkel::py::guarded<throw_cpp>, METH_O,
     "throw_cpp(kind)\n--\n\nThrows a C++ exception of that kind behind the entry-point guard."},
    {"interpreter_failure", varkel::py::guarded<interpreter_failure>, METH_O,
     "interpreter_failure(exc)\n--\n\nReports `exc` as a failure of the interpreter to make an object."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
    VARKEL_MOD_GIL_NOT_USED_SLOT{0, nullptr},
};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT,
                          "_varkel_testing",
                          "Test-only access to decode errors and zero-copy layouts.",
                          0,
                          methods,
                          slots,
                          nullptr,
                          nullptr,
                          nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__varkel_testing(void) {
  return PyModuleDef_Init(&module_def);
}
