#include "lib/event_decoder.h"

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "idl/load.h"
#include "lib/account_api.h"
#include "lib/args.h"
#include "lib/decoders.h"
#include "lib/event_table.h"
#include "lib/tx_api.h"
#include "objects/batch.h"
#include "objects/errors.h"
#include "py/errors.h"
#include "py/guard.h"
#include "py/once.h"
#include "py/pyref.h"

namespace varkel {

namespace {

EventDecoderObject* as_decoder(PyObject* self) {
  return reinterpret_cast<EventDecoderObject*>(self);
}

std::string_view program_of(const DecoderState& state) {
  return state.registry.address;
}

// Borrowed UTF-8 view of a str argument, or null with the exception set.
const char* utf8_of(PyObject* text, Py_ssize_t* size) {
  return PyUnicode_AsUTF8AndSize(text, size);
}

// The state of a decoder of `idl_json` (a str); see new_decoder.
std::unique_ptr<const DecoderState> build_state(PyObject* idl_json, PyObject* program_id) {
  Py_ssize_t size = 0;
  const char* text = utf8_of(idl_json, &size);
  if (text == nullptr) return nullptr;
  std::optional<decode::Pubkey> key;
  std::string key_text;
  if (program_id != nullptr) {
    Py_ssize_t key_size = 0;
    const char* chars = utf8_of(program_id, &key_size);
    if (chars == nullptr) return nullptr;
    key_text.assign(chars, static_cast<std::size_t>(key_size));
    Result<decode::Pubkey> decoded = decode::base58_decode_key(key_text);
    if (!decoded) {
      objects::raise_program_id_error(Error("argument 'program_id': \"" + key_text +
                                            "\" is not a public key: " + decoded.error().message));
      return nullptr;
    }
    key = *decoded;
  }

  // Kept for pickling: an exact str, so that a copy rebuilds from plain text.
  py::PyRef idl_text = PyUnicode_CheckExact(idl_json)
                           ? py::PyRef::borrow(idl_json)
                           : py::PyRef::steal(PyUnicode_FromStringAndSize(text, size));
  if (!idl_text) return nullptr;

  decode::EventRegistry registry;
  {
    Result<idl::Idl> idl = idl::load_idl(std::string_view(text, static_cast<std::size_t>(size)));
    if (!idl) return objects::raise_idl_error("failed to parse IDL: ", idl.error()), nullptr;
    Result<decode::EventRegistry> built = decode::build_registry(*idl);
    if (!built) return objects::raise_idl_error("", built.error()), nullptr;
    registry = std::move(*built);
  }  // the model is released here
  if (key) {
    registry.address = std::move(key_text);
    registry.program_id = key;
  }
  decode::DecodePlan plan = decode::build_plan(registry);
  if (Result<void> laid_out = decode::lay_out_zero_copy(plan, registry); !laid_out) {
    return objects::raise_idl_error("", laid_out.error()), nullptr;
  }
  std::optional<objects::KeyTable> keys = objects::KeyTable::make(plan);
  if (!keys) return nullptr;
  py::PyRef program = program_id != nullptr ? py::PyRef::borrow(program_id) : py::PyRef();
  return std::make_unique<const DecoderState>(std::move(registry), std::move(plan), std::move(*keys),
                                              std::move(idl_text), std::move(program));
}

PyObject* decoder_of(PyTypeObject* type, std::unique_ptr<const DecoderState> state) {
  py::PyRef empty = py::PyRef::steal(PyTuple_New(0));
  if (!empty) return nullptr;
  PyObject* self = PyBaseObject_Type.tp_new(type, empty.get(), nullptr);
  if (self == nullptr) return nullptr;
  as_decoder(self)->state = state.release();
  return self;
}

PyObject* decoder_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  static constexpr Signature kSig{"EventDecoder.__new__()", "idl_json"};
  PyObject* idl_json = bind_single(kSig, args, kwargs);
  if (idl_json == nullptr) return nullptr;
  if (!PyUnicode_Check(idl_json)) return py::raise_not_instance("idl_json", idl_json, "str");
  std::unique_ptr<const DecoderState> state = build_state(idl_json, nullptr);
  if (!state) return nullptr;
  return decoder_of(subtype, std::move(state));
}

PyObject* decoder_with_program_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  static constexpr Signature kSig{"EventDecoder.with_program_id()", "program_id"};
  PyObject* program_id = bind_single(kSig, args, nargs, kwnames);
  if (program_id == nullptr) return nullptr;
  if (!PyUnicode_Check(program_id)) return py::raise_not_instance("program_id", program_id, "str");
  return new_decoder(as_decoder(self)->state->idl_json.get(), program_id);
}

