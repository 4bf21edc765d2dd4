#include "columnar/table_builder.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string>
#include <utility>

#include "columnar/arrow_c.h"

namespace varkel::columnar {

namespace {

bool has_offsets(SlotKind kind) {
  switch (kind) {
    case SlotKind::Binary:
    case SlotKind::Utf8:
    case SlotKind::Pubkey:
    case SlotKind::Opaque:
    case SlotKind::List:
      return true;
    default:
      return false;
  }
}

// Bytes per value in Column::values (0: none, or bits).
std::size_t value_width(SlotKind kind) {
  switch (kind) {
    case SlotKind::I8:
    case SlotKind::U8:
      return 1;
    case SlotKind::I16:
    case SlotKind::U16:
    case SlotKind::Dictionary:
      return 2;
    case SlotKind::I32:
    case SlotKind::U32:
    case SlotKind::F32:
      return 4;
    case SlotKind::I64:
    case SlotKind::U64:
    case SlotKind::F64:
      return 8;
    case SlotKind::KeyBytes:
      return 32;
    default:
      return 0;
  }
}

const char* fixed_format(SlotKind kind) {
  switch (kind) {
    case SlotKind::I8:
      return "c";
    case SlotKind::U8:
      return "C";
    case SlotKind::I16:
      return "s";
    case SlotKind::U16:
      return "S";
    case SlotKind::I32:
      return "i";
    case SlotKind::U32:
      return "I";
    case SlotKind::F32:
      return "f";
    case SlotKind::I64:
      return "l";
    case SlotKind::U64:
      return "L";
    case SlotKind::F64:
      return "g";
    default:
      return "n";
  }
}

// --------------------------------------------------------------------------
// Wide integers as decimals.

using Limbs = std::array<std::uint64_t, 4>;  // little-endian 64-bit limbs
__extension__ using Wide = unsigned __int128;

// The magnitude of a 16- or 32-byte integer, and whether it is negative.
Limbs magnitude(const std::uint8_t* bytes, std::size_t size, bool is_signed, bool& negative) {
  Limbs limbs{};
  std::memcpy(limbs.data(), bytes, size);
  const std::size_t n = size / 8;
  negative = is_signed && (limbs[n - 1] >> 63) != 0;
  if (negative) {  // two's complement: invert and add one
    unsigned carry = 1;
    for (std::size_t i = 0; i < n; ++i) {
      limbs[i] = ~limbs[i] + carry;
      carry = carry != 0 && limbs[i] == 0 ? 1 : 0;
    }
  }
  return limbs;
}

// Divides `limbs` by `divisor` in place; returns the remainder.
std::uint64_t divide(Limbs& limbs, std::uint64_t divisor) {
  Wide remainder = 0;
  for (std::size_t i = 4; i-- > 0;) {
    const Wide current = (remainder << 64) | limbs[i];
    limbs[i] = static_cast<std::uint64_t>(current / divisor);
    remainder = current % divisor;
  }
  return static_cast<std::uint64_t>(remainder);
}

}  // namespace

std::size_t decimal_text(const std::uint8_t* bytes, std::size_t size, bool is_signed, char* out) {
  bool negative = false;
  Limbs value = magnitude(bytes, size, is_signed, negative);
  constexpr std::uint64_t kChunk = 10'000'000'000'000'000'000ull;  // 10^19
  char digits[kDecimalTextMax];
  std::size_t n = 0;  // digits[0, n): the lowest digit first
  // Nineteen digits of `chunk`, or only its own digits when it is the last.
  auto put = [&](std::uint64_t chunk, bool last) {
    for (int i = 0; i < 19 && (!last || chunk != 0); ++i) {
      digits[n++] = static_cast<char>('0' + chunk % 10);
      chunk /= 10;
    }
  };
  if (value[2] == 0 && value[3] == 0) {  // 128 bits: two divisions of one wide number
    Wide wide = (static_cast<Wide>(value[1]) << 64) | value[0];
    while (wide >= kChunk) {
      put(static_cast<std::uint64_t>(wide % kChunk), false);
      wide /= kChunk;
    }
    put(static_cast<std::uint64_t>(wide), true);
  } else {
    do {
      const std::uint64_t chunk = divide(value, kChunk);
      put(chunk, value == Limbs{});
    } while (value != Limbs{});
  }
  if (n == 0) digits[n++] = '0';
  std::size_t length = 0;
  if (negative) out[length++] = '-';
  while (n > 0) out[length++] = digits[--n];
  return length;
}

// --------------------------------------------------------------------------
// The builder.

TableBuilder::TableBuilder(const Layout& layout) : layout_(&layout), columns_(layout.slots.size()) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (has_offsets(layout.slots[i].kind)) columns_[i].offsets.push<std::int64_t>(0);
  }
  saved_.resize(columns_.size());
}

