#include "columnar/event_tables.h"

#include <bit>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "decode/base58.h"
#include "decode/borsh_reader.h"
#include "decode/limits.h"
#include "decode/utf8.h"
#include "scan/base64.h"
#include "scan/payload.h"

namespace varkel::columnar {

namespace {

using decode::BorshReader;
using decode::DecodePlan;
using decode::FieldsRef;
using decode::Kind;
using decode::PlanDefinition;
using decode::PlanNode;

// One event through the plan into the columns of one table. Every method
// returns whether the value decoded; `slot` is where it goes, or kNone for a
// value that is decoded (read and checked) but not stored.
class Walker {
 public:
  Walker(const DecodePlan& plan, TableBuilder& table, BorshReader& reader, KeyTextCache& keys) noexcept
      : plan_(plan),
        keys_(keys),
        table_(table),
        slots_(table.layout().slots),
        targets_(table.layout().targets),
        reader_(reader) {}

  bool fields(const FieldsRef& fields, std::uint32_t slot);
  bool type(std::uint32_t node, std::uint32_t slot);

 private:
  bool may_descend() const noexcept {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    return depth_ < decode::kMaxDepth && here - stack_floor_ > decode::kStackReserve;
  }

  bool opaque_slot(std::uint32_t slot) const noexcept {
    return slot != kNone && slots_[slot].kind == SlotKind::Opaque;
  }
  bool sequence(std::uint32_t element, std::uint64_t count, std::uint32_t slot);
  bool defined(std::uint32_t definition, std::uint32_t slot);
  bool enumeration(const PlanDefinition& def, std::uint32_t slot);
  [[gnu::noinline]] bool opaque(std::uint32_t node, std::uint32_t slot);
  [[gnu::noinline]] bool scalar(Kind kind, std::uint32_t slot);
  [[gnu::noinline]] bool variable(Kind kind, std::uint32_t slot);
  [[gnu::noinline]] bool wide(Kind kind, std::uint32_t slot);

  // A little-endian integer of the data as a native value (Arrow's columns
  // are in the machine's byte order).
  template <class T>
  static T load(const std::uint8_t* bytes) noexcept {
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) value = std::byteswap(value);
    return value;
  }

  template <class T>
  bool fixed(std::uint32_t slot) {
    const std::uint8_t* bytes = reader_.take(sizeof(T));
    if (bytes == nullptr) [[unlikely]]
      return false;
    if (slot != kNone) {
      Column& c = table_.column(slot);
      c.values.push<T>(load<T>(bytes));
      TableBuilder::end_value(c);
    }
    return true;
  }

  const DecodePlan& plan_;
  KeyTextCache& keys_;
  TableBuilder& table_;
  const std::vector<Slot>& slots_;
  const std::vector<std::uint32_t>& targets_;
  BorshReader& reader_;
  std::uintptr_t stack_floor_ = decode::stack_floor();
  unsigned depth_ = 0;
  std::uint64_t zero_width_ = 0;
};

bool Walker::fields(const FieldsRef& fields, std::uint32_t slot) {
  const std::uint32_t* targets = slot != kNone ? targets_.data() + slots_[slot].first_target : nullptr;
  const decode::PlanField* field = plan_.fields.data() + fields.first;
  for (std::uint32_t i = 0; i < fields.count; ++i) {
    if (!type(field[i].type, targets != nullptr ? targets[i] : kNone)) return false;
  }
  if (slot != kNone) TableBuilder::end_value(table_.column(slot));
  return true;
}

bool Walker::type(std::uint32_t node, std::uint32_t slot) {
  const PlanNode& n = plan_.nodes[node];
  switch (n.kind) {
    case Kind::U8:
    case Kind::I8:
      return fixed<std::uint8_t>(slot);
    case Kind::U16:
    case Kind::I16:
      return fixed<std::uint16_t>(slot);
    case Kind::U32:
    case Kind::I32:
    case Kind::F32:
      return fixed<std::uint32_t>(slot);
    case Kind::U64:
    case Kind::I64:
    case Kind::F64:
      return fixed<std::uint64_t>(slot);
    case Kind::Option: {
      // An option keeps its nulls in an opaque slot; the value inside is
      // the one given as bytes.
      const std::uint8_t* tag = reader_.take(1);
      if (tag == nullptr) [[unlikely]]
        return false;
      if (*tag == 0) {
        if (slot != kNone) table_.append_null(slot);
        return true;
      }
      if (!may_descend()) [[unlikely]]
        return false;
      decode::DepthLevel level(depth_);
      return type(n.child, slot);
    }
    case Kind::Vec: {
      if (opaque_slot(slot)) [[unlikely]]
        return opaque(node, slot);
      const std::uint8_t* count = reader_.take(4);
      if (count == nullptr || !may_descend()) [[unlikely]]
        return false;
      decode::DepthLevel level(depth_);
      return sequence(n.child, load<std::uint32_t>(count), slot);
    }
    case Kind::Array: {
      if (opaque_slot(slot)) [[unlikely]]
        return opaque(node, slot);
      if (n.generic_length || !may_descend()) [[unlikely]]
        return false;
      decode::DepthLevel level(depth_);
      return sequence(n.child, n.length, slot);
    }
    case Kind::Defined: {
      if (opaque_slot(slot)) [[unlikely]]
        return opaque(node, slot);
      if (n.generic_args || !may_descend()) [[unlikely]]
        return false;
      decode::DepthLevel level(depth_);
      if (n.child == kNone) [[unlikely]]
        return false;
      return defined(n.child, slot);
    }
    case Kind::Generic:
      return false;
    default:
      return scalar(n.kind, slot);
  }
}

bool Walker::sequence(std::uint32_t element, std::uint64_t count, std::uint32_t slot) {
  const std::uint32_t child = slot != kNone ? slots_[slot].first_child : kNone;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t before = reader_.position();
    if (!type(element, child)) return false;
    if (reader_.position() == before) [[unlikely]] {
      if (count - i > decode::kMaxZeroWidth - zero_width_) return false;
      ++zero_width_;
    }
  }
  if (slot != kNone) {
    Column& c = table_.column(slot);
    if (slots_[slot].kind == SlotKind::List) c.offsets.push<std::int64_t>(table_.column(child).length);
    TableBuilder::end_value(c);
  }
  return true;
}

