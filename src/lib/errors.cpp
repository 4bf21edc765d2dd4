#include "lib/errors.h"

#include <atomic>

#include "decode/wide_int.h"
#include "lib/pyref.h"

namespace varkel {

namespace {

std::atomic<PyObject*> g_internal_error{nullptr};

constexpr const char* kInternalErrorDoc =
    "Raised when the decoder meets a failure it treats as impossible, such as the "
    "interpreter failing to create a result object. Derives from BaseException.";

}  // namespace

PyObject* internal_error_type() {
  PyObject* type = g_internal_error.load(std::memory_order_acquire);
  if (type != nullptr) return type;
  PyObject* created = PyErr_NewExceptionWithDoc("varkel.InternalError", kInternalErrorDoc,
                                                PyExc_BaseException, nullptr);
  if (created == nullptr) return nullptr;
  PyObject* expected = nullptr;
  if (g_internal_error.compare_exchange_strong(expected, created, std::memory_order_acq_rel)) {
    return created;  // kept for the life of the process
  }
  Py_DECREF(created);  // another thread published first
  return expected;
}

PyObject* raise_internal_error(std::string_view message) {
  PyObject* type = internal_error_type();
  if (type == nullptr) return nullptr;
  PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return nullptr;
  PyErr_SetObject(type, text.get());
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
  PyErr_Format(PyExc_TypeError, "%s'%U' object is not an instance of '%s'", prefix.c_str(), name.get(), target);
  return nullptr;
}

std::string take_exception_text() { return decode::error_from_python().message; }

}  // namespace varkel
