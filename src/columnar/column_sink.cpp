#include "columnar/column_sink.h"

#include <span>
#include <string_view>

#include "decode/walk.h"

namespace varkel::columnar {

namespace {

using decode::FieldsRef;
using decode::Kind;
using decode::PlanField;
using decode::PlanVariant;
using decode::Unit;

// Values go into columns as they are read; the walk's values are empty. A
// slot of kNoIndex stores nothing (a value that is read and checked only).
class ColumnSink {
 public:
  using Value = Unit;
  using Slot = std::uint32_t;
  static constexpr Slot kSkip = kNoIndex;

  ColumnSink(TableBuilder& table, KeyTextCache& keys) noexcept
      : table_(table), keys_(keys), slots_(table.layout().slots), targets_(table.layout().targets) {}

  template <Kind K>
  bool scalar(Slot slot, const std::uint8_t* bytes, Value&) {
    if constexpr (K == Kind::U8 || K == Kind::I8) {
      store<std::uint8_t>(slot, bytes);
    } else if constexpr (K == Kind::U16 || K == Kind::I16) {
      store<std::uint16_t>(slot, bytes);
    } else if constexpr (K == Kind::U32 || K == Kind::I32 || K == Kind::F32) {
      store<std::uint32_t>(slot, bytes);
    } else {
      store<std::uint64_t>(slot, bytes);
    }
    return true;
  }

  bool boolean(Slot slot, bool value, Value&) {
    if (slot != kNoIndex) TableBuilder::append_bit(table_.column(slot), value);
    return true;
  }

  bool wide(Slot slot, Kind kind, const std::uint8_t* bytes, Value&) {
    if (slot == kNoIndex) return true;
    const bool narrow = kind == Kind::U128 || kind == Kind::I128;
    char text[kDecimalTextMax];
    const std::size_t length =
        decimal_text(bytes, narrow ? 16 : 32, kind == Kind::I128 || kind == Kind::I256, text);
    TableBuilder::append_bytes(table_.column(slot), text, length);
    return true;
  }

  bool bytes(Slot slot, std::span<const std::uint8_t> data, Value&) {
    if (slot != kNoIndex) TableBuilder::append_bytes(table_.column(slot), data.data(), data.size());
    return true;
  }

  bool string(Slot slot, std::span<const std::uint8_t> data, Value& out) { return bytes(slot, data, out); }

  bool pubkey(Slot slot, const std::uint8_t* key, Value&) {
    if (slot != kNoIndex) table_.append_key(slot, key, keys_);
    return true;
  }

  // An option keeps its nulls in the slot of the value inside.
  bool none(Slot slot, Value&) {
    if (slot != kNoIndex) table_.append_null(slot);
    return true;
  }

  struct Record {
    const std::uint32_t* targets = nullptr;  // per field: its slot; null: nothing is stored
  };

  bool begin_record(Slot slot, const FieldsRef&, Record& record) {
    if (slot != kNoIndex) record.targets = targets_.data() + slots_[slot].first_target;
    return true;
  }

  Slot field_slot(const Record& record, std::uint32_t i) const noexcept {
    return record.targets != nullptr ? record.targets[i] : kNoIndex;
  }

  bool set_field(Record&, std::uint32_t, const PlanField&, Value&&) { return true; }

  bool end_record(Record&, Slot slot, Value&) {
    if (slot != kNoIndex) TableBuilder::end_value(table_.column(slot));
    return true;
  }

  struct List {
    std::uint32_t child = kNoIndex;
  };

  bool begin_list(Slot slot, std::uint64_t, bool, List& list) {
    if (slot != kNoIndex) list.child = slots_[slot].first_child;
    return true;
  }

  Slot element_slot(const List& list) const noexcept { return list.child; }

  bool add_element(List&, std::uint64_t, Value&&) { return true; }

