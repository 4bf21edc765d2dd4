#include "tx/tx_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/index.h"
#include "json/path.h"
#include "scan/base64.h"
#include "tx/wire.h"

namespace varkel::tx {

namespace {

using json::Value;

// Where a value sits in the document: a chain of members and indexes on the
// stack, spelt out only when a failure names it.
struct Path {
  const Path* parent = nullptr;
  std::string_view key;
  std::size_t index = 0;
  bool is_index = false;

  Path member(std::string_view k) const { return Path{this, k, 0, false}; }
  Path at(std::size_t i) const { return Path{this, {}, i, true}; }

  std::vector<json::PathStep> steps() const {
    std::vector<json::PathStep> out;
    for (const Path* p = this; p != nullptr && p->parent != nullptr; p = p->parent) {
      out.push_back(json::PathStep{p->key, p->index, p->is_index});
    }
    std::reverse(out.begin(), out.end());
    return out;
  }
};

// "{path}: {what}", with the path beside the text (none for the whole
// document).
[[gnu::cold]] std::unexpected<Error> fail_at(const Path& path, std::string_view what) {
  const std::vector<json::PathStep> steps = path.steps();
  std::string message = json::path_text(steps, "transaction document") + ": " + std::string(what);
  return fail(Error(std::move(message), steps.empty() ? std::string() : json::path_text(steps, "")));
}

[[gnu::cold]] std::unexpected<Error> expected(const Path& path, std::string_view what, const Value& found) {
  return fail_at(path, "expected " + std::string(what) + ", found " + json::found_text(found));
}

bool present(const Value* value) {
  return value != nullptr && !value->is_null();
}

// An unsigned integer, or a string of decimal digits (hand-made dumps).
Result<std::uint64_t> read_u64(const Value& value, const Path& path) {
  if (value.kind() == Value::Kind::UInt) return value.as_uint();
  if (value.is_string()) {
    const std::string& s = value.as_string();
    if (!s.empty() && s.size() <= 20) {
      std::uint64_t n = 0;
      bool ok = true;
      for (char c : s) {
        if (c < '0' || c > '9') {
          ok = false;
          break;
        }
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (n > (UINT64_MAX - d) / 10) {
          ok = false;
          break;
        }
        n = n * 10 + d;
      }
      if (ok) return n;
    }
  }
  return expected(path, "an unsigned integer", value);
}

// A signed integer (blockTime), as a JSON integer or a string of digits.
Result<std::int64_t> read_i64(const Value& value, const Path& path) {
  if (value.kind() == Value::Kind::Int) return value.as_int();
  if (value.kind() == Value::Kind::UInt && value.as_uint() <= static_cast<std::uint64_t>(INT64_MAX)) {
    return static_cast<std::int64_t>(value.as_uint());
  }
  if (value.is_string()) {
    Result<std::uint64_t> n = read_u64(value, path);
    if (n && *n <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(*n);
  }
  return expected(path, "an integer", value);
}

Result<Pubkey> read_key(const Value& value, const Path& path) {
  if (!value.is_string()) return expected(path, "a base58 public key", value);
  Result<Pubkey> key = decode::base58_decode_key(value.as_string());
  if (!key) return fail_at(path, key.error().message);
  return key;
}

Result<const json::Array*> read_array(const Value& value, const Path& path, std::string_view what) {
  if (!value.is_array()) return expected(path, what, value);
  return &value.as_array();
}

Result<const Value*> required(const Value& object, std::string_view key, const Path& path) {
  const Value* value = object.get(key);
  if (value == nullptr) return fail_at(path.member(key), "missing");
  return value;
}

Result<InstructionData> read_data(const Value& object, const Path& path) {
  const Value* data = object.get("data");
  if (data == nullptr) {
    if (object.get("parsed") != nullptr) return InstructionData{};  // parsed by the node: no bytes
    return fail_at(path.member("data"), "missing");
  }
  const Path at = path.member("data");
  if (!data->is_string()) return expected(at, "base58 instruction data", *data);
  const std::string& text = data->as_string();
  if (text.size() > kMaxBase58Text) {
    return fail_at(at,
                   std::to_string(text.size()) + " base58 characters, longer than any transaction allows");
  }
  // The alphabet check is the whole validation: any such text decodes. The
  // bytes are decoded later, only for the programs being decoded.
  if (decode::base58_invalid_at(text)) return fail_at(at, decode::base58_decode(text).error().message);
  return InstructionData{InstructionData::Form::Base58, text, {}};
}

// The transaction being read, with its keys looked up by value on demand
// ("jsonParsed" names an instruction's accounts by key).
class Keys {
 public:
  explicit Keys(Transaction& tx) : tx_(tx) {}

  const std::vector<Pubkey>& list() const noexcept { return tx_.keys; }
  Transaction& tx() noexcept { return tx_; }

  // The index of `key` among the keys, or kNoIndex.
  std::uint32_t index_of(const Pubkey& key) {
    if (index_.empty()) {
      for (std::size_t i = 0; i < tx_.keys.size(); ++i) {
        index_.try_emplace(tx_.keys[i], static_cast<std::uint32_t>(i));
      }
    }
    const auto it = index_.find(key);
    return it == index_.end() ? kNoIndex : it->second;
  }

 private:
  struct Hash {
    std::size_t operator()(const Pubkey& key) const noexcept {
      std::uint64_t head = 0;
      std::memcpy(&head, key.data(), sizeof head);
      return static_cast<std::size_t>(head);
    }
  };
  Transaction& tx_;
  std::unordered_map<Pubkey, std::uint32_t, Hash> index_;
};

[[gnu::cold]] std::unexpected<Error> out_of_range(const Path& path, std::uint64_t index, std::size_t keys) {
  return fail_at(path, "account index " + std::to_string(index) + " is out of range of the " +
                           std::to_string(keys) + " account keys");
}

// An instruction's "accounts": indexes into the keys ("json"), or keys
// ("jsonParsed"); absent (a hand-made document) as none.
Result<void> read_accounts(const Value& object, const Path& path, Keys& keys, Instruction& out) {
  const Value* accounts = object.get("accounts");
  std::vector<std::uint32_t>& all = keys.tx().accounts;
  out.accounts_first = static_cast<std::uint32_t>(all.size());
  if (!present(accounts)) return {};
  const Path at = path.member("accounts");
  VARKEL_TRY_AS(const json::Array* items, read_array(*accounts, at, "a list of accounts"));
  for (std::size_t i = 0; i < items->size(); ++i) {
    const Value& item = (*items)[i];
    if (item.is_string()) {
      VARKEL_TRY_AS(const Pubkey key, read_key(item, at.at(i)));
      const std::uint32_t index = keys.index_of(key);
      if (index == kNoIndex) return fail_at(at.at(i), "not one of the transaction's account keys");
      all.push_back(index);
    } else {
      VARKEL_TRY_AS(const std::uint64_t index, read_u64(item, at.at(i)));
      if (index >= keys.list().size()) return out_of_range(at.at(i), index, keys.list().size());
      all.push_back(static_cast<std::uint32_t>(index));
    }
  }
  out.accounts_count = static_cast<std::uint32_t>(items->size());
  return {};
}

// The program of an instruction: "programIdIndex" into the account list, or
// "programId" ("jsonParsed").
Result<Pubkey> read_program(const Value& object, const Path& path, const std::vector<Pubkey>& keys) {
  if (const Value* index = object.get("programIdIndex")) {
    const Path at = path.member("programIdIndex");
    VARKEL_TRY_AS(const std::uint64_t n, read_u64(*index, at));
    if (n >= keys.size()) return out_of_range(at, n, keys.size());
    return keys[n];
  }
  if (const Value* id = object.get("programId")) return read_key(*id, path.member("programId"));
  return fail_at(path.member("programIdIndex"), "missing (and no `programId`)");
}

Result<Instruction> read_instruction(const Value& value, const Path& path, Keys& keys) {
  if (!value.is_object()) return expected(path, "an instruction object", value);
  Instruction out;
  VARKEL_TRY_AS(out.program, read_program(value, path, keys.list()));
  VARKEL_TRY_AS(out.data, read_data(value, path));
  VARKEL_TRY(read_accounts(value, path, keys, out));
  const Value* height = value.get("stackHeight");
  if (present(height)) {
    const Path at = path.member("stackHeight");
    VARKEL_TRY_AS(const std::uint64_t n, read_u64(*height, at));
    if (n > 0xFFFFFFFFu) return fail_at(at, "stack height " + std::to_string(n) + " is out of range");
    out.stack_height = static_cast<std::uint32_t>(n);
  }
  return out;
}

Result<std::vector<Instruction>> read_instructions(const Value& value, const Path& path, Keys& keys) {
  VARKEL_TRY_AS(const json::Array* items, read_array(value, path, "a list of instructions"));
  std::vector<Instruction> out;
  out.reserve(items->size());
  for (std::size_t i = 0; i < items->size(); ++i) {
    VARKEL_TRY_AS(Instruction ins, read_instruction((*items)[i], path.at(i), keys));
    out.push_back(ins);
  }
  return out;
}

// meta.loadedAddresses: the writable and read-only accounts of the lookups.
struct Loaded {
  std::vector<Pubkey> writable;
  std::vector<Pubkey> readonly;
  bool given = false;
};

// "jsonParsed" key objects: their flags go to `flags` when given.
Result<std::vector<Pubkey>> read_keys(const Value& value, const Path& path,
                                      std::vector<std::uint8_t>* flags = nullptr) {
  VARKEL_TRY_AS(const json::Array* items, read_array(value, path, "a list of public keys"));
  std::vector<Pubkey> out;
  out.reserve(items->size());
  for (std::size_t i = 0; i < items->size(); ++i) {
    const Value& item = (*items)[i];
    const Path at = path.at(i);
    if (item.is_object()) {  // "jsonParsed": {"pubkey", "signer", "writable", "source"}
      VARKEL_TRY_AS(const Value* pubkey, required(item, "pubkey", at));
      VARKEL_TRY_AS(const Pubkey key, read_key(*pubkey, at.member("pubkey")));
      out.push_back(key);
      if (flags != nullptr) {
        const Value* signer = item.get("signer");
        const Value* writable = item.get("writable");
        const auto yes = [](const Value* v) {
          return v != nullptr && v->kind() == Value::Kind::Bool && v->as_bool();
        };
        flags->push_back(
            static_cast<std::uint8_t>((yes(signer) ? kSigner : 0) | (yes(writable) ? kWritable : 0)));
      }
    } else {
      VARKEL_TRY_AS(const Pubkey key, read_key(item, at));
      out.push_back(key);
    }
  }
  return out;
}

Result<Loaded> read_loaded(const Value& meta, const Path& path) {
  Loaded out;
  const Value* loaded = meta.get("loadedAddresses");
  if (!present(loaded)) return out;
  const Path at = path.member("loadedAddresses");
  if (!loaded->is_object()) return expected(at, "an object of writable and readonly addresses", *loaded);
  out.given = true;
  for (const auto& [key, target] :
       {std::pair{"writable", &out.writable}, std::pair{"readonly", &out.readonly}}) {
    const Value* list = loaded->get(key);
    if (!present(list)) continue;
    VARKEL_TRY_AS(*target, read_keys(*list, at.member(key)));
  }
  return out;
}

// The lookups' counts must match the loaded addresses, or indexes past the
// message's keys would name the wrong accounts.
Result<void> check_loaded(const Loaded& loaded, std::size_t writable, std::size_t readonly,
                          const Path& path) {
  if (!loaded.given) return {};
  if (loaded.writable.size() != writable) {
    return fail_at(path.member("loadedAddresses").member("writable"),
                   std::to_string(loaded.writable.size()) +
                       " addresses, but the message's address table lookups load " +
                       std::to_string(writable));
  }
  if (loaded.readonly.size() != readonly) {
    return fail_at(path.member("loadedAddresses").member("readonly"),
                   std::to_string(loaded.readonly.size()) +
                       " addresses, but the message's address table lookups load " +
                       std::to_string(readonly));
  }
  return {};
}

void append_loaded(std::vector<Pubkey>& keys, const Loaded& loaded) {
  keys.insert(keys.end(), loaded.writable.begin(), loaded.writable.end());
  keys.insert(keys.end(), loaded.readonly.begin(), loaded.readonly.end());
}

// The flags of the keys by the message header: the first `signers` keys
// sign, the last `readonly_signed` of those and the last `readonly_unsigned`
// static keys are read-only; loaded keys are writable or read-only as they
// were loaded. Headers that do not fit the keys tell nothing.
void flags_from_header(Transaction& tx, std::size_t static_keys, std::uint64_t signers,
                       std::uint64_t readonly_signed, std::uint64_t readonly_unsigned,
                       std::size_t loaded_writable) {
  if (signers > static_keys || readonly_signed > signers || readonly_unsigned > static_keys - signers) return;
  tx.key_flags.assign(tx.keys.size(), 0);
  for (std::size_t k = 0; k < static_keys; ++k) {
    const bool signer = k < signers;
    const bool writable = signer ? k < signers - readonly_signed : k < static_keys - readonly_unsigned;
    tx.key_flags[k] = static_cast<std::uint8_t>((signer ? kSigner : 0) | (writable ? kWritable : 0));
  }
  for (std::size_t k = static_keys; k < static_keys + loaded_writable && k < tx.keys.size(); ++k) {
    tx.key_flags[k] = kWritable;
  }
}

// The header of a JSON message; nothing when absent or not numbers.
void read_header(const Value& message, Transaction& tx, std::size_t static_keys,
                 std::size_t loaded_writable) {
  const Value* header = message.get("header");
  if (header == nullptr || !header->is_object()) return;
  std::uint64_t counts[3];
  const char* names[] = {"numRequiredSignatures", "numReadonlySignedAccounts", "numReadonlyUnsignedAccounts"};
  for (int i = 0; i < 3; ++i) {
    const Value* count = header->get(names[i]);
    if (count == nullptr || count->kind() != Value::Kind::UInt) return;
    counts[i] = count->as_uint();
  }
  flags_from_header(tx, static_keys, counts[0], counts[1], counts[2], loaded_writable);
}

// The counts of writableIndexes and readonlyIndexes over the lookups of a
// JSON message.
Result<std::pair<std::size_t, std::size_t>> lookup_counts(const Value& message, const Path& path) {
  std::pair<std::size_t, std::size_t> counts{0, 0};
  const Value* lookups = message.get("addressTableLookups");
  if (!present(lookups)) return counts;
  const Path at = path.member("addressTableLookups");
  VARKEL_TRY_AS(const json::Array* items, read_array(*lookups, at, "a list of address table lookups"));
  for (std::size_t i = 0; i < items->size(); ++i) {
    const Value& item = (*items)[i];
    if (!item.is_object()) return expected(at.at(i), "an address table lookup object", item);
    for (const auto& [key, count] :
         {std::pair{"writableIndexes", &counts.first}, std::pair{"readonlyIndexes", &counts.second}}) {
      const Value* list = item.get(key);
      if (!present(list)) continue;
      VARKEL_TRY_AS(const json::Array* indexes, read_array(*list, at.at(i).member(key), "a list of indexes"));
      *count += indexes->size();
    }
  }
  return counts;
}

// The wire form: ["<text>", "base64" | "base58"], or a bare base58 string.
Result<std::vector<std::uint8_t>> wire_bytes(const Value& value, const Path& path,
                                             Transaction::Encoding& encoding) {
  std::string_view text;
  std::string_view name = "base58";
  Path text_path = path;
  if (value.is_string()) {
    text = value.as_string();
  } else {
    const json::Array& items = value.as_array();
    if (items.size() != 2 || !items[0].is_string() || !items[1].is_string()) {
      return expected(path, "[\"<encoded transaction>\", \"<encoding>\"]", value);
    }
    text = items[0].as_string();
    name = items[1].as_string();
    text_path = path.at(0);
  }
  if (name == "base64") {
    encoding = Transaction::Encoding::Base64;
    std::optional<scan::ByteBuffer> bytes = scan::decode_base64(text);
    if (!bytes) return fail_at(text_path, "not valid base64");
    return std::vector<std::uint8_t>(bytes->data.get(), bytes->data.get() + bytes->size);
  }
  if (name == "base58") {
    encoding = Transaction::Encoding::Base58;
    if (text.size() > kMaxBase58Text) {
      return fail_at(text_path,
                     std::to_string(text.size()) + " base58 characters, longer than any transaction");
    }
    Result<std::vector<std::uint8_t>> bytes = decode::base58_decode(text);
    if (!bytes) return fail_at(text_path, bytes.error().message);
    return bytes;
  }
  return fail_at(path.at(1),
                 "unsupported encoding \"" + std::string(name) + "\" (base64 and base58 are read)");
}

Result<void> read_wire(const Value& value, const Path& path, const Loaded& loaded, const Path& meta_path,
                       Transaction& tx) {
  VARKEL_TRY_AS(tx.wire, wire_bytes(value, path, tx.encoding));
  const Path at = value.is_string() ? path : path.at(0);
  Result<WireTransaction> wire = parse_wire_transaction(tx.wire);
  if (!wire) return fail_at(at, wire.error().message);
  VARKEL_TRY(check_loaded(loaded, wire->loaded_writable(), wire->loaded_readonly(), meta_path));
  if (!wire->signatures.empty()) tx.signature = decode::base58_encode(wire->signatures.front());
  const std::size_t static_keys = wire->keys.size();
  std::vector<Pubkey>& keys = tx.keys;
  keys = std::move(wire->keys);
  append_loaded(keys, loaded);
  flags_from_header(tx, static_keys, wire->header[0], wire->header[1], wire->header[2],
                    loaded.writable.size());
  tx.instructions.reserve(wire->instructions.size());
  for (std::size_t i = 0; i < wire->instructions.size(); ++i) {
    const WireInstruction& ins = wire->instructions[i];
    const auto out_of_keys = [&](std::size_t index) {
      return fail_at(at, "instruction " + std::to_string(i) + ": account index " + std::to_string(index) +
                             " is out of range of the " + std::to_string(keys.size()) + " account keys");
    };
    if (ins.program_index >= keys.size()) return out_of_keys(ins.program_index);
    Instruction out;
    out.program = keys[ins.program_index];
    out.data = InstructionData{InstructionData::Form::Bytes, {}, ins.data};
    out.stack_height = 1;
    out.accounts_first = static_cast<std::uint32_t>(tx.accounts.size());
    out.accounts_count = static_cast<std::uint32_t>(ins.accounts.size());
    for (const std::uint8_t index : ins.accounts) {
      if (index >= keys.size()) return out_of_keys(index);
      tx.accounts.push_back(index);
    }
    tx.instructions.push_back(out);
  }
  return {};
}

Result<void> read_message(const Value& value, const Path& path, const Loaded& loaded, const Path& meta_path,
                          Keys& keys) {
  Transaction& tx = keys.tx();
  VARKEL_TRY_AS(const Value* message, required(value, "message", path));
  const Path at = path.member("message");
  if (!message->is_object()) return expected(at, "a message object", *message);
  VARKEL_TRY_AS(const Value* account_keys, required(*message, "accountKeys", at));
  const json::Array* key_items = account_keys->is_array() ? &account_keys->as_array() : nullptr;
  const bool parsed = key_items != nullptr && !key_items->empty() && key_items->front().is_object();
  VARKEL_TRY_AS(tx.keys,
                read_keys(*account_keys, at.member("accountKeys"), parsed ? &tx.key_flags : nullptr));
  if (parsed) {
    tx.encoding = Transaction::Encoding::JsonParsed;  // the keys already include the loaded ones
    if (tx.key_flags.size() != tx.keys.size()) tx.key_flags.clear();
  } else {
    VARKEL_TRY_AS(const auto counts, lookup_counts(*message, at));
    VARKEL_TRY(check_loaded(loaded, counts.first, counts.second, meta_path));
    const std::size_t static_keys = tx.keys.size();
    append_loaded(tx.keys, loaded);
    read_header(*message, tx, static_keys, loaded.writable.size());
  }
  VARKEL_TRY_AS(const Value* instructions, required(*message, "instructions", at));
  VARKEL_TRY_AS(tx.instructions, read_instructions(*instructions, at.member("instructions"), keys));
  for (Instruction& ins : tx.instructions) ins.stack_height = 1;
  // The first signature is the transaction's id (its content is not checked).
  if (const Value* signatures = value.get("signatures"); signatures != nullptr && signatures->is_array()) {
    const json::Array& list = signatures->as_array();
    if (!list.empty() && list.front().is_string()) tx.signature = list.front().as_string();
  }
  return {};
}

Result<void> read_inner(const Value& meta, const Path& path, Keys& keys) {
  Transaction& tx = keys.tx();
  tx.inner.assign(tx.instructions.size(), {});
  const Value* groups = meta.get("innerInstructions");
  if (!present(groups)) return {};
  tx.inner_recorded = true;
  const Path at = path.member("innerInstructions");
  VARKEL_TRY_AS(const json::Array* items, read_array(*groups, at, "a list of inner instruction groups"));
  std::vector<bool> seen(tx.instructions.size(), false);
  for (std::size_t g = 0; g < items->size(); ++g) {
    const Value& group = (*items)[g];
    const Path group_path = at.at(g);
    if (!group.is_object()) return expected(group_path, "an object of index and instructions", group);
    VARKEL_TRY_AS(const Value* index, required(group, "index", group_path));
    VARKEL_TRY_AS(const std::uint64_t i, read_u64(*index, group_path.member("index")));
    if (i >= tx.instructions.size()) {
      return fail_at(group_path.member("index"),
                     "instruction index " + std::to_string(i) + " is out of range of the " +
                         std::to_string(tx.instructions.size()) + " instructions");
    }
    if (seen[i]) {
      return fail_at(group_path.member("index"), "a second group for instruction " + std::to_string(i));
    }
    seen[i] = true;
    VARKEL_TRY_AS(const Value* list, required(group, "instructions", group_path));
    VARKEL_TRY_AS(tx.inner[i], read_instructions(*list, group_path.member("instructions"), keys));
  }
  return {};
}

Result<void> read_logs(const Value& meta, const Path& path, Transaction& tx) {
  const Value* logs = meta.get("logMessages");
  if (!present(logs)) return {};
  const Path at = path.member("logMessages");
  VARKEL_TRY_AS(const json::Array* items, read_array(*logs, at, "a list of log lines"));
  std::vector<std::string_view> lines;
  lines.reserve(items->size());
  for (std::size_t i = 0; i < items->size(); ++i) {
    const Value& line = (*items)[i];
    if (!line.is_string()) return expected(at.at(i), "a log line", line);
    lines.emplace_back(line.as_string());
  }
  tx.logs = std::move(lines);
  return {};
}

// meta.err, or meta.status.Err when err is absent; null when it succeeded.
const Value* read_error(const Value& meta) {
  if (const Value* err = meta.get("err")) return err->is_null() ? nullptr : err;
  const Value* status = meta.get("status");
  const Value* error = status != nullptr ? status->get("Err") : nullptr;
  return present(error) ? error : nullptr;
}

Result<Transaction> read_document(const Value& doc, const Path& base) {
  Transaction tx;
  if (!doc.is_object()) {
    return base.parent == nullptr ? fail("expected a transaction object, found " + json::found_text(doc))
                                  : expected(base, "a transaction object", doc);
  }
  if (const Value* slot = doc.get("slot"); present(slot)) {
    VARKEL_TRY_AS(tx.slot, read_u64(*slot, base.member("slot")));
  }
  if (const Value* time = doc.get("blockTime"); present(time)) {
    VARKEL_TRY_AS(tx.block_time, read_i64(*time, base.member("blockTime")));
  }
  VARKEL_TRY_AS(const Value* meta, required(doc, "meta", base));
  const Path meta_path = base.member("meta");
  if (meta->is_null()) return fail_at(meta_path, "null (the node keeps no status for this transaction)");
  if (!meta->is_object()) return expected(meta_path, "a status meta object", *meta);
  VARKEL_TRY_AS(const Loaded loaded, read_loaded(*meta, meta_path));

  VARKEL_TRY_AS(const Value* transaction, required(doc, "transaction", base));
  const Path tx_path = base.member("transaction");
  Keys keys(tx);
  if (transaction->is_object()) {
    VARKEL_TRY(read_message(*transaction, tx_path, loaded, meta_path, keys));
  } else if (transaction->is_array() || transaction->is_string()) {
    VARKEL_TRY(read_wire(*transaction, tx_path, loaded, meta_path, tx));
  } else {
    return expected(tx_path, "a transaction object or [\"<encoded transaction>\", \"<encoding>\"]",
                    *transaction);
  }
  VARKEL_TRY(read_inner(*meta, meta_path, keys));
  VARKEL_TRY(read_logs(*meta, meta_path, tx));
  tx.error = read_error(*meta);
  tx.failed = tx.error != nullptr;
  return tx;
}

}  // namespace

Result<Transaction> read_transaction(const json::Value& root) {
  const Path top;
  if (!root.is_object()) return fail("expected a transaction object, found " + json::found_text(root));
  // The RPC envelope {"jsonrpc", "result", "id"} (or "error").
  const bool envelope =
      root.get("jsonrpc") != nullptr || (root.get("transaction") == nullptr && root.get("result") != nullptr);
  if (!envelope) return read_document(root, top);
  if (const Value* error = root.get("error"); present(error))
    return fail("RPC error: " + json::to_compact(*error));
  const Path result_path = top.member("result");
  const Value* result = root.get("result");
  if (result == nullptr) return fail_at(result_path, "missing");
  if (result->is_null()) return fail_at(result_path, "null (the node has no such transaction)");
  return read_document(*result, result_path);
}

Result<OwnedTransaction> read_transaction_text(std::string_view text) {
  Result<Value> parsed = json::parse(text);
  if (!parsed) {
    Error error = std::move(parsed.error());
    error.message.insert(0, "transaction JSON: ");
    return fail(std::move(error));
  }
  OwnedTransaction out{std::make_unique<Value>(std::move(*parsed)), {}};
  VARKEL_TRY_AS(out.tx, read_transaction(*out.document));
  return out;
}

namespace {

// The value that holds the block: through the RPC envelope, a
// blockSubscribe notification and its value {slot, block, err}; `slot`
// takes the value's slot. Null when `root` holds none of these shapes.
const Value* block_holder(const Value& root, std::vector<json::PathStep>& path) {
  const Value* at = &root;
  auto down = [&](std::string_view key) {
    const Value* next = at->is_object() ? at->get(key) : nullptr;
    if (next != nullptr) {
      path.push_back(json::PathStep{key, 0, false});
      at = next;
    }
    return next != nullptr;
  };
  if (!at->is_object()) return nullptr;
  if (at->get("params") != nullptr) {  // a notification: params.result.value
    if (!down("params") || !down("result") || !down("value")) return nullptr;
  } else if (at->get("jsonrpc") != nullptr || (at->get("result") != nullptr && at->get("meta") == nullptr)) {
    if (!down("result")) return nullptr;
  }
  return at;
}

}  // namespace

bool is_block(const json::Value& root) {
  std::vector<json::PathStep> path;
  const Value* at = block_holder(root, path);
  if (at == nullptr || !at->is_object()) return false;
  return at->get("block") != nullptr || at->get("blockhash") != nullptr ||
         (at->get("transactions") != nullptr && at->get("meta") == nullptr);
}

Result<Block> read_block(const json::Value& root) {
  if (const Value* error = root.is_object() ? root.get("error") : nullptr; present(error))
    return fail("RPC error: " + json::to_compact(*error));
  Block out;
  const Value* at = block_holder(root, out.path);
  if (at == nullptr) return fail("expected a block object, found " + json::found_text(root));
  std::vector<Path> chain;  // the path so far, for messages
  chain.reserve(out.path.size() + 3);
  chain.push_back(Path{});
  for (const json::PathStep& step : out.path) chain.push_back(Path{&chain.back(), step.key, 0, false});
  if (at->is_null()) return fail_at(chain.back(), "null (the node has no such block)");
  if (const Value* block = at->get("block")) {  // {slot, block, err}
    if (const Value* slot = at->get("slot"); present(slot)) {
      VARKEL_TRY_AS(out.slot, read_u64(*slot, chain.back().member("slot")));
    }
    const Path block_path = chain.back().member("block");
    if (block->is_null()) {
      const Value* err = at->get("err");
      return fail_at(block_path,
                     "null (the notification's err: " + (err ? json::to_compact(*err) : "none") + ")");
    }
    chain.push_back(block_path);
    out.path.push_back(json::PathStep{"block", 0, false});
    at = block;
  }
  const Path& base = chain.back();
  if (!at->is_object()) return expected(base, "a block object", *at);
  if (const Value* slot = at->get("slot"); present(slot)) {
    VARKEL_TRY_AS(out.slot, read_u64(*slot, base.member("slot")));
  }
  if (const Value* time = at->get("blockTime"); present(time)) {
    VARKEL_TRY_AS(out.block_time, read_i64(*time, base.member("blockTime")));
  }
  const Value* transactions = at->get("transactions");
  if (transactions == nullptr) {
    if (at->get("signatures") != nullptr)
      return fail_at(base.member("transactions"),
                     "missing: the block gives its signatures only (transactionDetails \"signatures\"); "
                     "its transactions come with transactionDetails \"full\"");
    return fail_at(base.member("transactions"), "missing");
  }
  VARKEL_TRY_AS(out.transactions,
                read_array(*transactions, base.member("transactions"), "a list of transactions"));
  out.path.push_back(json::PathStep{"transactions", 0, false});
  return out;
}

Result<Transaction> read_block_transaction(const Block& block, std::size_t index) {
  std::vector<Path> chain;
  chain.reserve(block.path.size() + 1);
  chain.push_back(Path{});
  for (const json::PathStep& step : block.path) chain.push_back(Path{&chain.back(), step.key, 0, false});
  VARKEL_TRY_AS(Transaction tx, read_document((*block.transactions)[index], chain.back().at(index)));
  if (!tx.slot) tx.slot = block.slot;
  if (!tx.block_time) tx.block_time = block.block_time;
  return tx;
}

}  // namespace varkel::tx
