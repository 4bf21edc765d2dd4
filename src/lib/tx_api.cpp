#include "lib/tx_api.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "lib/args.h"
#include "lib/decoders.h"
#include "lib/event_decoder.h"
#include "lib/event_table.h"
#include "lib/record_types.h"
#include "objects/batch.h"
#include "objects/errors.h"
#include "objects/events.h"
#include "objects/instructions.h"
#include "objects/json_value.h"
#include "objects/transactions.h"
#include "py/compat.h"
#include "py/errors.h"
#include "py/pyref.h"
#include "tx/attribution.h"
#include "tx/failure.h"
#include "tx/program_set.h"
#include "tx/tx_reader.h"

namespace varkel {

namespace {

// A transaction or block argument's JSON document: a dict (read through the
// same JSON value as text), or JSON text as str or a bytes-like object. Null
// with TransactionError (text that is not JSON) or TypeError set.
std::unique_ptr<json::Value> document_argument(PyObject* obj, const char* param) {
  if (PyDict_Check(obj)) {
    std::optional<json::Value> value = objects::to_json_value(obj, param);
    if (!value) return nullptr;
    return std::make_unique<json::Value>(std::move(*value));
  }
  Result<json::Value> parsed = fail("");
  if (PyUnicode_Check(obj)) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (text == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
      PyErr_Clear();
      objects::raise_transaction_error("invalid transaction: ",
                                       Error("the text is not UTF-8 (it holds a lone surrogate)"));
      return nullptr;
    }
    parsed = json::parse(std::string_view(text, static_cast<std::size_t>(size)));
  } else if (PyObject_CheckBuffer(obj)) {
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0) return nullptr;
    parsed =
        json::parse(std::string_view(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)));
    PyBuffer_Release(&view);  // the value holds copies, not views of the buffer
  } else {
    py::raise_not_instance(param, obj, "dict | str | bytes");
    return nullptr;
  }
  if (!parsed) {
    Error error = std::move(parsed.error());
    error.message.insert(0, "transaction JSON: ");
    objects::raise_transaction_error("invalid transaction: ", error);
    return nullptr;
  }
  return std::make_unique<json::Value>(std::move(*parsed));
}

// The transaction of a document; nullopt with TransactionError set.
std::optional<tx::Transaction> transaction_of(const json::Value& document) {
  Result<tx::Transaction> read = tx::read_transaction(document);
  if (!read) {
    if (tx::is_block(document)) {
      read =
          fail("the document is a block, not one transaction (decode_block and decode_tables read blocks)");
    }
    objects::raise_transaction_error("invalid transaction: ", read.error());
    return std::nullopt;
  }
  return std::move(*read);
}

std::optional<tx::OwnedTransaction> read_tx_argument(PyObject* obj) {
  std::unique_ptr<json::Value> document = document_argument(obj, "tx");
  if (!document) return std::nullopt;
  std::optional<tx::Transaction> transaction = transaction_of(*document);
  if (!transaction) return std::nullopt;
  return tx::OwnedTransaction{std::move(document), std::move(*transaction)};
}

// The events and instructions in execution order, in a new list. `decoded`:
// per event site, whether it is in `events` (a site whose data did not
// decode is not).
py::PyRef merged(const tx::Attribution& attribution, PyObject* events, PyObject* instructions,
                 const std::vector<bool>& decoded) {
  py::PyRef list = py::PyRef::steal(PyList_New(0));
  if (!list) return {};
  Py_ssize_t e = 0;
  Py_ssize_t n = 0;
  std::size_t site = 0;
  for (const bool instruction : tx::merge_order(attribution)) {
    PyObject* item = nullptr;
    if (instruction) {
      item = PyList_GET_ITEM(instructions, n++);
    } else if (decoded[site++]) {
      item = PyList_GET_ITEM(events, e++);
    }
    if (item != nullptr && PyList_Append(list.get(), item) < 0) return {};
  }
  return list;
}

PyObject* events_of(const tx::Attribution& attribution, const Decoders& decoders,
                    std::vector<bool>* decoded = nullptr) {
  PyObject* type = event_type();
  if (type == nullptr) return nullptr;
  return objects::build_events(reinterpret_cast<PyTypeObject*>(type), attribution, decoders.programs,
                               decoders.decodings, decoded)
      .release();
}

