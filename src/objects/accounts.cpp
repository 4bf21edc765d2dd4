#include "objects/accounts.h"

#include <utility>

#include "accounts/account_data.h"
#include "decode/borsh_reader.h"
#include "objects/record.h"
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

// The zstd frame decompressed by varkel._zstd (the interpreter's zstd
// module, or the zstandard package, within kMaxAccountData bytes): a bytes
// object, or None with `why` set when it cannot be. Null with an exception
// set only when the interpreter fails.
py::PyRef decompress(std::span<const std::uint8_t> compressed, std::string& why) {
  py::PyRef module = py::PyRef::steal(PyImport_ImportModule("varkel._zstd"));
  if (!module) return {};
  py::PyRef output = py::PyRef::steal(
      PyObject_CallMethod(module.get(), "decompress", "y#n", reinterpret_cast<const char*>(compressed.data()),
                          static_cast<Py_ssize_t>(compressed.size()), kMaxAccountData));
  if (!output) return {};
  if (PyBytes_Check(output.get())) return output;
  const char* text = PyUnicode_Check(output.get()) ? PyUnicode_AsUTF8(output.get()) : nullptr;
  if (text == nullptr) return {};
  why = std::string("data: ") + text;
  return py::PyRef::borrow(Py_None);
}

}  // namespace

bool decode_account_data(const Decoding& decoding, std::span<const std::uint8_t> data, std::string_view owner,
                         std::string_view program, DecodedAccount& out) {
  const auto match = accounts::match_account(decoding.registry, decoding.plan, data, owner, program);
  if (!match) {
    static constexpr const char* kReasons[] = {"owner", "discriminator", "data"};
    if (match.error().account != kNoIndex) {
      const std::string& name = decoding.registry.accounts[match.error().account].name;
      out.name =
          py::PyRef::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
      if (!out.name) return false;
    }
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
  RecordBuilder record(type);
  auto put = [&record](PyObject* item) { return record.put(item); };
  static_assert(kAccountFieldCount == 8, "one put per field, in AccountField order");
  const bool failed = decoded.failure.reason != nullptr;
  const bool complete =
      put(text_or_none(account.pubkey)) && put(decoded.name ? decoded.name.release() : Py_NewRef(Py_None)) &&
      put(decoded.value ? decoded.value.release() : Py_NewRef(Py_None)) && put(text_or_none(account.owner)) &&
      put(account.lamports ? PyLong_FromUnsignedLongLong(*account.lamports) : Py_NewRef(Py_None)) &&
      put(account.slot ? PyLong_FromUnsignedLongLong(*account.slot) : Py_NewRef(Py_None)) &&
      put(failed ? Py_NewRef(Py_None) : PyLong_FromUnsignedLongLong(decoded.unread)) &&
      put(failed ? text_or_none(decoded.failure.error.message) : Py_NewRef(Py_None));
  return std::move(record).finish(complete);
}

}  // namespace varkel::objects