void TableBuilder::append_null(std::uint32_t slot) {
  const Slot& s = layout_->slots[slot];
  Column& c = columns_[slot];
  if (!c.has_validity) {
    // The bitmap starts with every value so far valid.
    c.validity.resize(static_cast<std::size_t>((c.length >> 3) + 1));
    std::memset(c.validity.data(), 0xFF, c.validity.size());
    c.has_validity = true;
  }
  switch (s.kind) {
    case SlotKind::Null:
      break;
    case SlotKind::Bool:
      set_bit(c.values, c.length, false);
      break;
    case SlotKind::Binary:
    case SlotKind::Utf8:
    case SlotKind::Pubkey:
    case SlotKind::Opaque:
      c.offsets.push<std::int64_t>(static_cast<std::int64_t>(c.data.size()));
      break;
    case SlotKind::List:
      c.offsets.push<std::int64_t>(columns_[s.first_child].length);
      break;
    case SlotKind::FixedList:
      for (std::uint64_t i = 0; i < s.list_size; ++i) append_null(s.first_child);
      break;
    case SlotKind::Struct:
    case SlotKind::Enum:
      for (std::uint32_t i = 0; i < s.child_count; ++i) append_null(s.first_child + i);
      break;
    default:  // fixed width: a zero placeholder
      c.values.resize(c.values.size() + value_width(s.kind));
      break;
  }
  set_bit(c.validity, c.length, false);
  ++c.length;
  ++c.null_count;
}

void TableBuilder::checkpoint() {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    saved_[i] = Saved{columns_[i].length, columns_[i].null_count};
  }
}

void TableBuilder::rollback() {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    Column& c = columns_[i];
    const Saved& saved = saved_[i];
    if (c.length == saved.length) continue;
    c.length = saved.length;
    c.null_count = saved.null_count;
    const SlotKind kind = layout_->slots[i].kind;
    const auto n = static_cast<std::size_t>(c.length);
    if (const std::size_t width = value_width(kind); width > 0) c.values.truncate(n * width);
    if (has_offsets(kind)) {
      c.offsets.truncate((n + 1) * sizeof(std::int64_t));
      if (kind != SlotKind::List) c.data.truncate(static_cast<std::size_t>(c.offsets.as<std::int64_t>()[n]));
    }
    // Bits past the length (values, validity) are written again when reused.
  }
}

namespace {

// Out of line: GCC 12 reports a false -Wrestrict when many string
// assignments are inlined into the recursive Finisher::array.
[[gnu::noinline]] void set_format(ArrayData& out, std::string format) {
  out.format = std::move(format);
}

class Finisher {
 public:
  Finisher(const Layout& layout, std::vector<Column>& columns, const decode::DecodePlan& plan)
      : layout_(layout), columns_(columns), plan_(plan) {}