// What a counted call gathers: the pass's counts and the number of event
// sites found (every one has a known discriminator; those whose data does not
// decode are skipped when the events are built).
struct Counted {
  tx::ScanCounts counts;
  std::size_t sites = 0;
  objects::InstructionCounts instructions;
  std::uint64_t transactions = 0;  // decode_tables
  std::uint64_t events = 0;        // decode_tables: rows
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

// What to make of a transaction: its events, its instructions, or the
// Transaction record (of its events alone: its instructions left empty).
enum class Want : std::uint8_t { Events, Instructions, Record, RecordOfEvents };

// The events, the instructions, or the Transaction record of a transaction
// argument; with `items` (a Record), a new list of its events and
// instructions in execution order.
PyObject* decode_read(const tx::Transaction& transaction, const Decoders& decoders, Want want,
                      Counted* counted = nullptr, py::PyRef* items = nullptr) {
  const tx::TransactionOptions options{want != Want::Instructions,
                                       want == Want::Instructions || want == Want::Record};
  const tx::Attribution attribution = tx::attribute_transaction(
      transaction, decoders.programs, counted ? &counted->counts : nullptr, options);
  if (counted != nullptr) counted->sites += attribution.events.size();
  if (want == Want::Events) return events_of(attribution, decoders);
  PyObject* type = instruction_type();
  if (type == nullptr) return nullptr;
  py::PyRef instructions = objects::build_instructions(reinterpret_cast<PyTypeObject*>(type), transaction,
                                                       attribution, decoders.programs, decoders.decodings,
                                                       counted ? &counted->instructions : nullptr);
  if (want == Want::Instructions || !instructions) return instructions.release();
  std::vector<bool> decoded;
  py::PyRef events = py::PyRef::steal(events_of(attribution, decoders, &decoded));
  if (!events) return nullptr;
  py::PyRef error;
  if (transaction.failed) {
    error = objects::failure_dict(tx::explain_failure(transaction, attribution, decoders.programs));
    if (!error) return nullptr;
  }
  if (items != nullptr) {
    *items = merged(attribution, events.get(), instructions.get(), decoded);
    if (!*items) return nullptr;
  }
  PyObject* record_type = transaction_type();
  if (record_type == nullptr) return nullptr;
  return objects::build_transaction(reinterpret_cast<PyTypeObject*>(record_type), transaction,
                                    std::move(error), std::move(instructions), std::move(events))
      .release();
}

PyObject* decode_with(PyObject* tx_arg, const Decoders& decoders, Want want) {
  std::optional<tx::OwnedTransaction> read = read_tx_argument(tx_arg);
  if (!read) return nullptr;
  return decode_read(read->tx, decoders, want);
}

// Whether a Transaction record holds any instruction or event.
bool holds_items(PyObject* record) {
  return PyList_GET_SIZE(PyStructSequence_GetItem(record, objects::kTransactionInstructions)) > 0 ||
         PyList_GET_SIZE(PyStructSequence_GetItem(record, objects::kTransactionEvents)) > 0;
}

// The block of a document; nullopt with TransactionError set.
std::optional<tx::Block> block_of(const json::Value& document) {
  Result<tx::Block> block = tx::read_block(document);
  if (!block) {
    objects::raise_transaction_error("invalid block: ", block.error());
    return std::nullopt;
  }
  return std::move(*block);
}

// Calls `each(transaction)` for every transaction of `block`. False with an
// exception set when one cannot be read or `each` fails.
template <class Each>
bool for_each_block_transaction(const tx::Block& block, Each&& each) {
  for (std::size_t i = 0; i < block.transactions->size(); ++i) {
    Result<tx::Transaction> transaction = tx::read_block_transaction(block, i);
    if (!transaction) {
      objects::raise_transaction_error("invalid transaction: ", transaction.error());
      return false;
    }
    if (!each(*transaction)) return false;
  }
  return true;
}

// Calls `each(transaction)` for the transaction of `document`, or for every
// transaction of the block it holds. False with an exception set when one
// cannot be read or `each` fails.
template <class Each>
bool for_each_transaction(const json::Value& document, Each&& each) {
  if (!tx::is_block(document)) {
    std::optional<tx::Transaction> transaction = transaction_of(document);
    return transaction && each(*transaction);
  }
  std::optional<tx::Block> block = block_of(document);
  return block && for_each_block_transaction(*block, each);
}

// The counts as a dict of ints: the pass's counts, "events" (records made)
// and "failed" (sites whose data did not decode), with `instructions` also
// "instructions" and "undecodable_instructions".
py::PyRef counts_dict(const Counted& counted, std::uint64_t built, bool instructions) {
  const tx::ScanCounts& counts = counted.counts;
  std::vector<std::pair<const char*, std::uint64_t>> items = {
      {"payload_lines", counts.payload_lines},
      {"cpi_instructions", counts.cpi_instructions},
      {"unknown_discriminators", counts.unknown_discriminators},
      {"unattributed", counts.unattributed},
      {"other_programs", counts.other_programs},
      {"invocations", counts.invocations},
      {"events", built},
      {"failed", counted.sites - built},
  };
  if (instructions) {
    items.emplace_back("instructions", counted.instructions.instructions);
    items.emplace_back("undecodable_instructions", counted.instructions.undecodable);
  }
  py::PyRef dict = py::PyRef::steal(PyDict_New());
  if (!dict) return {};
  for (const auto& [key, value] : items) {
    py::PyRef number = py::PyRef::steal(PyLong_FromUnsignedLongLong(value));
    if (!number || PyDict_SetItemString(dict.get(), key, number.get()) < 0) return {};
  }
  return dict;
}

// One decoder's instruction from raw data and keys.
PyObject* decode_instruction_with(PyObject* self, PyObject* data_arg, PyObject* accounts_arg) {
  const DecoderState& state = state_of(self);
  std::vector<std::uint8_t> bytes;
  if (PyUnicode_Check(data_arg)) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(data_arg, &size);
    if (text == nullptr) return nullptr;
    Result<std::vector<std::uint8_t>> decoded =
        decode::base58_decode(std::string_view(text, static_cast<std::size_t>(size)));
    if (!decoded) {
      Error error("argument 'data': " + decoded.error().message, "data");
      return objects::raise_instruction_error(error, "input", "");
    }
    bytes = std::move(*decoded);
  } else if (PyObject_CheckBuffer(data_arg)) {
    Py_buffer view;
    if (PyObject_GetBuffer(data_arg, &view, PyBUF_SIMPLE) < 0) return nullptr;
    const auto* start = static_cast<const std::uint8_t*>(view.buf);
    bytes.assign(start, start + view.len);
    PyBuffer_Release(&view);
  } else {
    return py::raise_not_instance("data", data_arg, "bytes | str");
  }
  std::optional<std::vector<decode::Pubkey>> keys;
  if (accounts_arg != nullptr && accounts_arg != Py_None) {
    if (PyUnicode_Check(accounts_arg))
      return py::raise_not_instance("accounts", accounts_arg, "Sequence[str]");
    py::PyRef iter = py::iterate(accounts_arg, "accounts", "Sequence[str]");
    if (!iter) return nullptr;
    keys.emplace();
    for (std::size_t i = 0;; ++i) {
      PyObject* raw = nullptr;
      const int status = py::iter_next_item(iter.get(), &raw);
      if (status < 0) return nullptr;
      if (status == 0) break;
      py::PyRef item = py::PyRef::steal(raw);
      const std::string param = "accounts[" + std::to_string(i) + "]";
      if (!PyUnicode_Check(item.get())) return py::raise_not_instance(param.c_str(), item.get(), "str");
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(item.get(), &size);
      if (text == nullptr) return nullptr;
      Result<decode::Pubkey> key =
          decode::base58_decode_key(std::string_view(text, static_cast<std::size_t>(size)));
      if (!key)
        return objects::raise_instruction_error(
            Error("argument '" + param + "': " + key.error().message, param), "input", "");
      keys->push_back(*key);
    }
  }
  py::PyRef program_id =
      state.registry.address.empty()
          ? py::PyRef::borrow(Py_None)
          : py::PyRef::steal(PyUnicode_FromStringAndSize(
                state.registry.address.data(), static_cast<Py_ssize_t>(state.registry.address.size())));
  if (!program_id) return nullptr;
  PyObject* type = instruction_type();
  if (type == nullptr) return nullptr;
  const objects::InstructionInput input{bytes,
                                        keys ? &*keys : nullptr,
                                        {},
                                        state.registry.program_id ? &*state.registry.program_id : nullptr,
                                        program_id.get()};
  objects::InstructionFault fault = objects::InstructionFault::None;
  Error error;
  py::PyRef record = objects::build_instruction(reinterpret_cast<PyTypeObject*>(type),
                                                objects::Decoding{state.registry, state.plan, state.keys},
                                                input, objects::InstructionPlace{}, fault, error);
  if (!record) return py::fail_as_internal();
  static constexpr const char* kReasons[] = {"", "discriminator", "arguments", "accounts"};
  if (fault != objects::InstructionFault::None) {
    const decode::InstructionEntry* entry = state.registry.find_instruction(bytes);
    return objects::raise_instruction_error(
        error, kReasons[static_cast<int>(fault)],
        entry != nullptr ? std::string_view(entry->name) : std::string_view());
  }
  return record.release();
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
  return decode_with(tx_arg, *decoders, Want::Events);
}

