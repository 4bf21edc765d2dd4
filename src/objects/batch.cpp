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

// The UTF-8 text of a str (its characters themselves when it is ASCII), or
// nullopt with an exception set.
std::optional<std::string_view> text_of(PyObject* item) {
  if (!PyUnicode_Check(item)) {
    py::raise_not_instance(nullptr, item, "str");
    return std::nullopt;
  }
  if (PyUnicode_IS_COMPACT_ASCII(item)) {
    return std::string_view(static_cast<const char*>(PyUnicode_DATA(item)),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)));
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

bool wanted(std::string_view text, Lines which) {
  return which == Lines::All || scan::extract_payload(text).has_value();
}

// A tuple is held as it is. A list is read under its lock (free-threaded
// builds), with a reference taken to each line kept: no iterator is stepped,
// and the lines left out cost no reference. Only an ASCII str is read without
// a reference of its own; anything else may run code that lets another thread
// change the list (the lock is then suspended), so it is held first, and the
// list's size is read again at each step.
bool collect_sequence(PyObject* logs, Lines which, LogLines& out) {
  if (PyTuple_CheckExact(logs)) {
    out.holder = py::PyRef::borrow(logs);
    const Py_ssize_t count = PyTuple_GET_SIZE(logs);
    out.views.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      const std::optional<std::string_view> text = text_of(PyTuple_GET_ITEM(logs, i));
      if (!text) return false;
      if (wanted(*text, which)) out.views.push_back(*text);
    }
    return true;
  }
  py::CriticalSection lock(logs);
  // Room for every line: the pages of the room that no kept line takes are
  // never touched, and the lists never move as they grow.
  out.views.reserve(static_cast<std::size_t>(PyList_GET_SIZE(logs)));
  out.owners.reserve(static_cast<std::size_t>(PyList_GET_SIZE(logs)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(logs); ++i) {
    PyObject* item = PyList_GET_ITEM(logs, i);
    if (PyUnicode_CheckExact(item) && PyUnicode_IS_COMPACT_ASCII(item)) {
      const std::string_view text(static_cast<const char*>(PyUnicode_DATA(item)),
                                  static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)));
      if (!wanted(text, which)) continue;
      out.views.push_back(text);
      out.owners.push_back(py::PyRef::borrow(item));
      continue;
    }
    py::PyRef held = py::PyRef::borrow(item);
    const std::optional<std::string_view> text = text_of(held.get());
    if (!text) return false;
    if (!wanted(*text, which)) continue;
    out.views.push_back(*text);
    out.owners.push_back(std::move(held));
  }
  return true;
}

bool collect_lines(PyObject* logs, Lines which, LogLines& out) {
  if (PyList_CheckExact(logs) || PyTuple_CheckExact(logs)) return collect_sequence(logs, which, out);
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
    const std::optional<std::string_view> text = text_of(item.get());
    if (!text) return false;
    if (!wanted(*text, which)) continue;
    out.views.push_back(*text);
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

std::optional<LogLines> convert_logs(PyObject* logs, Lines which) {
  LogLines lines;
  if (!collect_lines(logs, which, lines)) {
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
  std::vector<std::uint8_t> scratch;
  for (std::string_view line : lines) {
    const std::optional<scan::EventPayload> payload = scan::event_of_line(line, registry, scratch);
    if (!payload) continue;
    decode::BorshReader reader(payload->data.data(), payload->data.size());
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
