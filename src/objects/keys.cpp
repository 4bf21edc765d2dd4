#include "objects/keys.h"

namespace varkel::objects {

std::optional<KeyTable> KeyTable::make(const decode::DecodePlan& plan) {
  KeyTable table;
  table.keys_.reserve(plan.keys.size());
  for (const std::string& name : plan.keys) {
    PyObject* text = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (text == nullptr) return std::nullopt;
    PyUnicode_InternInPlace(&text);  // may replace `text` by the interned equal str
    table.keys_.push_back(py::PyRef::steal(text));
  }
  return table;
}

}  // namespace varkel::objects