PyObject* decoder_decode_instructions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  static constexpr Signature kSig{"EventDecoder.decode_instructions()", "tx"};
  PyObject* tx_arg = bind_single(kSig, args, nargs, kwnames);
  if (tx_arg == nullptr) return nullptr;
  std::unique_ptr<Decoders> decoders = single_decoder(self);
  if (!decoders) return nullptr;
  return decode_with(tx_arg, *decoders, Want::Instructions);
}

PyObject* decoder_decode_instruction(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  static constexpr const char* kParams[] = {"data", "accounts"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("EventDecoder.decode_instruction()", kParams, args, nargs, kwnames, bound, 1))
    return nullptr;
  return decode_instruction_with(self, bound[0], bound[1]);
}

PyObject* decoder_program_id(PyObject* self, void*) {
  const std::string& address = state_of(self).registry.address;
  PyObject* text = PyUnicode_FromStringAndSize(address.data(), static_cast<Py_ssize_t>(address.size()));
  if (text == nullptr) return py::fail_as_internal();
  return text;
}

PyObject* decoder_instruction_names(PyObject* self, void*) {
  const auto& instructions = state_of(self).registry.instructions;
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(instructions.size())));
  if (!list) return py::fail_as_internal();
  for (std::size_t i = 0; i < instructions.size(); ++i) {
    const std::string& name = instructions[i].name;
    PyObject* item = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (item == nullptr) return py::fail_as_internal();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

namespace {

// A module function of (tx, decoders).
PyObject* module_tx_call(const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                         Want want) {
  static constexpr const char* kParams[] = {"tx", "decoders"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments(name, kParams, args, nargs, kwnames, bound)) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  return decode_with(bound[0], *decoders, want);
}

}  // namespace

PyObject* module_decode_logs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kParams[] = {"logs", "decoders"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("decode_logs()", kParams, args, nargs, kwnames, bound)) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  return decode_logs_with(bound[0], *decoders);
}

