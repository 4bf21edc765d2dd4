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

  Result<std::span<const std::uint8_t>> bytes(std::size_t n, const Where& where) {
    if (n > left()) [[unlikely]] {
      return fail("wire transaction ends at byte " + std::to_string(bytes_.size()) + " inside the " +
                  where.text() + " (" + std::to_string(n) + " bytes from byte " + std::to_string(pos_) + ")");
    }
    const std::span<const std::uint8_t> out = bytes_.subspan(pos_, n);
    pos_ += n;
    return out;
  }

  Result<std::uint8_t> u8(const Where& where) {
    VARKEL_TRY_AS(const std::span<const std::uint8_t> one, bytes(1, where));
    return one[0];
  }

  Result<decode::Pubkey> key(const Where& where) {
    VARKEL_TRY_AS(const std::span<const std::uint8_t> raw, bytes(32, where));
    decode::Pubkey out;
    std::memcpy(out.data(), raw.data(), 32);
    return out;
  }

  // A compact-u16 in its shortest form.
  Result<std::size_t> compact_u16(const Where& where) {
    const std::size_t start = pos_;
    std::uint32_t value = 0;
    for (int k = 0; k < 3; ++k) {
      VARKEL_TRY_AS(const std::uint8_t b, u8(where));
      if (k == 2 && b > 0x03) [[unlikely]] {
        return fail("wire transaction: the compact-u16 " + where.text() + " at byte " +
                    std::to_string(start) + " exceeds 0xFFFF");
      }
      if (k > 0 && b == 0) [[unlikely]] {
        return fail("wire transaction: the compact-u16 " + where.text() + " at byte " +
                    std::to_string(start) + " is not in its shortest form");
      }
      value |= static_cast<std::uint32_t>(b & 0x7Fu) << (7 * k);
      if ((b & 0x80u) == 0) break;
    }
    return value;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

Result<WireInstruction> read_instruction(WireReader& r, std::size_t index) {
  WireInstruction out;
  VARKEL_TRY_AS(out.program_index, r.u8({"program index", "instruction", index}));
  VARKEL_TRY_AS(const std::size_t accounts, r.compact_u16({"account count", "instruction", index}));
  VARKEL_TRY_AS(out.accounts, r.bytes(accounts, {"account indexes", "instruction", index}));
  VARKEL_TRY_AS(const std::size_t data, r.compact_u16({"data length", "instruction", index}));
  VARKEL_TRY_AS(out.data, r.bytes(data, {"data", "instruction", index}));
  return out;
}

Result<WireLookup> read_lookup(WireReader& r, std::size_t index) {
  constexpr const char* kItem = "address table lookup";
  WireLookup out;
  VARKEL_TRY_AS(out.table, r.key({"table", kItem, index}));
  VARKEL_TRY_AS(const std::size_t writable, r.compact_u16({"writable count", kItem, index}));
  VARKEL_TRY_AS(out.writable, r.bytes(writable, {"writable indexes", kItem, index}));
  VARKEL_TRY_AS(const std::size_t readonly, r.compact_u16({"read-only count", kItem, index}));
  VARKEL_TRY_AS(out.readonly, r.bytes(readonly, {"read-only indexes", kItem, index}));
  return out;
}

Result<WireTransaction> read_transaction(WireReader& r) {
  WireTransaction tx;
  VARKEL_TRY_AS(const std::size_t signatures, r.compact_u16({"signature count"}));
  tx.signatures.resize(signatures);
  for (std::size_t i = 0; i < signatures; ++i) {
    VARKEL_TRY_AS(tx.signatures[i], r.bytes(64, {"bytes", "signature", i}));
  }
  const std::size_t message_at = r.offset();
  VARKEL_TRY_AS(std::uint8_t first, r.u8({"message header"}));
  if ((first & 0x80u) != 0) {
    const unsigned version = first & 0x7Fu;
    if (version != 0) {
      return fail("wire transaction: unsupported message version " + std::to_string(version) + " at byte " +
                  std::to_string(message_at));
    }
    tx.versioned = true;
    VARKEL_TRY_AS(first, r.u8({"message header"}));
  }
  tx.header[0] = first;
  VARKEL_TRY_AS(tx.header[1], r.u8({"message header"}));
  VARKEL_TRY_AS(tx.header[2], r.u8({"message header"}));
  VARKEL_TRY_AS(const std::size_t keys, r.compact_u16({"account key count"}));
  tx.keys.resize(keys);
  for (std::size_t i = 0; i < keys; ++i) {
    VARKEL_TRY_AS(tx.keys[i], r.key({"bytes", "account key", i}));
  }
  VARKEL_TRY_AS(tx.blockhash, r.key({"recent blockhash"}));
  VARKEL_TRY_AS(const std::size_t instructions, r.compact_u16({"instruction count"}));
  tx.instructions.resize(instructions);
  for (std::size_t i = 0; i < instructions; ++i) {
    VARKEL_TRY_AS(tx.instructions[i], read_instruction(r, i));
  }
  if (tx.versioned) {
    VARKEL_TRY_AS(const std::size_t lookups, r.compact_u16({"address table lookup count"}));
    tx.lookups.resize(lookups);
    for (std::size_t i = 0; i < lookups; ++i) {
      VARKEL_TRY_AS(tx.lookups[i], read_lookup(r, i));
    }
  }
  if (r.left() != 0) {
    return fail("wire transaction: " + std::to_string(r.left()) + " bytes after the message, from byte " +
                std::to_string(r.offset()));
  }
  if (tx.signatures.size() != tx.header[0]) {
    return fail("wire transaction: the message requires " + std::to_string(tx.header[0]) +
                " signatures, the transaction carries " + std::to_string(tx.signatures.size()));
  }
  return tx;
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
  return read_transaction(reader);
}

}  // namespace varkel::tx
