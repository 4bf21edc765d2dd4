#include "lib/account_api.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "accounts/account_data.h"
#include "accounts/rpc_accounts.h"
#include "columnar/rows.h"
#include "json/json.h"
#include "lib/args.h"
#include "lib/decoders.h"
#include "lib/event_decoder.h"
#include "lib/event_table.h"
#include "lib/record_types.h"
#include "objects/accounts.h"
#include "objects/errors.h"
#include "objects/json_value.h"
#include "py/compat.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace varkel {

namespace {

objects::Decoding decoding_of(const DecoderState& state) {
  return objects::Decoding{state.registry, state.plan, state.keys};
}

// Python data as a JSON value; data that JSON cannot hold raises
// AccountError (reason "input"), as text that is not JSON does.
std::optional<json::Value> account_json_value(PyObject* obj, const char* param) {
  std::optional<json::Value> value = objects::to_json_value(obj, param);
  if (value || !PyErr_ExceptionMatches(objects::transaction_error_type())) return value;
  py::PyRef exc = py::PyRef::steal(py::get_raised_exception());
  py::PyRef text = py::PyRef::steal(PyObject_Str(exc.get()));
  const char* message = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
  if (message == nullptr) return std::nullopt;
  objects::raise_account_error(Error(message), "input", "");
  return std::nullopt;
}

// A JSON document given as text (str or bytes-like) or as Python data.
// Text errors raise AccountError (reason "input"); data that is not JSON,
// the converter's TypeError or TransactionError-like ValueError... as the
// converter raises them.
std::optional<json::Value> document_of(PyObject* obj, const char* param) {
  std::string_view text;
  Py_buffer view{};
  bool viewed = false;
  if (PyUnicode_Check(obj)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) return std::nullopt;
    text = std::string_view(data, static_cast<std::size_t>(size));
  } else if (PyBytes_Check(obj) || PyByteArray_Check(obj) || PyMemoryView_Check(obj)) {
    if (PyObject_GetBuffer(obj, &view, PyBUF_SIMPLE) < 0) return std::nullopt;
    viewed = true;
    text = std::string_view(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len));
  } else {
    return account_json_value(obj, param);
  }
  Result<json::Value> parsed = json::parse(text);
  if (viewed) PyBuffer_Release(&view);
  if (!parsed) {
    Error error = std::move(parsed.error());
    error.message.insert(0, "argument '" + std::string(param) + "': accounts JSON: ");
    objects::raise_account_error(error, "input", "");
    return std::nullopt;
  }
  return std::move(*parsed);
}

std::optional<std::vector<accounts::RpcAccount>> accounts_of(const json::Value& document, const char* param) {
  Result<std::vector<accounts::RpcAccount>> read = accounts::read_accounts(document);
  if (!read) {
    objects::raise_account_error(Error("argument '" + std::string(param) + "': " + read.error().message),
                                 "input", "");
    return std::nullopt;
  }
  return std::move(*read);
}

}  // namespace

PyObject* decoder_account_names(PyObject* self, void*) {
  const auto& accounts = state_of(self).registry.accounts;
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(accounts.size())));
  if (!list) return py::fail_as_internal();
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    const std::string& name = accounts[i].name;
    PyObject* item = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (item == nullptr) return py::fail_as_internal();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