PyObject* module_decode_transaction(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return module_tx_call("decode_transaction()", args, nargs, kwnames, Want::Events);
}

PyObject* module_decode_instructions(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return module_tx_call("decode_instructions()", args, nargs, kwnames, Want::Instructions);
}

PyObject* module_decode(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return module_tx_call("decode()", args, nargs, kwnames, Want::Record);
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
  py::PyRef events =
      py::PyRef::steal(decode_logs_with(bound[0], *decoders, tx::LogOptions{adopt == 1}, &counted));
  if (!events) return nullptr;
  py::PyRef counts = counts_dict(counted, static_cast<std::uint64_t>(PyList_GET_SIZE(events.get())), false);
  if (!counts) return nullptr;
  return PyTuple_Pack(2, events.get(), counts.get());
}

PyObject* module_decode_counted(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kParams[] = {"line", "decoders", "instructions"};
  PyObject* bound[3] = {nullptr, nullptr, nullptr};
  if (!bind_arguments("_decode_counted()", kParams, args, nargs, kwnames, bound)) return nullptr;
  const int instructions = PyObject_IsTrue(bound[2]);
  if (instructions < 0) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  std::unique_ptr<json::Value> document = document_argument(bound[0], "line");
  if (!document) return nullptr;
  const bool block = tx::is_block(*document);
  Counted counted;
  std::uint64_t transactions = 0;
  py::PyRef list = py::PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  const bool done = for_each_transaction(*document, [&](const tx::Transaction& transaction) {
    ++transactions;
    py::PyRef items;
    py::PyRef record = py::PyRef::steal(decode_read(
        transaction, *decoders, instructions ? Want::Record : Want::RecordOfEvents, &counted, &items));
    if (!record) return false;
    if (block && !holds_items(record.get())) return true;  // a block's transactions of other programs
    py::PyRef pair = py::PyRef::steal(PyTuple_Pack(2, record.get(), items.get()));
    return pair && PyList_Append(list.get(), pair.get()) == 0;
  });
  if (!done) return nullptr;
  // The events that came out: of every transaction, kept or not.
  std::uint64_t events = 0;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.get()); ++i) {
    PyObject* record = PyTuple_GET_ITEM(PyList_GET_ITEM(list.get(), i), 0);
    events += static_cast<std::uint64_t>(
        PyList_GET_SIZE(PyStructSequence_GetItem(record, objects::kTransactionEvents)));
  }
  py::PyRef counts = counts_dict(counted, events, true);
  if (!counts) return nullptr;
  py::PyRef number = py::PyRef::steal(PyLong_FromUnsignedLongLong(transactions));
  if (!number || PyDict_SetItemString(counts.get(), "transactions", number.get()) < 0) return nullptr;
  return PyTuple_Pack(2, list.get(), counts.get());
}

