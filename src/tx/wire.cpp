#include "tx/wire.h"

#include <cstring>
#include <string>
#include <utility>

namespace varkel::tx {

namespace {

// What a read is for, spelt out only when it fails: "{item} {index} {field}"
// or "{field}".
struct Where {
  const char* field;
  const char* item = nullptr;
  std::size_t index = 0;

  std::string text() const {
    if (item == nullptr) return field;
    return std::string(item) + " " + std::to_string(index) + " " + field;
  }
};

class WireReader {
 public:
  explicit WireReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t offset() const noexcept { return pos_; }
  std::size_t left() const noexcept { return bytes_.size() - pos_; }
  const std::string& error() const noexcept { return error_; }

  bool bytes(std::size_t n, const Where& where, std::span<const std::uint8_t>& out) {
    if (n > left()) [[unlikely]] {
      return failure("wire transaction ends at byte " + std::to_string(bytes_.size()) + " inside the " +
                     where.text() + " (" + std::to_string(n) + " bytes from byte " + std::to_string(pos_) +
                     ")");
    }
    out = bytes_.subspan(pos_, n);
    pos_ += n;
    return true;
  }

  bool u8(const Where& where, std::uint8_t& out) {
    std::span<const std::uint8_t> one;
    if (!bytes(1, where, one)) return false;
    out = one[0];
    return true;
  }

  bool key(const Where& where, decode::Pubkey& out) {
    std::span<const std::uint8_t> raw;
    if (!bytes(32, where, raw)) return false;
    std::memcpy(out.data(), raw.data(), 32);
    return true;
  }

  // A compact-u16 in its shortest form.
  bool compact_u16(const Where& where, std::size_t& out) {
    const std::size_t start = pos_;
    std::uint32_t value = 0;
    for (int k = 0; k < 3; ++k) {
      std::uint8_t b = 0;
      if (!u8(where, b)) return false;
      if (k == 2 && b > 0x03) [[unlikely]] {
        return failure("wire transaction: the compact-u16 " + where.text() + " at byte " +
                       std::to_string(start) + " exceeds 0xFFFF");
      }
      if (k > 0 && b == 0) [[unlikely]] {
        return failure("wire transaction: the compact-u16 " + where.text() + " at byte " +
                       std::to_string(start) + " is not in its shortest form");
      }
      value |= static_cast<std::uint32_t>(b & 0x7Fu) << (7 * k);
      if ((b & 0x80u) == 0) break;
    }
    out = value;
    return true;
  }

  bool failure(std::string message) {
    error_ = std::move(message);
    return false;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  std::string error_;
};

bool read_instruction(WireReader& r, std::size_t index, WireInstruction& out) {
  std::size_t accounts = 0;
  std::size_t data = 0;
  return r.u8({"program index", "instruction", index}, out.program_index) &&
         r.compact_u16({"account count", "instruction", index}, accounts) &&
         r.bytes(accounts, {"account indexes", "instruction", index}, out.accounts) &&
         r.compact_u16({"data length", "instruction", index}, data) &&
         r.bytes(data, {"data", "instruction", index}, out.data);
}

bool read_lookup(WireReader& r, std::size_t index, WireLookup& out) {
  constexpr const char* kItem = "address table lookup";
  std::size_t writable = 0;
  std::size_t readonly = 0;
  return r.key({"table", kItem, index}, out.table) &&
         r.compact_u16({"writable count", kItem, index}, writable) &&
         r.bytes(writable, {"writable indexes", kItem, index}, out.writable) &&
         r.compact_u16({"read-only count", kItem, index}, readonly) &&
         r.bytes(readonly, {"read-only indexes", kItem, index}, out.readonly);
}

bool read_transaction(WireReader& r, WireTransaction& tx) {
  std::size_t count = 0;
  if (!r.compact_u16({"signature count"}, count)) return false;
  tx.signatures.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!r.bytes(64, {"bytes", "signature", i}, tx.signatures[i])) return false;
  }
  std::uint8_t first = 0;
  const std::size_t message_at = r.offset();
  if (!r.u8({"message header"}, first)) return false;
  if ((first & 0x80u) != 0) {
    const unsigned version = first & 0x7Fu;
    if (version != 0) {
      return r.failure("wire transaction: unsupported message version " + std::to_string(version) +
                       " at byte " + std::to_string(message_at));
    }
    tx.versioned = true;
    if (!r.u8({"message header"}, first)) return false;
  }
  tx.header[0] = first;
  if (!r.u8({"message header"}, tx.header[1]) || !r.u8({"message header"}, tx.header[2])) return false;
  if (!r.compact_u16({"account key count"}, count)) return false;
  tx.keys.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!r.key({"bytes", "account key", i}, tx.keys[i])) return false;
  }
  if (!r.key({"recent blockhash"}, tx.blockhash)) return false;
  if (!r.compact_u16({"instruction count"}, count)) return false;
  tx.instructions.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!read_instruction(r, i, tx.instructions[i])) return false;
  }
  if (tx.versioned) {
    if (!r.compact_u16({"address table lookup count"}, count)) return false;
    tx.lookups.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      if (!read_lookup(r, i, tx.lookups[i])) return false;
    }
  }
  if (r.left() != 0) {
    return r.failure("wire transaction: " + std::to_string(r.left()) +
                     " bytes after the message, from byte " + std::to_string(r.offset()));
  }
  if (tx.signatures.size() != tx.header[0]) {
    return r.failure("wire transaction: the message requires " + std::to_string(tx.header[0]) +
                     " signatures, the transaction carries " + std::to_string(tx.signatures.size()));
  }
  return true;
}

}  // namespace

std::size_t WireTransaction::loaded_writable() const noexcept {
  std::size_t n = 0;
  for (const WireLookup& lookup : lookups) n += lookup.writable.size();
  return n;
}

std::size_t WireTransaction::loaded_readonly() const noexcept {
  std::size_t n = 0;
  for (const WireLookup& lookup : lookups) n += lookup.readonly.size();
  return n;
}

Result<WireTransaction> parse_wire_transaction(std::span<const std::uint8_t> bytes) {
  WireReader reader(bytes);
  WireTransaction tx;
  if (!read_transaction(reader, tx)) return fail(reader.error());
  return tx;
}

}  // namespace varkel::tx