  bool end_list(List& list, Slot slot, Value&) {
    if (slot == kNoIndex) return true;
    Column& c = table_.column(slot);
    if (slots_[slot].kind == SlotKind::List) c.offsets.push<std::int64_t>(table_.column(list.child).length);
    TableBuilder::end_value(c);
    return true;
  }

  // An enum without fields is a dictionary index; an enum with fields a
  // struct of the variant's name and one struct per variant with fields,
  // null but for the variant that the value is.
  bool unit_variant(Slot slot, std::uint32_t index, const PlanVariant&, Value&) {
    if (slot == kNoIndex) return true;
    if (slots_[slot].kind == SlotKind::Dictionary) {
      Column& c = table_.column(slot);
      c.values.push<std::int16_t>(static_cast<std::int16_t>(index));
      TableBuilder::end_value(c);
      return true;
    }
    return end_variant(slot, index, kNoIndex);
  }

  Slot variant_slot(Slot slot, std::uint32_t index) const noexcept {
    return slot == kNoIndex ? kNoIndex : targets_[slots_[slot].first_target + index];
  }

  bool variant(Slot slot, std::uint32_t index, const PlanVariant&, Value&&, Value&) {
    if (slot == kNoIndex) return true;
    return end_variant(slot, index, variant_slot(slot, index));
  }

  bool opaque(Slot slot) const noexcept { return slot != kNoIndex && slots_[slot].kind == SlotKind::Opaque; }

  bool raw(Slot slot, std::span<const std::uint8_t> data, Value&) {
    TableBuilder::append_bytes(table_.column(slot), data.data(), data.size());
    return true;
  }

  bool take_failure(Error&) { return false; }  // not reached: storing never fails

 private:
  template <class T>
  void store(Slot slot, const std::uint8_t* bytes) {
    if (slot == kNoIndex) return;
    Column& c = table_.column(slot);
    c.values.push<T>(decode::load_le<T>(bytes));
    TableBuilder::end_value(c);
  }

  // The variant's name, and a null in every variant struct but `filled`.
  bool end_variant(Slot slot, std::uint32_t index, std::uint32_t filled) {
    const std::uint32_t first = slots_[slot].first_child;
    Column& names = table_.column(first);
    names.values.push<std::int16_t>(static_cast<std::int16_t>(index));
    TableBuilder::end_value(names);
    for (std::uint32_t i = 1; i < slots_[slot].child_count; ++i) {
      if (first + i != filled) table_.append_null(first + i);
    }
    TableBuilder::end_value(table_.column(slot));
    return true;
  }

  TableBuilder& table_;
  KeyTextCache& keys_;
  const std::vector<columnar::Slot>& slots_;
  const std::vector<std::uint32_t>& targets_;
};

}  // namespace

bool decode_row(const decode::DecodePlan& plan, TableBuilder& table, decode::BorshReader& reader,
                const FieldsRef& fields, KeyTextCache& keys) {
  ColumnSink sink(table, keys);
  decode::Walk<ColumnSink> walk(plan, sink, reader);
  Unit out;
  return walk.fields(fields, 0, out);
}

bool decode_arguments_row(const decode::DecodePlan& plan, TableBuilder& table, decode::BorshReader& reader,
                          const FieldsRef& fields, KeyTextCache& keys) {
  ColumnSink sink(table, keys);
  decode::Walk<ColumnSink> walk(plan, sink, reader);
  Unit out;
  std::uint32_t missing = 0;
  return walk.arguments(fields, 0, out, missing);
}

bool decode_account_row(const decode::DecodePlan& plan, TableBuilder& table, decode::BorshReader& reader,
                        std::uint32_t definition, bool zero_copy, KeyTextCache& keys) {
  ColumnSink sink(table, keys);
  Unit out;
  if (zero_copy) {
    decode::Walk<ColumnSink, true> walk(plan, sink, reader);
    return walk.definition(definition, 0, out);
  }
  decode::Walk<ColumnSink> walk(plan, sink, reader);
  return walk.definition(definition, 0, out);
}

}  // namespace varkel::columnar
