#include "objects/json_value.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/path.h"
#include "objects/errors.h"
#include "py/compat.h"
#include "py/pyref.h"

namespace varkel::objects {

namespace {

constexpr int kMaxDepth = 127;  // as the JSON text parser

// Members whose content the transaction reader never reads (balances, token
// balances, rewards, the node's parsed instructions, return data): they keep
// their key, with null content.
bool content_unread(std::string_view key) {
  static constexpr std::string_view kUnread[] = {
      "parsed",           "postBalances", "postTokenBalances", "preBalances",
      "preTokenBalances", "returnData",   "rewards",
  };
  for (std::string_view unread : kUnread) {
    if (key == unread) return true;
  }
  return false;
}

class Converter {
 public:
  explicit Converter(const char* param) : param_(param) {}

  bool convert(PyObject* obj, json::Value& out, int depth);

 private:
  bool convert_dict(PyObject* dict, json::Value& out, int depth);
  bool convert_sequence(PyObject* seq, json::Value& out, int depth);
  bool convert_int(PyObject* obj, json::Value& out);

  // The path from the top, its first kShownSteps steps only ("...": more).
  std::string path() const {
    constexpr std::size_t kShownSteps = 8;
    return json::path_text(path_, "transaction document", kShownSteps);
  }

  // A TypeError, or a TransactionError with the path.
  bool fail(PyObject* type, const std::string& what) {
    const std::string message = "argument '" + std::string(param_) + "': " + path() + ": " + what;
    if (type != PyExc_ValueError) {
      PyErr_SetString(type, message.c_str());
      return false;
    }
    Error error(message, path_.empty() ? std::string() : path());
    raise_transaction_error("", error);
    return false;
  }

  bool not_json(PyObject* obj) {
    py::PyRef name = py::PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!name) return false;
    const char* text = PyUnicode_AsUTF8(name.get());
    if (text == nullptr) return false;
    std::string what = "'";
    what += text;
    what += "' object is not JSON data";
    return fail(PyExc_TypeError, what);
  }

  bool key_not_str(PyObject* key) {
    py::PyRef name = py::PyRef::steal(PyType_GetQualName(Py_TYPE(key)));
    if (!name) return false;
    const char* text = PyUnicode_AsUTF8(name.get());
    if (text == nullptr) return false;
    std::string what = "a key of type '";
    what += text;
    what += "' (JSON keys are str)";
    return fail(PyExc_TypeError, what);
  }

  const char* param_;
  std::vector<json::PathStep> path_;
};

bool Converter::convert(PyObject* obj, json::Value& out, int depth) {
  if (obj == Py_None) {
    out.data = nullptr;
    return true;
  }
  if (PyBool_Check(obj)) {
    out.data = obj == Py_True;
    return true;
  }
  if (PyUnicode_Check(obj)) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (text == nullptr) {
      PyErr_Clear();
      return fail(PyExc_ValueError, "str is not UTF-8 text (it holds a lone surrogate)");
    }
    out.data = std::string(text, static_cast<std::size_t>(size));
    return true;
  }
  if (PyLong_Check(obj)) return convert_int(obj, out);
  if (PyFloat_Check(obj)) {
    out.data = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  if (PyDict_Check(obj) || PyList_Check(obj) || PyTuple_Check(obj)) {
    if (depth >= kMaxDepth) return fail(PyExc_ValueError, "nested deeper than 127 levels");
    return PyDict_Check(obj) ? convert_dict(obj, out, depth + 1) : convert_sequence(obj, out, depth + 1);
  }
  return not_json(obj);
}

bool Converter::convert_int(PyObject* obj, json::Value& out) {
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow == 0) {
    if (value >= 0) {
      out.data = static_cast<std::uint64_t>(value);
    } else {
      out.data = static_cast<std::int64_t>(value);
    }
    return true;
  }
  if (overflow > 0) {
    const unsigned long long big = PyLong_AsUnsignedLongLong(obj);
    if (!(big == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      out.data = static_cast<std::uint64_t>(big);
      return true;
    }
    PyErr_Clear();
  }
  const double approx = PyLong_AsDouble(obj);
  if (approx == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return fail(PyExc_ValueError, "integer too large for a JSON number");
  }
  out.data = approx;
  return true;
}

bool Converter::convert_dict(PyObject* dict, json::Value& out, int depth) {
  // A snapshot of the items, taken under the dict's lock.
  std::vector<std::pair<py::PyRef, py::PyRef>> items;
  {
    py::CriticalSection locked(dict);
    items.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) {
      items.emplace_back(py::PyRef::borrow(key), py::PyRef::borrow(value));
    }
  }
  json::Object members;
  members.reserve(items.size());
  for (auto& [k, v] : items) {
    if (!PyUnicode_Check(k.get())) return key_not_str(k.get());
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(k.get(), &size);
    if (text == nullptr) {
      PyErr_Clear();
      return fail(PyExc_ValueError, "a key is not UTF-8 text (it holds a lone surrogate)");
    }
    const std::string_view name(text, static_cast<std::size_t>(size));
    members.emplace_back(std::string(name), json::Value{});
    if (content_unread(name)) continue;  // stays null
    path_.push_back(json::PathStep{name, 0, false});
    const bool converted = convert(v.get(), members.back().second, depth);
    path_.pop_back();
    if (!converted) return false;
  }
  // The reader looks members up by binary search: ascending key bytes (the
  // keys of a dict are distinct already).
  std::sort(members.begin(), members.end(), [](const json::Member& a, const json::Member& b) {
    return std::string_view(a.first) < std::string_view(b.first);
  });
  out.data = std::move(members);
  return true;
}

bool Converter::convert_sequence(PyObject* seq, json::Value& out, int depth) {
  std::vector<py::PyRef> items;
  if (PyTuple_Check(seq)) {  // immutable: no lock needed
    const Py_ssize_t n = PyTuple_GET_SIZE(seq);
    items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) items.push_back(py::PyRef::borrow(PyTuple_GET_ITEM(seq, i)));
  } else {
    py::CriticalSection locked(seq);
    const Py_ssize_t n = PyList_GET_SIZE(seq);
    items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) items.push_back(py::PyRef::borrow(PyList_GET_ITEM(seq, i)));
  }
  json::Array elements(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    path_.push_back(json::PathStep{{}, i, true});
    const bool converted = convert(items[i].get(), elements[i], depth);
    path_.pop_back();
    if (!converted) return false;
  }
  out.data = std::move(elements);
  return true;
}

}  // namespace

std::optional<json::Value> to_json_value(PyObject* obj, const char* param) {
  json::Value out;
  Converter converter(param);
  if (!converter.convert(obj, out, 0)) return std::nullopt;
  return out;
}

}  // namespace varkel::objects
