// 128- and 256-bit little-endian integers as Python ints.
#include "objects/wide_int.h"

#include "py/compat.h"
#include "py/pyref.h"

namespace varkel::objects {

PyObject* make_int128(const std::uint8_t* bytes, bool is_signed) {
  return py::long_from_little_endian(bytes, 16, is_signed);
}

// int.from_bytes(bytes, "little", signed=is_signed), looked up afresh through
// the builtins module for every value.
PyObject* make_int256(const std::uint8_t* bytes, bool is_signed) {
  py::PyRef module_name = py::PyRef::steal(PyUnicode_FromStringAndSize("builtins", 8));
  if (!module_name) return nullptr;
  py::PyRef builtins = py::PyRef::steal(PyImport_Import(module_name.get()));
  if (!builtins) return nullptr;
  py::PyRef int_type = py::PyRef::steal(PyObject_GetAttrString(builtins.get(), "int"));
  if (!int_type) return nullptr;
  py::PyRef data = py::PyRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes), 32));
  if (!data) return nullptr;
  py::PyRef kwargs = py::PyRef::steal(PyDict_New());
  if (!kwargs) return nullptr;
  if (PyDict_SetItemString(kwargs.get(), "signed", is_signed ? Py_True : Py_False) < 0) return nullptr;
  py::PyRef from_bytes = py::PyRef::steal(PyObject_GetAttrString(int_type.get(), "from_bytes"));
  if (!from_bytes) return nullptr;
  py::PyRef order = py::PyRef::steal(PyUnicode_FromStringAndSize("little", 6));
  if (!order) return nullptr;
  PyObject* args[] = {data.get(), order.get()};
  return PyObject_VectorcallDict(from_bytes.get(), args, 2, kwargs.get());
}

}  // namespace varkel::objects