  ArrayData array(std::uint32_t slot) {
    const Slot& s = layout_.slots[slot];
    Column& c = columns_[slot];
    ArrayData out;
    out.buffers.reserve(3);
    out.children.reserve(s.child_count);
    out.name = s.name;
    out.flags = s.nullable ? ARROW_FLAG_NULLABLE : 0;
    out.length = c.length;
    out.null_count = c.null_count;
    if (s.kind == SlotKind::Null) {
      set_format(out, "n");
      out.null_count = c.length;
      return out;
    }
    out.buffers.push_back(std::move(c.validity));
    switch (s.kind) {
      case SlotKind::Bool:
        set_format(out, "b");
        out.buffers.push_back(std::move(c.values));
        break;
      case SlotKind::KeyBytes:
        set_format(out, "w:32");
        out.buffers.push_back(std::move(c.values));
        break;
      case SlotKind::Binary:
      case SlotKind::Opaque:
        variable(c, out, "z", "Z");
        break;
      case SlotKind::Utf8:
      case SlotKind::Pubkey:
        variable(c, out, "u", "U");
        break;
      case SlotKind::List: {
        const bool large = c.length > 0 && c.offsets.as<std::int64_t>()[c.length] > kInt32Max;
        set_format(out, large ? "+L" : "+l");
        out.buffers.push_back(offsets(c, large));
        out.children.push_back(array(s.first_child));
        break;
      }
      case SlotKind::FixedList:
        set_format(out, "+w:" + std::to_string(s.list_size));
        out.children.push_back(array(s.first_child));
        break;
      case SlotKind::Struct:
      case SlotKind::Enum:
        set_format(out, "+s");
        for (std::uint32_t i = 0; i < s.child_count; ++i) out.children.push_back(array(s.first_child + i));
        break;
      case SlotKind::Dictionary:
        set_format(out, "s");
        out.buffers.push_back(std::move(c.values));
        out.dictionary = std::make_unique<ArrayData>(variant_names(s.names));
        break;
      default:
        set_format(out, fixed_format(s.kind));
        out.buffers.push_back(std::move(c.values));
        break;
    }
    return out;
  }

 private:
  static constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

  // int32 offsets when the last fits, else the int64 ones as they are. The
  // narrow ones go to a block of their own and the wide block is freed now,
  // not kept with the table: narrowing in place measured 15% slower on large
  // batches (the kept blocks left glibc serving the next batch's buffers
  // with fresh pages, whose faults took the time).
  static Buffer offsets(Column& c, bool large) {
    if (large) return std::move(c.offsets);
    Buffer narrow;
    const auto n = static_cast<std::size_t>(c.length) + 1;
    narrow.resize(n * sizeof(std::int32_t));
    const std::int64_t* wide = c.offsets.as<std::int64_t>();
    std::int32_t* out = narrow.as<std::int32_t>();
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::int32_t>(wide[i]);
    c.offsets = Buffer();
    return narrow;
  }

  static void variable(Column& c, ArrayData& out, const char* format, const char* large_format) {
    const bool large = static_cast<std::int64_t>(c.data.size()) > kInt32Max;
    set_format(out, large ? large_format : format);
    out.buffers.push_back(offsets(c, large));
    out.buffers.push_back(std::move(c.data));
  }

  ArrayData variant_names(std::uint32_t definition) const {
    const decode::PlanDefinition& def = plan_.definitions[definition];
    Column c;
    c.offsets.push<std::int64_t>(0);
    for (std::uint32_t v = 0; v < def.variant_count; ++v) {
      const std::string& name = plan_.keys[plan_.variants[def.first_variant + v].key];
      c.data.append(name.data(), name.size());
      c.offsets.push<std::int64_t>(static_cast<std::int64_t>(c.data.size()));
    }
    c.length = def.variant_count;
    ArrayData out;
    out.length = c.length;
    out.buffers.emplace_back();  // no validity: no nulls
    variable(c, out, "u", "U");
    return out;
  }

  const Layout& layout_;
  std::vector<Column>& columns_;
  const decode::DecodePlan& plan_;
};

}  // namespace

Table TableBuilder::finish(const decode::DecodePlan& plan) && {
  Table table;
  table.name = layout_->name;
  table.batch = Finisher(*layout_, columns_, plan).array(0);
  table.batch.flags = 0;
  return table;
}

}  // namespace varkel::columnar
