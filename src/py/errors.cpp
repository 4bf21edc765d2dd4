#include "py/errors.h"

#include <atomic>
#include <string>
#include <utility>

#include "py/compat.h"
#include "py/once.h"
#include "py/pyref.h"

namespace varkel::py {

namespace {

// Appends the UTF-8 text of the str `text`; false if it has none.
bool append_text(std::string& out, PyObject* text) {
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

std::atomic<PyObject*> g_internal_error{nullptr};

constexpr const char* kInternalErrorDoc =
    "Raised when the decoder meets a failure it treats as impossible, such as the "
    "interpreter failing to create a result object. Derives from BaseException.";

}  // namespace

PyObject* internal_error_type() {
  return publish_once(g_internal_error, [] {
    return PyErr_NewExceptionWithDoc("varkel.InternalError", kInternalErrorDoc, PyExc_BaseException, nullptr);
  });
}

PyObject* raise_internal_error(std::string_view message) {
  PyObject* type = internal_error_type();
  if (type == nullptr) return nullptr;
  PyRef text =
      PyRef::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return nullptr;
  PyErr_SetObject(type, text.get());
  return nullptr;
}

std::nullptr_t fail_as_internal() {
  if (PyErr_Occurred() != nullptr) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) return nullptr;
    PyObject* internal = internal_error_type();
    if (internal == nullptr || PyErr_ExceptionMatches(internal)) return nullptr;
  }
  raise_internal_error(take_exception_text());
  return nullptr;
}

PyObject* raise_not_instance(const char* param, PyObject* obj, const char* target) {
  std::string prefix = param == nullptr ? std::string() : std::string("argument '") + param + "': ";
  if (obj == Py_None) {
    PyErr_Format(PyExc_TypeError, "%s'None' is not an instance of '%s'", prefix.c_str(), target);
    return nullptr;
  }
  PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "%s'%U' object is not an instance of '%s'", prefix.c_str(), name.get(),
               target);
  return nullptr;
}

std::string take_exception_text() {
  PyRef exc = PyRef::steal(get_raised_exception());
  if (!exc) return "SystemError: error return without exception set";

  std::string message;
  PyTypeObject* type = Py_TYPE(exc.get());
  PyRef qualname = PyRef::steal(PyType_GetQualName(type));
  if (!qualname || !append_text(message, qualname.get())) {
    PyErr_Clear();
    message = type->tp_name;
  }
  message += ": ";
  PyRef text = PyRef::steal(PyObject_Str(exc.get()));
  if (!text || !append_text(message, text.get())) {
    PyErr_Clear();
    message += "<exception str() failed>";
  }
  return message;
}

PyRef iterate(PyObject* obj, const char* param, const char* target) {
  PyRef iter = PyRef::steal(PyObject_GetIter(obj));
  if (!iter && PyErr_ExceptionMatches(PyExc_TypeError)) {
    PyErr_Clear();
    raise_not_instance(param, obj, target);
  }
  return iter;
}

}  // namespace varkel::py
