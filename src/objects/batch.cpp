#include "objects/batch.h"

#include <algorithm>
#include <string>

#include "decode/borsh_reader.h"
#include "objects/values.h"
#include "py/compat.h"
#include "py/errors.h"
#include "scan/event_line.h"

namespace varkel::objects {

namespace {

// Lines reserved up front from the size hint; beyond it the lists grow as the
// iteration yields items.
constexpr Py_ssize_t kMaxReservedLines = Py_ssize_t{1} << 16;

// Replaces a pending TypeError by a new TypeError "argument 'logs': {message}"
// that keeps the replaced one's cause. Other exceptions stay as they are.
void prefix_type_error() {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  py::PyRef exc = py::PyRef::steal(py::get_raised_exception());
  py::PyRef message = py::PyRef::steal(PyObject_Str(exc.get()));
  if (!message) return;  // str() failed: its exception is pending instead
  py::PyRef replacement = py::PyRef::steal(PyUnicode_FromFormat("argument 'logs': %U", message.get()));
  if (!replacement) return;
  py::PyRef error = py::PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, replacement.get()));
  if (!error) return;
  PyObject* cause = PyException_GetCause(exc.get());               // new reference or null
  if (cause != nullptr) PyException_SetCause(error.get(), cause);  // steals cause
  py::set_raised_exception(error.release());
}

// The UTF-8 text of a str (the characters themselves when it is ASCII).
bool line_view(PyObject* item, LogLines& out) {
  if (!PyUnicode_Check(item)) {
    py::raise_not_instance(nullptr, item, "str");
    return false;
  }
  if (PyUnicode_IS_COMPACT_ASCII(item)) {
    out.views.emplace_back(static_cast<const char*>(PyUnicode_DATA(item)),
                           static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)));
    return true;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
  if (utf8 == nullptr) return false;
  out.views.emplace_back(utf8, static_cast<std::size_t>(size));
  return true;
}

// A list or tuple is read from a tuple of its items (for a list, a copy taken
// at once, under the list's lock in free-threaded builds): one reference
// keeps every line alive, and no iterator is stepped line by line.
bool collect_sequence(PyObject* logs, LogLines& out) {
  out.holder = py::PyRef::steal(PySequence_Tuple(logs));
  if (!out.holder) return false;
  const Py_ssize_t count = PyTuple_GET_SIZE(out.holder.get());
  out.views.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (!line_view(PyTuple_GET_ITEM(out.holder.get(), i), out)) return false;
  }
  return true;
}

bool collect_lines(PyObject* logs, LogLines& out) {
  if (PyList_CheckExact(logs) || PyTuple_CheckExact(logs)) return collect_sequence(logs, out);
  if (PyUnicode_Check(logs)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(logs)) {
    py::raise_not_instance(nullptr, logs, "Sequence");
    return false;
  }
  // The size is a hint only (a __len__ may say anything): the items that the
  // iteration really yields decide, and the reservation is bounded.
  Py_ssize_t capacity = PyObject_Size(logs);
  if (capacity < 0) {
    PyErr_Clear();
    capacity = 0;
  }
  capacity = std::min(capacity, kMaxReservedLines);
  out.owners.reserve(static_cast<std::size_t>(capacity));
  out.views.reserve(static_cast<std::size_t>(capacity));
  py::PyRef iter = py::PyRef::steal(PyObject_GetIter(logs));
  if (!iter) return false;
  for (;;) {
    PyObject* raw = nullptr;
    int status = py::iter_next_item(iter.get(), &raw);
    if (status < 0) return false;
    if (status == 0) return true;
    py::PyRef item = py::PyRef::steal(raw);
    if (!line_view(item.get(), out)) return false;
    out.owners.push_back(std::move(item));
  }
}

// The (name, value) record; takes over `value`. Null with an exception set
// when the interpreter cannot build it.
py::PyRef make_record(const std::string& name, py::PyRef value) {
  py::PyRef tuple = py::PyRef::steal(PyTuple_New(2));
  if (!tuple) return {};
  PyObject* text = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
  if (text == nullptr) return {};
  PyTuple_SET_ITEM(tuple.get(), 0, text);             // steals text
  PyTuple_SET_ITEM(tuple.get(), 1, value.release());  // steals value
  return tuple;
}

}  // namespace

std::optional<LogLines> convert_logs(PyObject* logs) {
  LogLines lines;
  if (!collect_lines(logs, lines)) {
    prefix_type_error();
    return std::nullopt;
  }
  return lines;
}

// The records are gathered first and the result list is made at its final
// size: no append, so no per-record lock of the list in free-threaded builds.
py::PyRef scan_batch(const Decoding& decoding, std::span<const std::string_view> lines) {
  const decode::EventRegistry& registry = decoding.registry;
  std::vector<py::PyRef> records;
  if (registry.events.empty()) lines = {};
  for (std::string_view line : lines) {
    std::optional<scan::EventPayload> payload = scan::event_of_line(line, registry);
    if (!payload) continue;
    const std::span<const std::uint8_t> data = payload->data();
    decode::BorshReader reader(data.data(), data.size());
    Decoded value = decode_fields(decoding.plan, decoding.keys, reader, decoding.plan.events[payload->event]);
    if (!value.value) {
      if (value.raised) return py::fail_as_internal();
      continue;  // not decodable as this event: skipped
    }
    py::PyRef record = make_record(payload->entry->name, std::move(value.value));
    if (!record) return py::fail_as_internal();
    records.push_back(std::move(record));
  }
  py::PyRef result = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
  if (!result) return result;
  for (std::size_t i = 0; i < records.size(); ++i) {
    PyList_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), records[i].release());  // steals the record
  }
  return result;
}

}  // namespace varkel::objects
