#include "lib/tx_api.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "lib/args.h"
#include "lib/event_decoder.h"
#include "lib/event_type.h"
#include "objects/batch.h"
#include "objects/errors.h"
#include "objects/events.h"
#include "objects/json_value.h"
#include "py/compat.h"
#include "py/errors.h"
#include "py/pyref.h"
#include "tx/attribution.h"
#include "tx/program_set.h"
#include "tx/tx_reader.h"

namespace varkel {

namespace {

const DecoderState& state_of(PyObject* decoder) {
  return *reinterpret_cast<EventDecoderObject*>(decoder)->state;
}

// The decoders of one call: owned references (the registries live in them)
// and the set keyed by program id.
struct Decoders {
  std::vector<py::PyRef> owners;
  tx::ProgramSet programs;
  std::vector<objects::Decoding> decodings;  // by program entry
};

bool add_decoder(Decoders& out, PyObject* decoder, std::string label) {
  const DecoderState& state = state_of(decoder);
  Result<void> added = out.programs.add(state.registry, std::move(label));
  if (!added) {
    objects::raise_program_id_error(added.error());
    return false;
  }
  out.owners.push_back(py::PyRef::borrow(decoder));
  out.decodings.push_back(objects::Decoding{state.registry, state.plan, state.keys});
  return true;
}

std::unique_ptr<Decoders> single_decoder(PyObject* self) {
  auto out = std::make_unique<Decoders>();
  if (!add_decoder(*out, self, "decoder")) return nullptr;
  return out;
}

std::unique_ptr<Decoders> collect_decoders(PyObject* decoders) {
  PyObject* type = event_decoder_type();
  if (type == nullptr) return nullptr;
  py::PyRef iter = py::PyRef::steal(PyObject_GetIter(decoders));
  if (!iter) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      py::raise_not_instance("decoders", decoders, "Iterable[EventDecoder]");
    }
    return nullptr;
  }
  auto out = std::make_unique<Decoders>();
  for (std::size_t index = 0;; ++index) {
    PyObject* raw = nullptr;
    const int status = py::iter_next_item(iter.get(), &raw);
    if (status < 0) return nullptr;
    if (status == 0) break;
    py::PyRef item = py::PyRef::steal(raw);
    if (Py_TYPE(item.get()) != reinterpret_cast<PyTypeObject*>(type)) {
      const std::string param = "decoders[" + std::to_string(index) + "]";
      py::raise_not_instance(param.c_str(), item.get(), "EventDecoder");
      return nullptr;
    }
    if (!add_decoder(*out, item.get(), "decoders[" + std::to_string(index) + "]")) return nullptr;
  }
  return out;
}

// The transaction argument: a dict (read through the same JSON value as
// text), or JSON text as str or a bytes-like object.
std::optional<tx::OwnedTransaction> read_tx_argument(PyObject* obj) {
  Result<tx::OwnedTransaction> read = fail("");
  if (PyDict_Check(obj)) {
    std::optional<json::Value> value = objects::to_json_value(obj, "tx");
    if (!value) return std::nullopt;
    auto document = std::make_unique<json::Value>(std::move(*value));
    Result<tx::Transaction> transaction = tx::read_transaction(*document);
    if (transaction) {
      read = tx::OwnedTransaction{std::move(document), std::move(*transaction)};
    } else {
      read = std::unexpected(std::move(transaction.error()));
    }
  } else if (PyUnicode_Check(obj)) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (text == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return std::nullopt;
      PyErr_Clear();
      objects::raise_transaction_error("invalid transaction: ",
                                       Error("the text is not UTF-8 (it holds a lone surrogate)"));
      return std::nullopt;
    }
    read = tx::read_transaction_text(std::string_view(text, static_cast<std::size_t>(size)));
  } else if (PyObject_CheckBuffer(obj)) {
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0) return std::nullopt;
    read = tx::read_transaction_text(
        std::string_view(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)));
    PyBuffer_Release(&view);  // the model holds copies, not views of the buffer
  } else {
    py::raise_not_instance("tx", obj, "dict | str | bytes");
    return std::nullopt;
  }
  if (!read) {
    objects::raise_transaction_error("invalid transaction: ", read.error());
    return std::nullopt;
  }
  return std::move(*read);
}

PyObject* events_of(const tx::Attribution& attribution, const Decoders& decoders) {
  PyObject* type = event_type();
  if (type == nullptr) return nullptr;
  return objects::build_events(reinterpret_cast<PyTypeObject*>(type), attribution, decoders.programs,
                               decoders.decodings)
      .release();
}

// What a counted call gathers: the pass's counts and the number of event
// sites found (every one has a known discriminator; those whose data does not
// decode are skipped when the events are built).
struct Counted {
  tx::ScanCounts counts;
  std::size_t sites = 0;
  std::string signature;  // of a transaction: its id, empty when none
  std::optional<std::uint64_t> slot;
};

PyObject* decode_logs_with(PyObject* logs, const Decoders& decoders, const tx::LogOptions& options = {},
                           Counted* counted = nullptr) {
  std::optional<objects::LogLines> lines = objects::convert_logs(logs);
  if (!lines) return nullptr;
  const tx::Attribution attribution =
      tx::attribute_logs(lines->views, decoders.programs, options, counted ? &counted->counts : nullptr);
  if (counted != nullptr) counted->sites = attribution.events.size();
  return events_of(attribution, decoders);
}