bool Walker::defined(std::uint32_t definition, std::uint32_t slot) {
  const PlanDefinition& def = plan_.definitions[definition];
  switch (def.form) {
    case PlanDefinition::Form::Struct:
      return fields(def.fields, slot);
    case PlanDefinition::Form::Enum:
      return enumeration(def, slot);
    case PlanDefinition::Form::Alias:
      break;
  }
  return type(def.alias, slot);
}

bool Walker::enumeration(const PlanDefinition& def, std::uint32_t slot) {
  const std::uint8_t* discriminant = reader_.take(1);
  if (discriminant == nullptr || *discriminant >= def.variant_count) [[unlikely]]
    return false;
  const decode::PlanVariant& variant = plan_.variants[def.first_variant + *discriminant];
  const bool has_fields = variant.fields.form != FieldsRef::Form::Absent;
  if (slot == kNone) return !has_fields || fields(variant.fields, kNone);
  const Slot& s = slots_[slot];
  if (s.kind == SlotKind::Dictionary) {
    Column& c = table_.column(slot);
    c.values.push<std::int16_t>(static_cast<std::int16_t>(*discriminant));
    TableBuilder::end_value(c);
    return true;
  }
  const std::uint32_t target = targets_[s.first_target + *discriminant];
  if (has_fields && !fields(variant.fields, target)) return false;
  Column& names = table_.column(s.first_child);
  names.values.push<std::int16_t>(static_cast<std::int16_t>(*discriminant));
  TableBuilder::end_value(names);
  for (std::uint32_t i = 1; i < s.child_count; ++i) {
    if (s.first_child + i != target) table_.append_null(s.first_child + i);
  }
  TableBuilder::end_value(table_.column(slot));
  return true;
}

// A value given as its Borsh bytes: decoded (and checked) without storing,
// then the bytes it took are copied.
bool Walker::opaque(std::uint32_t node, std::uint32_t slot) {
  const std::uint64_t start = reader_.position();
  if (!type(node, kNone)) return false;
  TableBuilder::append_bytes(table_.column(slot), reader_.data() + start,
                             static_cast<std::size_t>(reader_.position() - start));
  return true;
}

// bool, wide integers, bytes, string, pubkey (type() takes the fixed-width kinds).
bool Walker::scalar(Kind kind, std::uint32_t slot) {
  switch (kind) {
    case Kind::Bool: {
      const std::uint8_t* b = reader_.take(1);
      if (b == nullptr) [[unlikely]]
        return false;
      if (slot != kNone) TableBuilder::append_bit(table_.column(slot), *b != 0);
      return true;
    }
    case Kind::U128:
    case Kind::I128:
    case Kind::U256:
    case Kind::I256:
      return wide(kind, slot);
    default:
      return variable(kind, slot);
  }
}

