// 128- and 256-bit little-endian integers as Python ints.
#include "decode/wide_int.h"

#include <string>
#include <string_view>
#include <utility>

#include "py/compat.h"

namespace varkel::decode {

DecodeResult make_int128(const std::array<std::uint8_t, 16>& bytes, bool is_signed) {
  PyObject* value = py::long_from_little_endian(bytes.data(), bytes.size(), is_signed);
  if (value == nullptr) [[unlikely]] {
    // The interpreter could not create an int: not a decode error.
    DecodeError error = error_from_python();
    error.internal = true;
    return std::unexpected(std::move(error));
  }
  return py::PyRef::steal(value);
}

// int.from_bytes(bytes, "little", signed=is_signed), looked up afresh through
// the builtins module for every value.
DecodeResult make_int256(const std::array<std::uint8_t, 32>& bytes, bool is_signed) {
  py::PyRef module_name = py::PyRef::steal(PyUnicode_FromStringAndSize("builtins", 8));
  if (!module_name) return std::unexpected(error_from_python());
  py::PyRef builtins = py::PyRef::steal(PyImport_Import(module_name.get()));
  if (!builtins) return std::unexpected(error_from_python());
  py::PyRef int_type = py::PyRef::steal(PyObject_GetAttrString(builtins.get(), "int"));
  if (!int_type) return std::unexpected(error_from_python());
  py::PyRef data = py::PyRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                                              static_cast<Py_ssize_t>(bytes.size())));
  if (!data) return std::unexpected(error_from_python());
  py::PyRef kwargs = py::PyRef::steal(PyDict_New());
  if (!kwargs) return std::unexpected(error_from_python());
  if (PyDict_SetItemString(kwargs.get(), "signed", is_signed ? Py_True : Py_False) < 0) {
    return std::unexpected(error_from_python());
  }
  py::PyRef from_bytes = py::PyRef::steal(PyObject_GetAttrString(int_type.get(), "from_bytes"));
  if (!from_bytes) return std::unexpected(error_from_python());
  py::PyRef order = py::PyRef::steal(PyUnicode_FromStringAndSize("little", 6));
  if (!order) return std::unexpected(error_from_python());
  PyObject* args[] = {data.get(), order.get()};
  py::PyRef value = py::PyRef::steal(PyObject_VectorcallDict(from_bytes.get(), args, 2, kwargs.get()));
  if (!value) return std::unexpected(error_from_python());
  return value;
}

}  // namespace varkel::decode