PyObject* module_decode_block(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kParams[] = {"block", "decoders"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("decode_block()", kParams, args, nargs, kwnames, bound)) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  std::unique_ptr<json::Value> document = document_argument(bound[0], "block");
  if (!document) return nullptr;
  if (!tx::is_block(*document) && tx::read_transaction(*document)) {
    return objects::raise_transaction_error(
        "invalid block: ", Error("the document is one transaction, not a block (decode reads it)"));
  }
  std::optional<tx::Block> block = block_of(*document);
  if (!block) return nullptr;
  py::PyRef list = py::PyRef::steal(PyList_New(0));
  if (!list) return nullptr;
  const bool done = for_each_block_transaction(*block, [&](const tx::Transaction& transaction) {
    py::PyRef record = py::PyRef::steal(decode_read(transaction, *decoders, Want::Record));
    if (!record) return false;
    return !holds_items(record.get()) || PyList_Append(list.get(), record.get()) == 0;
  });
  if (!done) return nullptr;
  return list.release();
}

namespace {

// decode_tables and its counted variant. `errors`: null to raise at the
// first item that cannot be read; else a list that gets (index, message) for
// each such item, and the call goes on.
PyObject* decode_tables_with(PyObject* items_arg, const Decoders& decoders, columnar::KeyForm form,
                             bool instructions, PyObject* errors, Counted* counted) {
  py::PyRef iter = py::iterate(items_arg, "items", "Iterable[dict | str | bytes]");
  if (!iter) return nullptr;
  const std::vector<columnar::ProgramTables> programs = decoders.tables();
  columnar::TransactionTables tables(programs, form, instructions);
  const tx::TransactionOptions options{true, instructions};
  for (std::size_t index = 0;; ++index) {
    PyObject* raw = nullptr;
    const int status = py::iter_next_item(iter.get(), &raw);
    if (status < 0) return nullptr;
    if (status == 0) break;
    py::PyRef item = py::PyRef::steal(raw);
    const std::string param = "items[" + std::to_string(index) + "]";
    std::unique_ptr<json::Value> document = document_argument(item.get(), param.c_str());
    const bool done =
        document && for_each_transaction(*document, [&](const tx::Transaction& transaction) {
          const tx::Attribution attribution = tx::attribute_transaction(
              transaction, decoders.programs, counted != nullptr ? &counted->counts : nullptr, options);
          tables.add(transaction, attribution);
          return true;
        });
    if (done) continue;
    if (errors == nullptr || !PyErr_ExceptionMatches(objects::transaction_error_type())) {
      if (errors == nullptr && PyErr_ExceptionMatches(objects::transaction_error_type())) {
        objects::prefix_transaction_error(param + ": ");
      }
      return nullptr;
    }
    py::PyRef exc = py::PyRef::steal(py::get_raised_exception());
    py::PyRef message = py::PyRef::steal(PyObject_Str(exc.get()));
    if (!message) return nullptr;
    py::PyRef entry = py::PyRef::steal(Py_BuildValue("(nO)", static_cast<Py_ssize_t>(index), message.get()));
    if (!entry || PyList_Append(errors, entry.get()) < 0) return nullptr;
  }
  if (counted != nullptr) {
    const columnar::RowCounts& rows = tables.counts();
    counted->transactions = rows.transactions;
    counted->events = rows.events;
    counted->sites = rows.events + rows.undecoded_events;
    counted->instructions.instructions = rows.instructions + rows.undecoded_instructions;
    counted->instructions.undecodable = rows.undecoded_instructions;
  }
  std::vector<columnar::TransactionTables::Finished> finished = std::move(tables).finish();
  py::PyRef result = py::PyRef::steal(PyDict_New());
  if (!result) return nullptr;
  for (columnar::TransactionTables::Finished& f : finished) {
    const std::string_view program = decoders.programs.text(f.program);
    const char* kind = columnar::kind_name(f.kind);
    py::PyRef key = py::PyRef::steal(
        Py_BuildValue("(s#ss#)", program.data(), static_cast<Py_ssize_t>(program.size()), kind,
                      f.table->name.data(), static_cast<Py_ssize_t>(f.table->name.size())));
    if (!key) return nullptr;
    py::PyRef value = py::PyRef::steal(make_event_table(std::move(f.table), kind, program));
    if (!value || PyDict_SetItem(result.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return result.release();
}

}  // namespace

PyObject* module_decode_tables(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kParams[] = {"items", "decoders", "pubkey", "instructions"};
  PyObject* bound[4] = {nullptr, nullptr, nullptr, nullptr};
  if (!bind_arguments("decode_tables()", kParams, args, nargs, kwnames, bound, 2)) return nullptr;
  const std::optional<columnar::KeyForm> form = key_form_of(bound[2]);
  if (!form) return nullptr;
  const int instructions = bound[3] == nullptr ? 1 : PyObject_IsTrue(bound[3]);
  if (instructions < 0) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  return decode_tables_with(bound[0], *decoders, *form, instructions == 1, nullptr, nullptr);
}

PyObject* module_decode_tables_counted(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
  static constexpr const char* kParams[] = {"items", "decoders", "pubkey", "instructions"};
  PyObject* bound[4] = {nullptr, nullptr, nullptr, nullptr};
  if (!bind_arguments("_decode_tables_counted()", kParams, args, nargs, kwnames, bound)) return nullptr;
  const std::optional<columnar::KeyForm> form = key_form_of(bound[2]);
  if (!form) return nullptr;
  const int instructions = PyObject_IsTrue(bound[3]);
  if (instructions < 0) return nullptr;
  std::unique_ptr<Decoders> decoders = collect_decoders(bound[1]);
  if (!decoders) return nullptr;
  py::PyRef errors = py::PyRef::steal(PyList_New(0));
  if (!errors) return nullptr;
  Counted counted;
  py::PyRef tables = py::PyRef::steal(
      decode_tables_with(bound[0], *decoders, *form, instructions == 1, errors.get(), &counted));
  if (!tables) return nullptr;
  py::PyRef counts = counts_dict(counted, counted.events, true);
  if (!counts) return nullptr;
  py::PyRef number = py::PyRef::steal(PyLong_FromUnsignedLongLong(counted.transactions));
  if (!number || PyDict_SetItemString(counts.get(), "transactions", number.get()) < 0) return nullptr;
  return PyTuple_Pack(3, tables.get(), counts.get(), errors.get());
}

}  // namespace varkel
