// The growing columns of one table while a batch is decoded, one per slot of
// its layout; finished into a Table (columnar/array_data.h).
//
// Appending is done by the event decoder (columnar/event_tables.h); a value
// is appended to its column and, for compound slots, to the columns below.
// Before each event the lengths of all columns are saved; when the event
// fails they are restored, which drops every value that it appended.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "columnar/array_data.h"
#include "columnar/key_text.h"
#include "columnar/layout.h"
#include "decode/plan.h"

namespace varkel::columnar {

// The builder of one slot. Which buffers it uses depends on the slot's kind.
struct Column {
  std::int64_t length = 0;
  std::int64_t null_count = 0;
  bool has_validity = false;  // the bitmap exists (made at the first null)
  Buffer validity;            // one bit per value, 1 = valid
  Buffer values;              // fixed-width values, boolean bits, dictionary indices
  Buffer offsets;             // variable-size values and lists: int64, length + 1 of them
  Buffer data;                // variable-size values: the bytes
};

class TableBuilder {
 public:
  explicit TableBuilder(const Layout& layout);

  const Layout& layout() const noexcept { return *layout_; }
  Column& column(std::uint32_t slot) noexcept { return columns_[slot]; }
  std::int64_t rows() const noexcept { return columns_[0].length; }

  // Marks the value just appended to `column` as valid and counts it.
  static void end_value(Column& column) {
    if (column.has_validity) set_bit(column.validity, column.length, true);
    ++column.length;
  }
  // Appends a null to slot `slot` and the placeholders below it.
  void append_null(std::uint32_t slot);

  // Variable-size values: the bytes, then end_value.
  static void append_bytes(Column& column, const void* bytes, std::size_t size) {
    column.data.append(bytes, size);
    column.offsets.push<std::int64_t>(static_cast<std::int64_t>(column.data.size()));
    end_value(column);
  }
  static void append_bit(Column& column, bool bit) {
    set_bit(column.values, column.length, bit);
    end_value(column);
  }
  // A fixed-width value.
  template <class T>
  static void append_value(Column& column, T value) {
    column.values.push<T>(value);
    end_value(column);
  }
  // A public key into a Pubkey slot (its base58 text) or a KeyBytes slot.
  void append_key(std::uint32_t slot, const std::uint8_t* key, KeyTextCache& keys) {
    Column& c = columns_[slot];
    if (layout_->slots[slot].kind == SlotKind::KeyBytes) {
      c.values.append(key, 32);
      end_value(c);
    } else {
      const std::string_view text = keys.text(key);
      append_bytes(c, text.data(), text.size());
    }
  }

  void checkpoint();
  void rollback();

  // The finished table; `plan` names the variants of enums.
  Table finish(const decode::DecodePlan& plan) &&;

  static void set_bit(Buffer& bits, std::int64_t index, bool value) {
    const auto byte = static_cast<std::size_t>(index >> 3);
    if (byte >= bits.size()) bits.resize(byte + 1 + (byte >> 1));  // zeroed
    const auto mask = static_cast<std::uint8_t>(1u << (index & 7));
    std::uint8_t& target = bits.data()[byte];
    target = value ? static_cast<std::uint8_t>(target | mask) : static_cast<std::uint8_t>(target & ~mask);
  }

 private:
  struct Saved {
    std::int64_t length;
    std::int64_t null_count;
  };

  const Layout* layout_;
  std::vector<Column> columns_;
  std::vector<Saved> saved_;
};

// The decimal text of a little-endian integer of 16 or 32 bytes (two's
// complement when signed), written to `out` (kDecimalTextMax bytes of room);
// returns its length.
inline constexpr std::size_t kDecimalTextMax = 80;
std::size_t decimal_text(const std::uint8_t* bytes, std::size_t size, bool is_signed, char* out);

}  // namespace varkel::columnar