bool Walker::wide(Kind kind, std::uint32_t slot) {
  const bool narrow = kind == Kind::U128 || kind == Kind::I128;
  const bool is_signed = kind == Kind::I128 || kind == Kind::I256;
  const std::size_t size = narrow ? 16 : 32;
  const std::uint8_t* bytes = reader_.take(size);
  if (bytes == nullptr) [[unlikely]]
    return false;
  if (slot != kNone) {
    const bool fits = narrow ? fits_decimal128(bytes, is_signed) : fits_decimal256(bytes, is_signed);
    TableBuilder::append_wide(table_.column(slot), bytes, size, fits);
  }
  return true;
}

bool Walker::variable(Kind kind, std::uint32_t slot) {
  if (kind == Kind::Pubkey) {
    const std::uint8_t* key = reader_.take(32);
    if (key == nullptr) [[unlikely]]
      return false;
    if (slot != kNone) {
      const std::string_view text = keys_.text(key);
      TableBuilder::append_bytes(table_.column(slot), text.data(), text.size());
    }
    return true;
  }
  // bytes and string: a u32 length, then the bytes
  const std::uint8_t* length = reader_.take(4);
  if (length == nullptr) [[unlikely]]
    return false;
  const std::uint32_t size = load<std::uint32_t>(length);
  const std::uint8_t* bytes = reader_.take(size);
  if (bytes == nullptr) [[unlikely]]
    return false;
  if (kind == Kind::String && decode::check_utf8(std::span<const std::uint8_t>(bytes, size))) [[unlikely]]
    return false;
  if (slot != kNone) TableBuilder::append_bytes(table_.column(slot), bytes, size);
  return true;
}

}  // namespace

TableSchema build_table_schema(const decode::EventRegistry& registry, const decode::DecodePlan& plan) {
  TableSchema schema;
  schema.layouts = build_layouts(registry, plan);
  schema.empty.reserve(schema.layouts.tables.size());
  for (const Layout& layout : schema.layouts.tables) {
    schema.empty.push_back(std::make_shared<const Table>(TableBuilder(layout).finish(plan)));
  }
  return schema;
}

EventTables::EventTables(const decode::DecodePlan& plan, const TableSchema& schema)
    : plan_(plan),
      schema_(schema),
      builders_(schema.layouts.tables.size()),
      keys_(KeyTextCache::for_this_thread()) {
  keys_.clear();  // a batch reuses only its own keys
}

bool EventTables::add(std::size_t event, const std::uint8_t* data, std::size_t size) {
  const std::uint32_t table = schema_.layouts.table_of[event];
  std::unique_ptr<TableBuilder>& builder = builders_[table];
  if (!builder) builder = std::make_unique<TableBuilder>(schema_.layouts.tables[table]);
  builder->checkpoint();
  BorshReader reader(data, size);
  if (Walker(plan_, *builder, reader, keys_).fields(plan_.events[event], 0)) return true;
  builder->rollback();
  return false;
}

std::int64_t EventTables::rows(std::size_t table) const noexcept {
  return builders_[table] ? builders_[table]->rows() : 0;
}

std::vector<std::shared_ptr<const Table>> EventTables::finish() && {
  std::vector<std::shared_ptr<const Table>> tables;
  tables.reserve(builders_.size());
  for (std::size_t i = 0; i < builders_.size(); ++i) {
    if (builders_[i]) {
      tables.push_back(std::make_shared<const Table>(std::move(*builders_[i]).finish(plan_)));
      builders_[i].reset();
    } else {
      tables.push_back(schema_.empty[i]);
    }
  }
  return tables;
}

void add_lines(EventTables& tables, const decode::EventRegistry& registry,
               std::span<const std::string_view> lines) {
  if (registry.events.empty()) return;
  for (std::string_view line : lines) {
    std::optional<std::string_view> text = scan::extract_payload(line);
    if (!text) continue;
    std::optional<scan::ByteBuffer> payload = scan::decode_base64(*text);
    if (!payload || payload->size < 8) continue;
    const decode::EventEntry* entry = registry.find_event(payload->data.get());
    if (entry == nullptr) continue;
    tables.add(static_cast<std::size_t>(entry - registry.events.data()), payload->data.get() + 8,
               payload->size - 8);
  }
}

}  // namespace varkel::columnar
