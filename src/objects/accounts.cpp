#include "objects/accounts.h"

#include <utility>

#include "accounts/account_data.h"
#include "decode/borsh_reader.h"
#include "objects/values.h"
#include "py/compat.h"
#include "py/errors.h"

namespace varkel::objects {

namespace {

// Solana caps account data at 10 MiB: decompressed data is never larger.
constexpr Py_ssize_t kMaxAccountData = Py_ssize_t{10} << 20;

PyObject* text_or_none(std::string_view text) {
  if (text.empty()) return Py_NewRef(Py_None);
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// The zstd frame decompressed by the interpreter's zstd module: a bytes
// object, or None with `why` set when it cannot be (no module, or data that
// is not zstd or is larger than any account). Null with an exception set
// only when the interpreter fails otherwise.
py::PyRef decompress(std::span<const std::uint8_t> compressed, std::string& why) {
  py::PyRef input = py::PyRef::steal(PyBytes_FromStringAndSize(
      reinterpret_cast<const char*>(compressed.data()), static_cast<Py_ssize_t>(compressed.size())));
  if (!input) return {};
  // compression.zstd (3.14): ZstdDecompressor().decompress(data, max_length)
  py::PyRef module = py::PyRef::steal(PyImport_ImportModule("compression.zstd"));
  py::PyRef output;
  if (module) {
    py::PyRef decompressor = py::PyRef::steal(PyObject_CallMethod(module.get(), "ZstdDecompressor", nullptr));
    if (decompressor) {
      output = py::PyRef::steal(
          PyObject_CallMethod(decompressor.get(), "decompress", "On", input.get(), kMaxAccountData + 1));
    }
  } else if (PyErr_ExceptionMatches(PyExc_ImportError)) {
    PyErr_Clear();
    // zstandard: ZstdDecompressor().decompress(data, max_output_size=n)
    module = py::PyRef::steal(PyImport_ImportModule("zstandard"));
    if (!module) {
      if (!PyErr_ExceptionMatches(PyExc_ImportError)) return {};
      PyErr_Clear();
      why =
          "data: base64+zstd needs a zstd decoder (Python 3.14's compression.zstd, or: pip install "
          "zstandard)";
      return py::PyRef::borrow(Py_None);
    }
    py::PyRef decompressor = py::PyRef::steal(PyObject_CallMethod(module.get(), "ZstdDecompressor", nullptr));
    if (decompressor) {
      py::PyRef method = py::PyRef::steal(PyObject_GetAttrString(decompressor.get(), "decompress"));
      py::PyRef kwargs = py::PyRef::steal(Py_BuildValue("{s:n}", "max_output_size", kMaxAccountData + 1));
      py::PyRef args = py::PyRef::steal(PyTuple_Pack(1, input.get()));
      if (method && kwargs && args)
        output = py::PyRef::steal(PyObject_Call(method.get(), args.get(), kwargs.get()));
    }
  } else {
    return {};
  }
  if (!output) {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) return {};
    why = "data: not valid zstd (" + py::take_exception_text() + ")";
    return py::PyRef::borrow(Py_None);
  }
  if (!PyBytes_Check(output.get()) || PyBytes_GET_SIZE(output.get()) > kMaxAccountData) {
    why = "data: decompressed to more than 10 MiB, more than any account holds";
    return py::PyRef::borrow(Py_None);
  }
  return output;
}

}  // namespace

bool decode_account_data(const Decoding& decoding, std::span<const std::uint8_t> data, std::string_view owner,
                         std::string_view program, DecodedAccount& out) {
  const auto match = accounts::match_account(decoding.registry, decoding.plan, data, owner, program);
  if (!match) {
    static constexpr const char* kReasons[] = {"owner", "discriminator", "data"};
    out.failure =
        AccountFailure{kReasons[static_cast<int>(match.error().fault)], std::move(match.error().error)};
    return true;
  }
  const std::string& name = decoding.registry.accounts[match->account].name;
  out.name = py::PyRef::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
  if (!out.name) return false;
  decode::BorshReader reader(match->data.data(), match->data.size());
  Decoded value = decode_account_value(decoding.plan, decoding.keys, reader,
                                       decoding.plan.accounts[match->account], match->zero_copy);
  if (value.raised) return false;
  if (!value.value) {
    const std::string& path = value.error->path;
    out.failure = AccountFailure{
        "data", Error("data does not fit '" + name + "': " + (path.empty() ? "" : "field '" + path + "': ") +
                          value.error->message,
                      path)};
    return true;
  }
  out.value = std::move(value.value);
  out.unread = reader.remaining();
  return true;
}

bool account_bytes(const accounts::RpcAccount& account, std::span<const std::uint8_t>& data,
                   py::PyRef& holder, AccountFailure& failure) {
  using Data = accounts::RpcAccount::Data;
  switch (account.form) {
    case Data::Missing:
      failure = AccountFailure{"missing", Error("no such account")};
      return true;
    case Data::Unread:
      failure = AccountFailure{"input", Error(account.error)};
      return true;
    case Data::Bytes:
      data = account.bytes;
      return true;
    case Data::Zstd:
      break;
  }
  std::string why;
  holder = decompress(account.bytes, why);
  if (!holder) return false;
  if (!why.empty()) {
    failure = AccountFailure{"input", Error(why)};
    return true;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(holder.get()));
  data = std::span(bytes, static_cast<std::size_t>(PyBytes_GET_SIZE(holder.get())));
  return true;
}

bool decode_rpc_account(const Decoding& decoding, const accounts::RpcAccount& account,
                        std::string_view program, DecodedAccount& out) {
  std::span<const std::uint8_t> data;
  py::PyRef holder;
  if (!account_bytes(account, data, holder, out.failure)) return false;
  if (out.failure.reason != nullptr) return true;
  return decode_account_data(decoding, data, account.owner, program, out);
}

py::PyRef build_account(PyTypeObject* type, const accounts::RpcAccount& account, DecodedAccount& decoded) {
  py::PyRef record = py::PyRef::steal(PyStructSequence_New(type));
  if (!record) return {};
  int field = 0;
  auto put = [&](PyObject* item) {
    if (item == nullptr) return false;
    PyStructSequence_SetItem(record.get(), field++, item);
    return true;
  };
  static_assert(kAccountFieldCount == 8, "one put per field, in AccountField order");
  const bool failed = decoded.failure.reason != nullptr;
  const bool complete =
      put(text_or_none(account.pubkey)) && put(decoded.name ? decoded.name.release() : Py_NewRef(Py_None)) &&
      put(decoded.value ? decoded.value.release() : Py_NewRef(Py_None)) && put(text_or_none(account.owner)) &&
      put(account.lamports ? PyLong_FromUnsignedLongLong(*account.lamports) : Py_NewRef(Py_None)) &&
      put(account.slot ? PyLong_FromUnsignedLongLong(*account.slot) : Py_NewRef(Py_None)) &&
      put(failed ? Py_NewRef(Py_None) : PyLong_FromUnsignedLongLong(decoded.unread)) &&
      put(failed ? text_or_none(decoded.failure.error.message) : Py_NewRef(Py_None));
  if (!complete) return {};
  return record;
}

}  // namespace varkel::objects
