#include "objects/errors.h"

#include <atomic>
#include <initializer_list>
#include <string>
#include <utility>

#include "py/compat.h"
#include "py/errors.h"
#include "py/once.h"
#include "py/pyref.h"

namespace varkel::objects {

namespace {

struct Attribute {
  const char* name;
  py::PyRef value;  // null: None
};

// A new exception class "varkel.{name}" derived from ValueError, whose
// `attributes` are None unless an instance says otherwise.
PyObject* make_class(const char* name, const char* doc, std::initializer_list<const char*> attributes) {
  py::PyRef members = py::PyRef::steal(PyDict_New());
  if (!members) return nullptr;
  for (const char* attribute : attributes) {
    if (PyDict_SetItemString(members.get(), attribute, Py_None) < 0) return nullptr;
  }
  return PyErr_NewExceptionWithDoc(name, doc, PyExc_ValueError, members.get());
}

PyObject* text_of(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

py::PyRef int_or_none(std::uint32_t value, bool present) {
  return present ? py::PyRef::steal(PyLong_FromUnsignedLong(value)) : py::PyRef::borrow(Py_None);
}

py::PyRef text_or_none(std::string_view text) {
  return text.empty() ? py::PyRef::borrow(Py_None) : py::PyRef::steal(text_of(text));
}

// Raises an instance of `type` (null: its creation failed, which is pending)
// with the message and the attributes.
std::nullptr_t raise(PyObject* type, const std::string& message,
                     std::initializer_list<Attribute> attributes) {
  if (type == nullptr) return nullptr;
  py::PyRef text = py::PyRef::steal(text_of(message));
  if (!text) return nullptr;
  py::PyRef exc = py::PyRef::steal(PyObject_CallOneArg(type, text.get()));
  if (!exc) return nullptr;
  for (const Attribute& attribute : attributes) {
    if (!attribute.value && PyErr_Occurred() != nullptr) return nullptr;  // making the value failed
    PyObject* value = attribute.value ? attribute.value.get() : Py_None;
    if (PyObject_SetAttrString(exc.get(), attribute.name, value) < 0) return nullptr;
  }
  PyErr_SetObject(type, exc.get());
  return nullptr;
}

std::atomic<PyObject*> g_idl_error{nullptr};
std::atomic<PyObject*> g_transaction_error{nullptr};
std::atomic<PyObject*> g_program_id_error{nullptr};
std::atomic<PyObject*> g_instruction_error{nullptr};
std::atomic<PyObject*> g_account_error{nullptr};

}  // namespace

PyObject* idl_error_type() {
  return py::publish_once(g_idl_error, [] {
    return make_class("varkel.IdlError",
                      "An IDL that cannot be read or used. lineno and colno: the line and column where its "
                      "JSON text is broken (None when the text is JSON).",
                      {"lineno", "colno"});
  });
}

PyObject* transaction_error_type() {
  return py::publish_once(g_transaction_error, [] {
    return make_class("varkel.TransactionError",
                      "Input that is not a transaction. path: the offending member, as "
                      "\"result.meta.innerInstructions[0].index\" (None when the whole input is at fault); "
                      "lineno and colno: where its JSON text is broken (None when it is JSON).",
                      {"path", "lineno", "colno"});
  });
}

PyObject* program_id_error_type() {
  return py::publish_once(g_program_id_error, [] {
    return make_class("varkel.ProgramIdError",
                      "Decoders that cannot attribute events to their programs: an IDL without a usable "
                      "program address, or two decoders of one program. decoder: which one (\"decoder\", "
                      "\"decoders[2]\"); reason: the message without it.",
                      {"decoder", "reason"});
  });
}

PyObject* instruction_error_type() {
  return py::publish_once(g_instruction_error, [] {
    return make_class(
        "varkel.InstructionError",
        "An instruction that does not decode. reason: \"discriminator\" (none of the IDL's), "
        "\"arguments\" (they do not fit the data), \"accounts\" (too few) or \"input\" (the call's "
        "arguments are not data or keys); path: the argument field (\"amount\", \"routes[2].pool\") "
        "or the input that failed, or None; instruction: its name, or None.",
        {"reason", "path", "instruction"});
  });
}

PyObject* account_error_type() {
  return py::publish_once(g_account_error, [] {
    return make_class(
        "varkel.AccountError",
        "Account data that does not decode. reason: \"missing\" (no such account), \"input\" (its "
        "data cannot be read), \"owner\" (another program's), \"discriminator\" (none of the IDL's) "
        "or \"data\" (it does not fit the type); path: the field that did not fit, or None; "
        "account: the account type's name, or None.",
        {"reason", "path", "account"});
  });
}

std::nullptr_t raise_idl_error(std::string_view prefix, const Error& error) {
  const bool located = error.line > 0;
  return raise(idl_error_type(), std::string(prefix) + error.message,
               {{"lineno", int_or_none(error.line, located)}, {"colno", int_or_none(error.column, located)}});
}

std::nullptr_t raise_transaction_error(std::string_view prefix, const Error& error) {
  const bool located = error.line > 0;
  return raise(transaction_error_type(), std::string(prefix) + error.message,
               {{"path", text_or_none(error.path)},
                {"lineno", int_or_none(error.line, located)},
                {"colno", int_or_none(error.column, located)}});
}

std::nullptr_t prefix_transaction_error(std::string_view prefix) {
  py::PyRef exc = py::PyRef::steal(py::get_raised_exception());
  if (!exc) return nullptr;
  py::PyRef text = py::PyRef::steal(PyObject_Str(exc.get()));
  if (!text) return nullptr;
  const char* message = PyUnicode_AsUTF8(text.get());
  if (message == nullptr) return nullptr;
  auto attribute = [&](const char* name) {
    return py::PyRef::steal(PyObject_GetAttrString(exc.get(), name));
  };
  return raise(transaction_error_type(), std::string(prefix) + message,
               {{"path", attribute("path")}, {"lineno", attribute("lineno")}, {"colno", attribute("colno")}});
}

std::nullptr_t raise_program_id_error(const Error& error) {
  std::string_view reason = error.message;
  if (!error.path.empty() && reason.starts_with(error.path) &&
      reason.substr(error.path.size()).starts_with(": "))
    reason.remove_prefix(error.path.size() + 2);
  return raise(program_id_error_type(), error.message,
               {{"decoder", text_or_none(error.path)}, {"reason", text_or_none(reason)}});
}

std::nullptr_t raise_instruction_error(const Error& error, const char* reason, std::string_view instruction) {
  return raise(instruction_error_type(), error.message,
               {{"reason", py::PyRef::steal(PyUnicode_FromString(reason))},
                {"path", text_or_none(error.path)},
                {"instruction", text_or_none(instruction)}});
}

std::nullptr_t raise_account_error(const Error& error, const char* reason, std::string_view account) {
  return raise(account_error_type(), error.message,
               {{"reason", py::PyRef::steal(PyUnicode_FromString(reason))},
                {"path", text_or_none(error.path)},
                {"account", text_or_none(account)}});
}

}  // namespace varkel::objects
