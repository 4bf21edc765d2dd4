// 128- and 256-bit little-endian integers as Python ints, and the text of a
// pending Python exception as a decode error.
#include "decode/wide_int.h"

#include <string>
#include <string_view>
#include <utility>

namespace varkel::decode {

namespace {

// Appends the UTF-8 text of the str `text`; false if it has none.
bool append_utf8(std::string& out, PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) {
    // A str holding lone surrogates: fall back to escapes.
    PyErr_Clear();
    PyRef escaped = PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"));
    if (!escaped) {
      PyErr_Clear();
      return false;
    }
    out.append(PyBytes_AS_STRING(escaped.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(escaped.get())));
    return true;
  }
  out.append(data, static_cast<std::size_t>(size));
  return true;
}

}  // namespace

DecodeError error_from_python() {
  PyRef exc = PyRef::steal(PyErr_GetRaisedException());
  if (!exc) return DecodeError{"SystemError: error return without exception set", false};

  std::string message;
  PyTypeObject* type = Py_TYPE(exc.get());
  PyRef qualname = PyRef::steal(PyType_GetQualName(type));
  if (!qualname || !append_utf8(message, qualname.get())) {
    PyErr_Clear();
    message = type->tp_name;
  }
  message += ": ";
  PyRef text = PyRef::steal(PyObject_Str(exc.get()));
  if (!text || !append_utf8(message, text.get())) {
    PyErr_Clear();
    message += "<exception str() failed>";
  }
  return DecodeError{std::move(message), false};
}

DecodeResult make_int128(const std::array<std::uint8_t, 16>& bytes, bool is_signed) {
  int flags = Py_ASNATIVEBYTES_LITTLE_ENDIAN;
  if (!is_signed) flags |= Py_ASNATIVEBYTES_UNSIGNED_BUFFER;
  PyObject* value = PyLong_FromNativeBytes(bytes.data(), bytes.size(), flags);
  if (value == nullptr) [[unlikely]] {
    // The interpreter could not create an int: not a decode error.
    DecodeError error = error_from_python();
    error.internal = true;
    return std::unexpected(std::move(error));
  }
  return PyRef::steal(value);
}

// int.from_bytes(bytes, "little", signed=is_signed), looked up afresh through
// the builtins module for every value.
DecodeResult make_int256(const std::array<std::uint8_t, 32>& bytes, bool is_signed) {
  PyRef module_name = PyRef::steal(PyUnicode_FromStringAndSize("builtins", 8));
  if (!module_name) return std::unexpected(error_from_python());
  PyRef builtins = PyRef::steal(PyImport_Import(module_name.get()));
  if (!builtins) return std::unexpected(error_from_python());
  PyRef int_type = PyRef::steal(PyObject_GetAttrString(builtins.get(), "int"));
  if (!int_type) return std::unexpected(error_from_python());
  PyRef data = PyRef::steal(
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size())));
  if (!data) return std::unexpected(error_from_python());
  PyRef kwargs = PyRef::steal(PyDict_New());
  if (!kwargs) return std::unexpected(error_from_python());
  if (PyDict_SetItemString(kwargs.get(), "signed", is_signed ? Py_True : Py_False) < 0) {
    return std::unexpected(error_from_python());
  }
  PyRef from_bytes = PyRef::steal(PyObject_GetAttrString(int_type.get(), "from_bytes"));
  if (!from_bytes) return std::unexpected(error_from_python());
  PyRef order = PyRef::steal(PyUnicode_FromStringAndSize("little", 6));
  if (!order) return std::unexpected(error_from_python());
  PyObject* args[] = {data.get(), order.get()};
  PyRef value = PyRef::steal(PyObject_VectorcallDict(from_bytes.get(), args, 2, kwargs.get()));
  if (!value) return std::unexpected(error_from_python());
  return value;
}

}  // namespace varkel::decode