void decoder_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete as_decoder(self)->state;
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* decoder_event_names(PyObject* self, void*) {
  const auto& events = as_decoder(self)->state->registry.events;
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(events.size())));
  if (!list) return py::fail_as_internal();
  for (std::size_t i = 0; i < events.size(); ++i) {
    const std::string& name = events[i].name;
    PyObject* item = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (item == nullptr) return py::fail_as_internal();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

PyObject* decoder_parse_logs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Signature kSig{"EventDecoder.parse_logs()", "logs"};
  PyObject* logs = bind_single(kSig, args, nargs, kwnames);
  if (logs == nullptr) return nullptr;
  std::optional<objects::LogLines> lines = objects::convert_logs(logs, objects::Lines::Payloads);
  if (!lines) return nullptr;
  const DecoderState& state = *as_decoder(self)->state;
  return objects::scan_batch({state.registry, state.plan, state.keys}, lines->views).release();
}

// The decoding runs detached from the interpreter: it touches no Python
// object, only the UTF-8 text of the lines, which `lines` keeps alive.
PyObject* decoder_parse_logs_arrow(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  static constexpr const char* kParams[] = {"logs", "pubkey"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("EventDecoder.parse_logs_arrow()", kParams, args, nargs, kwnames, bound, 1))
    return nullptr;
  const std::optional<columnar::KeyForm> form = key_form_of(bound[1]);
  if (!form) return nullptr;
  std::optional<objects::LogLines> lines = objects::convert_logs(bound[0], objects::Lines::Payloads);
  if (!lines) return nullptr;
  const DecoderState& state = *as_decoder(self)->state;
  std::vector<std::shared_ptr<const columnar::Table>> tables;
  std::exception_ptr failure;
  PyThreadState* attached = PyEval_SaveThread();
  try {
    const columnar::TableSchema& schema =
        state.schemas.get(columnar::TableKind::Events, *form, state.registry, state.plan);
    columnar::EventTables builder(state.plan, schema);
    columnar::add_lines(builder, state.registry, lines->views);
    tables = std::move(builder).finish();
  } catch (...) {
    failure = std::current_exception();  // carried past the re-attach
  }
  PyEval_RestoreThread(attached);
  if (failure) std::rethrow_exception(failure);  // to the entry point's guard

  return tables_by_name(std::move(tables), "event", program_of(state));
}

std::atomic<PyObject*> g_rebuilder{nullptr};

// Pickling rebuilds the decoder from its IDL text through the module function
// varkel._varkel._decoder_from_idl: the class itself lives in "builtins" by
// name, where pickle could not find it.
PyObject* decoder_reduce(PyObject* self, PyObject*) {
  PyObject* rebuild = g_rebuilder.load(std::memory_order_acquire);
  if (rebuild == nullptr) {
    PyErr_SetString(PyExc_TypeError,
                    "cannot pickle 'EventDecoder' object: module _varkel is not initialised");
    return nullptr;
  }
  const DecoderState& state = *as_decoder(self)->state;
  if (state.program_id)
    return Py_BuildValue("(O(OO))", rebuild, state.idl_json.get(), state.program_id.get());
  return Py_BuildValue("(O(O))", rebuild, state.idl_json.get());
}

// The decoder never changes after construction: a copy, shallow or deep, is
// the decoder itself.
PyObject* decoder_copy(PyObject* self, PyObject*) {
  return Py_NewRef(self);
}

PyObject* decoder_deepcopy(PyObject* self, PyObject*) {
  return Py_NewRef(self);
}