PyObject* decoder_decode_account(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr Signature kSig{"EventDecoder.decode_account()", "data"};
  PyObject* data = bind_single(kSig, args, nargs, kwnames);
  if (data == nullptr) return nullptr;
  const DecoderState& state = state_of(self);
  const std::string_view program = state.registry.address;
  objects::DecodedAccount decoded;
  bool done = false;
  if (PyUnicode_Check(data)) {  // base64 text
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(data, &size);
    if (text == nullptr) return nullptr;
    Result<std::vector<std::uint8_t>> bytes =
        accounts::decode_data(std::string_view(text, static_cast<std::size_t>(size)), "base64");
    if (!bytes)
      return objects::raise_account_error(Error("argument 'data': " + bytes.error().message), "input", "");
    done = objects::decode_account_data(decoding_of(state), *bytes, {}, program, decoded);
  } else if (PyObject_CheckBuffer(data)) {
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(view.buf),
                                              static_cast<std::size_t>(view.len));
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());  // the buffer may change under us
    PyBuffer_Release(&view);
    done = objects::decode_account_data(decoding_of(state), copy, {}, program, decoded);
  } else if (PyDict_Check(data)) {
    std::optional<json::Value> document = account_json_value(data, "data");
    if (!document) return nullptr;
    std::optional<std::vector<accounts::RpcAccount>> read = accounts_of(*document, "data");
    if (!read) return nullptr;
    if (read->size() != 1) {
      return objects::raise_account_error(Error("argument 'data': " + std::to_string(read->size()) +
                                                " accounts, not one (decode_accounts reads many)"),
                                          "input", "");
    }
    done = objects::decode_rpc_account(decoding_of(state), read->front(), program, decoded);
  } else {
    return py::raise_not_instance("data", data, "bytes | str | dict");
  }
  if (!done) return py::fail_as_internal();
  if (decoded.failure.reason != nullptr) {
    std::string name;
    if (decoded.name) name = PyUnicode_AsUTF8(decoded.name.get());
    return objects::raise_account_error(decoded.failure.error, decoded.failure.reason, name);
  }
  return PyTuple_Pack(2, decoded.name.get(), decoded.value.get());
}

PyObject* decoder_decode_accounts(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  static constexpr Signature kSig{"EventDecoder.decode_accounts()", "items"};
  PyObject* items = bind_single(kSig, args, nargs, kwnames);
  if (items == nullptr) return nullptr;
  const DecoderState& state = state_of(self);
  std::optional<json::Value> document = document_of(items, "items");
  if (!document) return nullptr;
  std::optional<std::vector<accounts::RpcAccount>> read = accounts_of(*document, "items");
  if (!read) return nullptr;
  PyObject* type = account_type();
  if (type == nullptr) return nullptr;
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(read->size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < read->size(); ++i) {
    objects::DecodedAccount decoded;
    if (!objects::decode_rpc_account(decoding_of(state), (*read)[i], state.registry.address, decoded)) {
      return py::fail_as_internal();
    }
    py::PyRef record = objects::build_account(reinterpret_cast<PyTypeObject*>(type), (*read)[i], decoded);
    if (!record) return py::fail_as_internal();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), record.release());  // steals
  }
  return list.release();
}

PyObject* decoder_decode_accounts_arrow(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
  static constexpr const char* kParams[] = {"items", "pubkey"};
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind_arguments("EventDecoder.decode_accounts_arrow()", kParams, args, nargs, kwnames, bound, 1))
    return nullptr;
  const std::optional<columnar::KeyForm> form = key_form_of(bound[1]);
  if (!form) return nullptr;
  const DecoderState& state = state_of(self);
  std::optional<json::Value> document = document_of(bound[0], "items");
  if (!document) return nullptr;
  std::optional<std::vector<accounts::RpcAccount>> read = accounts_of(*document, "items");
  if (!read) return nullptr;
  const columnar::TableSchema& schema =
      state.schemas.get(columnar::TableKind::Accounts, *form, state.registry, state.plan);
  columnar::EventTables tables(state.plan, schema);
  for (const accounts::RpcAccount& account : *read) {
    std::span<const std::uint8_t> data;
    py::PyRef holder;
    objects::AccountFailure failure;
    if (!objects::account_bytes(account, data, holder, failure)) return py::fail_as_internal();
    if (failure.reason != nullptr) continue;
    const auto match =
        accounts::match_account(state.registry, state.plan, data, account.owner, state.registry.address);
    if (!match) continue;
    std::optional<decode::Pubkey> pubkey;
    if (!account.pubkey.empty()) {
      Result<decode::Pubkey> key = decode::base58_decode_key(account.pubkey);
      if (!key) continue;  // a row's key is a key
      pubkey = *key;
    }
    columnar::add_account_row(tables, match->account, match->data, match->zero_copy,
                              pubkey ? &*pubkey : nullptr);
  }
  return tables_by_name(std::move(tables).finish(), "account", state.registry.address);
}

}  // namespace varkel