PyObject* decode_transaction_with(PyObject* tx_arg, const Decoders& decoders, Counted* counted = nullptr) {
  std::optional<tx::OwnedTransaction> read = read_tx_argument(tx_arg);
  if (!read) return nullptr;
  const tx::Attribution attribution =
      tx::attribute_transaction(read->tx, decoders.programs, counted ? &counted->counts : nullptr);
  if (counted != nullptr) {
    counted->sites = attribution.events.size();
    counted->signature = read->tx.signature;
    counted->slot = read->tx.slot;
  }
  return events_of(attribution, decoders);
}

// (events, counts) with the counts as a dict of ints: the pass's counts,
// "events" (the list's length) and "failed" (sites whose data did not decode).
// Steals `events`; null passes through.
PyObject* with_counts(PyObject* events, const Counted& counted) {
  if (events == nullptr) return nullptr;
  py::PyRef list = py::PyRef::steal(events);
  const auto built = static_cast<std::uint64_t>(PyList_GET_SIZE(list.get()));
  const tx::ScanCounts& counts = counted.counts;
  const std::pair<const char*, std::uint64_t> items[] = {
      {"payload_lines", counts.payload_lines},
      {"cpi_instructions", counts.cpi_instructions},
      {"unknown_discriminators", counts.unknown_discriminators},
      {"unattributed", counts.unattributed},
      {"events", built},
      {"failed", counted.sites - built},
  };
  py::PyRef dict = py::PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [key, value] : items) {
    py::PyRef number = py::PyRef::steal(PyLong_FromUnsignedLongLong(value));
    if (!number || PyDict_SetItemString(dict.get(), key, number.get()) < 0) return nullptr;
  }
  return PyTuple_Pack(2, list.get(), dict.get());
}

}  // namespace

PyObject* decoder_decode_logs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Signature kSig{"EventDecoder.decode_logs()", "logs"};
  PyObject* logs = bind_single(kSig, args, nargs, kwnames);
  if (logs == nullptr) return nullptr;
  std::unique_ptr<Decoders> decoders = single_decoder(self);
  if (!decoders) return nullptr;
  return decode_logs_with(logs, *decoders);
}

PyObject* decoder_decode_transaction(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  static constexpr Signature kSig{"EventDecoder.decode_transaction()", "tx"};
  PyObject* tx_arg = bind_single(kSig, args, nargs, kwnames);
  if (tx_arg == nullptr) return nullptr;
  std::unique_ptr<Decoders> decoders = single_decoder(self);
  if (!decoders) return nullptr;
  return decode_transaction_with(tx_arg, *decoders);
}

PyObject* decoder_program_id(PyObject* self, void*) {
  const std::string& address = state_of(self).registry.address;
  PyObject* text = PyUnicode_FromStringAndSize(address.data(), static_cast<Py_ssize_t>(address.size()));
  if (text == nullptr) return py::fail_as_internal();
  return text;
}

PyObject* module_decode_logs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kParams[] = {"logs", "decoders"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("decode_logs()", kParams, args, nargs, kwnames, bound)) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  return decode_logs_with(bound[0], *decoders);
}

PyObject* module_decode_transaction(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kParams[] = {"tx", "decoders"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("decode_transaction()", kParams, args, nargs, kwnames, bound)) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  return decode_transaction_with(bound[0], *decoders);
}

PyObject* module_decode_logs_counted(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kParams[] = {"logs", "decoders", "adopt_unattributed"};
  PyObject* bound[3] = {nullptr, nullptr, nullptr};
  if (!bind_arguments("_decode_logs_counted()", kParams, args, nargs, kwnames, bound)) return nullptr;
  const int adopt = PyObject_IsTrue(bound[2]);
  if (adopt < 0) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  Counted counted;
  PyObject* events = decode_logs_with(bound[0], *decoders, tx::LogOptions{adopt == 1}, &counted);
  return with_counts(events, counted);
}

PyObject* module_decode_transaction_counted(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                            PyObject* kwnames) {
  static constexpr const char* kParams[] = {"tx", "decoders"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("_decode_transaction_counted()", kParams, args, nargs, kwnames, bound)) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  Counted counted;
  py::PyRef pair =
      py::PyRef::steal(with_counts(decode_transaction_with(bound[0], *decoders, &counted), counted));
  if (!pair) return nullptr;
  py::PyRef signature =
      counted.signature.empty()
          ? py::PyRef::borrow(Py_None)
          : py::PyRef::steal(PyUnicode_FromStringAndSize(counted.signature.data(),
                                                         static_cast<Py_ssize_t>(counted.signature.size())));
  py::PyRef slot = counted.slot ? py::PyRef::steal(PyLong_FromUnsignedLongLong(*counted.slot))
                                : py::PyRef::borrow(Py_None);
  if (!signature || !slot) return nullptr;
  return PyTuple_Pack(4, PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1), signature.get(),
                      slot.get());
}

}  // namespace varkel