PyMethodDef decoder_methods[] = {
    {"parse_logs",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_parse_logs>)),
     METH_FASTCALL | METH_KEYWORDS,
     "parse_logs($self, logs)\n--\n\n"
     "Decode every recognizable event from a batch of program log lines.\n\n"
     "Lines that are not events, fail to base64-decode, match no known\n"
     "discriminator, or fail to Borsh-decode are silently skipped. Never\n"
     "raises over a batch."},
    {"decode_logs",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_decode_logs>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeLogsDoc},
    {"decode_transaction",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_decode_transaction>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeTransactionDoc},
    {"decode_instructions",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_decode_instructions>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeInstructionsDoc},
    {"decode_instruction",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_decode_instruction>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeInstructionDoc},
    {"decode_account",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_decode_account>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeAccountDoc},
    {"decode_accounts",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_decode_accounts>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeAccountsDoc},
    {"decode_accounts_arrow",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_decode_accounts_arrow>)),
     METH_FASTCALL | METH_KEYWORDS, kDecodeAccountsArrowDoc},
    {"with_program_id",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_with_program_id>)),
     METH_FASTCALL | METH_KEYWORDS,
     "with_program_id($self, program_id)\n--\n\n"
     "A decoder of the same IDL for the program deployed at program_id (base58):\n"
     "events, instructions and accounts are attributed to that address instead\n"
     "of the IDL's (a devnet or test deployment, a fork; an IDL without an\n"
     "address). Raises varkel.ProgramIdError when it is not a public key."},
    {"__reduce__", py::guarded<decoder_reduce>, METH_NOARGS,
     "__reduce__($self, /)\n--\n\nRebuilds the decoder from its IDL text (and program id) when unpickled."},
    {"__copy__", py::guarded<decoder_copy>, METH_NOARGS,
     "__copy__($self, /)\n--\n\nThe decoder itself: it never changes after construction."},
    {"__deepcopy__", py::guarded<decoder_deepcopy>, METH_O,
     "__deepcopy__($self, memo, /)\n--\n\nThe decoder itself: it never changes after construction."},
    {"parse_logs_arrow",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<decoder_parse_logs_arrow>)),
     METH_FASTCALL | METH_KEYWORDS,
     "parse_logs_arrow($self, logs, pubkey='base58')\n--\n\n"
     "Decode the events of a batch of log lines into Arrow tables.\n\n"
     "Returns a dict from every event name of the IDL, in IDL order, to an\n"
     "EventTable holding the events of that name that parse_logs would return\n"
     "(in the same order): one row per event, one column per field. Lines are\n"
     "read and skipped exactly as parse_logs reads and skips them. Arrow\n"
     "libraries read each table without copying (pyarrow.table(t),\n"
     "polars.DataFrame(t), duckdb). A table's schema depends on the IDL alone.\n"
     "pubkey: \"base58\" (text) or \"binary\" (32-byte fixed-size binary) for\n"
     "every public key."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef decoder_getset[] = {
    {"event_names", py::guarded<decoder_event_names>, nullptr,
     "Names of all events declared in the IDL, in declaration order.", nullptr},
    {"program_id", py::guarded<decoder_program_id>, nullptr, kProgramIdDoc, nullptr},
    {"instruction_names", py::guarded<decoder_instruction_names>, nullptr, kInstructionNamesDoc, nullptr},
    {"account_names", py::guarded<decoder_account_names>, nullptr, kAccountNamesDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot decoder_slots[] = {
    {Py_tp_doc, const_cast<char*>("EventDecoder(idl_json)\n--\n\n"
                                  "Decodes Anchor program events from Solana transaction log lines.\n\n"
                                  "Reads the program's IDL as JSON text, in the current format (Anchor\n"
                                  "0.30+, \"spec\": \"0.1.0\") or the legacy format of earlier Anchor\n"
                                  "versions. Immutable: one decoder serves any number of threads; it\n"
                                  "pickles as its IDL text and copies as itself.")},
    {Py_tp_new, reinterpret_cast<void*>(py::guarded<decoder_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(py::guarded<decoder_dealloc>)},
    {Py_tp_methods, decoder_methods},
    {Py_tp_getset, decoder_getset},
    {0, nullptr},
};

PyType_Spec decoder_spec = {
    "builtins.EventDecoder", static_cast<int>(sizeof(EventDecoderObject)), 0, Py_TPFLAGS_DEFAULT,
    decoder_slots,
};

std::atomic<PyObject*> g_type{nullptr};

}  // namespace

PyObject* new_decoder(PyObject* idl_json, PyObject* program_id) {
  PyObject* type = event_decoder_type();
  if (type == nullptr) return nullptr;
  std::unique_ptr<const DecoderState> state = build_state(idl_json, program_id);
  if (!state) return nullptr;
  return decoder_of(reinterpret_cast<PyTypeObject*>(type), std::move(state));
}

int publish_decoder_rebuilder(PyObject* function) {
  return py::publish_once(g_rebuilder, [function] { return Py_NewRef(function); }) == nullptr ? -1 : 0;
}

PyObject* event_decoder_type() {
  return py::publish_once(g_type, [] { return PyType_FromSpec(&decoder_spec); });
}

}  // namespace varkel
