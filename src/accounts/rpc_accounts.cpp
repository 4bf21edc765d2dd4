#include "accounts/rpc_accounts.h"

#include <utility>

#include "decode/base58.h"
#include "scan/base64.h"

namespace varkel::accounts {

namespace {

using json::Value;

bool present(const Value* value) {
  return value != nullptr && !value->is_null();
}

std::string_view text_member(const Value& object, std::string_view key) {
  const Value* value = object.get(key);
  return value != nullptr && value->is_string() ? std::string_view(value->as_string()) : std::string_view();
}

// One account object ("data", "owner", "lamports", ...).
RpcAccount read_account(const Value* value, std::string_view pubkey, std::optional<std::uint64_t> slot) {
  RpcAccount out;
  out.pubkey = pubkey;
  out.slot = slot;
  if (!present(value)) {
    out.form = RpcAccount::Data::Missing;
    return out;
  }
  if (!value->is_object()) {
    out.error = "expected an account object, found " + json::found_text(*value);
    return out;
  }
  if (const Value* owner = value->get("owner"); present(owner)) {
    if (!owner->is_string()) {  // an owner that cannot be checked is no owner to trust
      out.error = "owner: expected base58 text, found " + json::found_text(*owner);
      return out;
    }
    out.owner = owner->as_string();
  }
  if (const Value* lamports = value->get("lamports");
      lamports != nullptr && lamports->kind() == Value::Kind::UInt) {
    out.lamports = lamports->as_uint();
  }
  const Value* data = value->get("data");
  if (data == nullptr) {
    out.error = "data: missing";
    return out;
  }
  std::string_view text;
  std::string_view encoding = "base58";  // a bare string: the old "binary" encoding
  if (data->is_string()) {
    text = data->as_string();
  } else if (data->is_array() && data->as_array().size() == 2 && data->as_array()[0].is_string() &&
             data->as_array()[1].is_string()) {
    text = data->as_array()[0].as_string();
    encoding = data->as_array()[1].as_string();
  } else if (data->is_object()) {
    out.error = "data: parsed by the node (the \"jsonParsed\" encoding); request \"base64\"";
    return out;
  } else {
    out.error = "data: expected [\"<encoded data>\", \"<encoding>\"], found " + json::found_text(*data);
    return out;
  }
  const bool zstd = encoding == "base64+zstd";
  Result<std::vector<std::uint8_t>> bytes = decode_data(text, zstd ? "base64" : encoding);
  if (!bytes) {
    out.error = "data: " + bytes.error().message;
    return out;
  }
  out.bytes = std::move(*bytes);
  out.form = zstd ? RpcAccount::Data::Zstd : RpcAccount::Data::Bytes;
  return out;
}

// An item of a list: {"pubkey", "account"}, an account, or null.
RpcAccount read_item(const Value& item, std::optional<std::uint64_t> slot) {
  if (item.is_object() && item.get("account") != nullptr) {
    return read_account(item.get("account"), text_member(item, "pubkey"), slot);
  }
  return read_account(&item, {}, slot);
}

// An account object (its data possibly missing: reported as the item's
// failure), or a keyed one.
bool is_account(const Value& value) {
  return value.get("data") != nullptr || value.get("account") != nullptr || value.get("owner") != nullptr ||
         value.get("lamports") != nullptr;
}

}  // namespace

Result<std::vector<std::uint8_t>> decode_data(std::string_view text, std::string_view encoding) {
  if (encoding == "base64") {
    std::vector<std::uint8_t> out;
    if (!scan::decode_base64(text, out)) return fail("not valid base64");
    return out;
  }
  if (encoding == "base58") {
    if (text.size() > kMaxBase58Data) {
      return fail(std::to_string(text.size()) + " base58 characters, longer than the RPC serves in base58");
    }
    return decode::base58_decode(text);
  }
  return fail("unsupported encoding \"" + std::string(encoding) +
              "\" (base64, base58 and base64+zstd are read)");
}

Result<std::vector<RpcAccount>> read_accounts(const json::Value& root) {
  const Value* doc = &root;
  // The RPC envelope {"jsonrpc", "result", "id"} (or "error").
  if (doc->is_object() &&
      (doc->get("jsonrpc") != nullptr || (doc->get("result") != nullptr && !is_account(*doc)))) {
    if (const Value* error = doc->get("error"); present(error))
      return fail("RPC error: " + json::to_compact(*error));
    doc = doc->get("result");
    if (doc == nullptr) return fail("result: missing");
  }
  std::optional<std::uint64_t> slot;
  if (doc->is_object() && doc->get("value") != nullptr && !is_account(*doc)) {  // {"context", "value"}
    if (const Value* context = doc->get("context"); context != nullptr && context->is_object()) {
      if (const Value* s = context->get("slot"); s != nullptr && s->kind() == Value::Kind::UInt)
        slot = s->as_uint();
    }
    doc = doc->get("value");
    if (doc->is_null()) return std::vector<RpcAccount>{read_account(nullptr, {}, slot)};
  }
  std::vector<RpcAccount> out;
  if (doc->is_array()) {
    out.reserve(doc->as_array().size());
    for (const Value& item : doc->as_array()) out.push_back(read_item(item, slot));
    return out;
  }
  if (doc->is_object() && is_account(*doc)) {
    out.push_back(read_item(*doc, slot));
    return out;
  }
  return fail(
      "expected accounts (an account object, a list of accounts or of {pubkey, account}, or an RPC "
      "result holding them), found " +
      json::found_text(*doc));
}

}  // namespace varkel::accounts
