// The one walk over a decode plan: Borsh bytes read in the order the plan's
// types give, every bound applied, and each value handed to a sink that
// decides what is made of it (Python objects, Arrow columns).
//
// The walk owns every rule about the data, so that all sinks accept and
// refuse exactly the same bytes:
// - reads: fixed-width values, u32-prefixed bytes and strings (strings must be
//   UTF-8), option tags (0 absent, anything else present), enum tags (one
//   byte, within the variants), vec counts;
// - nesting depth: every compound type expression entered on the way down (an
//   option that is present, a vec, an array, a defined reference) counts one
//   level; more than kMaxDepth levels, or a frame within kStackReserve bytes
//   of the end of the thread's stack, fail the value. This stops types that
//   reach themselves without consuming a byte before they exhaust the C
//   stack, also on threads started with a small stack;
// - zero-width elements: a vec or array element that consumes no bytes costs
//   the sink work but no data, so a count read from the data could ask for
//   billions of them. Such an element is read from no input at all, so every
//   later element of the same sequence is equal and free too: when an element
//   turns out to be zero-width, the rest of the sequence must fit, all at
//   once, in what is left of a budget of kMaxZeroWidth elements per value, or
//   the value fails before any more is built;
// - the forms that always fail when the data reaches them: a generic
//   parameter, a generic array length, a reference with generic arguments or
//   to a type the IDL does not declare.
//
// A sink is a class with the members below (Slot: where a value goes, Value:
// what a finished value is; a sink that needs neither uses Unit). Every
// member but the slot getters returns false when the sink itself fails; the
// walk then stops at once. take_failure(error) tells which failure it was:
// true when the sink judged the data (the error says why, as any failure of
// the data), false when the sink itself broke down (the interpreter could not
// create an object, say): the walk reports sink_failed().
//
//   using Value = ...; using Slot = ...; struct Record; struct List;
//   template <Kind K> bool scalar(Slot, const std::uint8_t* bytes, Value&);  // integers, floats
//   bool boolean(Slot, bool, Value&);
//   bool wide(Slot, Kind, const std::uint8_t* bytes, Value&);                // 16 or 32 bytes
//   bool bytes(Slot, std::span<const std::uint8_t>, Value&);
//   bool string(Slot, std::span<const std::uint8_t>, Value&);              // checked UTF-8
//   bool pubkey(Slot, const std::uint8_t* key, Value&);
//   bool none(Slot, Value&);                                               // an absent option
//   bool begin_record(Slot, const FieldsRef&, Record&);
//   Slot field_slot(const Record&, std::uint32_t i);
//   bool set_field(Record&, std::uint32_t i, const PlanField&, Value&&);
//   bool end_record(Record&, Slot, Value&);
//   bool begin_list(Slot, std::uint64_t count, bool sized, List&);         // sized: count is plausible
//   Slot element_slot(const List&);
//   bool add_element(List&, std::uint64_t i, Value&&);
//   bool end_list(List&, Slot, Value&);
//   bool unit_variant(Slot, std::uint32_t index, const PlanVariant&, Value&);
//   Slot variant_slot(Slot, std::uint32_t index);
//   bool variant(Slot, std::uint32_t index, const PlanVariant&, Value&& fields, Value&);
//   bool opaque(Slot) const;   // the value is wanted as its bytes (then: raw)
//   bool raw(Slot, std::span<const std::uint8_t>, Value&);
//   static constexpr Slot kSkip;  // a slot that stores nothing (what opaque values are read with)
//   bool take_failure(Error&);
//
// Failures of the data stop the walk with error() set: the message, and in
// its path the field and element where it happened ("routes[2].amount"), so
// that a caller can say which argument did not fit. The messages:
// "unexpected end of buffer: need {n} byte(s) at offset {p}, have {len}",
// "invalid utf-8: {detail}", "enum discriminant {d} out of range",
// "type nesting exceeds {n} levels", "type nesting exceeds the thread's stack
// at {n} levels", "more than {n} zero-width elements", "generic type
// parameter is not supported", "generic array length is not supported",
// "unknown defined type '{name}'", "generic defined type '{name}' is not
// supported".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"
#include "decode/borsh_reader.h"
#include "decode/limits.h"
#include "decode/plan.h"
#include "decode/utf8.h"

namespace varkel::decode {

// What a sink uses for a slot or a value it has no need of.
struct Unit {};

// The messages of the walk's failures, built only when one happens.
namespace walk_failure {
[[gnu::cold, gnu::noinline]] Error too_deep(unsigned depth);
[[gnu::cold, gnu::noinline]] Error too_many_zero_width();
[[gnu::cold, gnu::noinline]] Error generic_parameter();
[[gnu::cold, gnu::noinline]] Error generic_length();
[[gnu::cold, gnu::noinline]] Error unknown_type(const std::string& name);
[[gnu::cold, gnu::noinline]] Error generic_defined(const std::string& name);
[[gnu::cold, gnu::noinline]] Error bad_discriminant(unsigned discriminant);
[[gnu::cold, gnu::noinline]] Error invalid_utf8(const std::string& detail);
// Puts `step` (a field's name, or an element's index: shown as "[i]") in
// front of the path.
[[gnu::cold, gnu::noinline]] void prepend(Error& error, std::string_view step, bool index);
[[gnu::cold, gnu::noinline]] void prepend_index(Error& error, std::uint64_t index);
}  // namespace walk_failure

// Zero-copy: the data is a memory image laid out by lay_out_zero_copy (see
// decode/plan.h): a struct's fields are read at their offsets, and the struct
// takes its whole size (tail padding included). Everything else reads as in
// Borsh: the layout admits only fixed-size values.
template <class Sink, bool kZeroCopy = false>
class Walk {
 public:
  using Value = typename Sink::Value;
  using Slot = typename Sink::Slot;

  Walk(const DecodePlan& plan, Sink& sink, BorshReader& reader) noexcept
      : plan_(plan), sink_(sink), reader_(reader) {}

  // The fields of an event, of an instruction's arguments or of a struct, into
  // `out`. False when the data does not decode (error()) or the sink failed
  // (sink_failed()).
  bool fields(const FieldsRef& fields, Slot slot, Value& out);
  // An instruction's arguments: the fields, where data that ends right
  // before one of them leaves it and those after it absent (none), as
  // programs that added trailing arguments read older callers' data.
  // `missing`: how many are absent.
  bool arguments(const FieldsRef& fields, Slot slot, Value& out, std::uint32_t& missing);
  // One value of the type expression `node`.
  bool type(std::uint32_t node, Slot slot, Value& out);
  // The value of definition `index` itself (a struct's fields into `slot`).
  bool definition(std::uint32_t index, Slot slot, Value& out) { return defined(index, slot, out); }

  // The failure of the data, after a walk that failed without sink_failed().
  Error& error() noexcept { return *error_; }
  bool sink_failed() const noexcept { return sink_failed_; }

 private:
  bool sequence(std::uint32_t element, std::uint64_t count, Slot slot, Value& out);
  bool defined(std::uint32_t definition, Slot slot, Value& out);
  bool laid_out(std::uint32_t definition, Slot slot, Value& out);
  bool enumeration(const PlanDefinition& def, Slot slot, Value& out);
  // The compound kinds: one nesting level each.
  bool option_value(const PlanNode& node, Slot slot, Value& out);
  bool vec_value(const PlanNode& node, Slot slot, Value& out);
  bool array_value(const PlanNode& node, Slot slot, Value& out);
  bool defined_value(const PlanNode& node, Slot slot, Value& out);
  // Leaves, kept out of the recursive frames (a sink whose fixed-width
  // values are costly keeps them out too: the walk reads them in type()).
  [[gnu::noinline]] bool scalar(Kind kind, Slot slot, Value& out);
  [[gnu::noinline]] bool variable(Kind kind, Slot slot, Value& out);
  [[gnu::noinline]] bool opaque(std::uint32_t node, Slot slot, Value& out);

  template <Kind K, std::size_t N>
  bool fixed(Slot slot, Value& out) {
    const std::uint8_t* bytes = reader_.take(N);
    if (bytes == nullptr) [[unlikely]]
      return end_of_data(N);
    return sink_.template scalar<K>(slot, bytes, out) || sink_failure();
  }

  // The next u8 or u32 prefix, or -1 with the failure set. Out of line, so
  // that no read result takes room in the recursive frames.
  [[gnu::noinline]] int next_u8();
  [[gnu::noinline]] std::int64_t next_u32();

  bool may_descend() const noexcept {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    return depth_ < kMaxDepth && here - stack_floor_ > kStackReserve;
  }

  [[gnu::cold, gnu::noinline]] bool failure(Error error) {
    error_.emplace(std::move(error));
    return false;
  }
  [[gnu::cold, gnu::noinline]] bool end_of_data(std::uint64_t n) {
    return failure(read_failure(n, reader_.position(), reader_.length()));
  }
  [[gnu::cold, gnu::noinline]] bool sink_failure() {
    Error error;
    if (sink_.take_failure(error)) {
      error_.emplace(std::move(error));
    } else {
      sink_failed_ = true;
    }
    return false;
  }
  // Notes where a failure below happened; passes the failure on.
  [[gnu::cold, gnu::noinline]] bool at_field(const FieldsRef& fields, std::uint32_t i) {
    if (sink_failed_) return false;
    const PlanField& field = plan_.fields[fields.first + i];
    if (field.key != kNoIndex) {
      walk_failure::prepend(*error_, plan_.keys[field.key], false);
    } else {
      walk_failure::prepend(*error_, std::to_string(i), false);
    }
    return false;
  }
  [[gnu::cold, gnu::noinline]] bool at_element(std::uint64_t i) {
    if (!sink_failed_) walk_failure::prepend_index(*error_, i);
    return false;
  }

  const DecodePlan& plan_;
  Sink& sink_;
  BorshReader& reader_;
  std::optional<Error> error_;  // made only when the data fails
  std::uintptr_t stack_floor_ = stack_floor();
  unsigned depth_ = 0;
  std::uint64_t zero_width_ = 0;  // charged so far, never above kMaxZeroWidth
  bool sink_failed_ = false;
};

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::fields(const FieldsRef& fields, Slot slot, Value& out) {
  typename Sink::Record record;
  if (!sink_.begin_record(slot, fields, record)) [[unlikely]]
    return sink_failure();
  const PlanField* field = plan_.fields.data() + fields.first;
  for (std::uint32_t i = 0; i < fields.count; ++i) {
    Value value{};
    if (!type(field[i].type, sink_.field_slot(record, i), value)) [[unlikely]]
      return at_field(fields, i);
    if (!sink_.set_field(record, i, field[i], std::move(value))) [[unlikely]]
      return sink_failure();
  }
  return sink_.end_record(record, slot, out) || sink_failure();
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::arguments(const FieldsRef& fields, Slot slot, Value& out,
                                      std::uint32_t& missing) {
  missing = 0;
  typename Sink::Record record;
  if (!sink_.begin_record(slot, fields, record)) [[unlikely]]
    return sink_failure();
  const PlanField* field = plan_.fields.data() + fields.first;
  for (std::uint32_t i = 0; i < fields.count; ++i) {
    Value value{};
    if (missing > 0 || reader_.remaining() == 0) {
      ++missing;
      if (!sink_.none(sink_.field_slot(record, i), value)) [[unlikely]]
        return sink_failure();
    } else if (!type(field[i].type, sink_.field_slot(record, i), value)) [[unlikely]] {
      return at_field(fields, i);
    }
    if (!sink_.set_field(record, i, field[i], std::move(value))) [[unlikely]]
      return sink_failure();
  }
  return sink_.end_record(record, slot, out) || sink_failure();
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::type(std::uint32_t index, Slot slot, Value& out) {
  const PlanNode& node = plan_.nodes[index];
  switch (node.kind) {
    case Kind::Option:
      return option_value(node, slot, out);
    case Kind::Vec:
      if (sink_.opaque(slot)) [[unlikely]]
        return opaque(index, slot, out);
      return vec_value(node, slot, out);
    case Kind::Array:
      if (sink_.opaque(slot)) [[unlikely]]
        return opaque(index, slot, out);
      return array_value(node, slot, out);
    case Kind::Defined:
      if (sink_.opaque(slot)) [[unlikely]]
        return opaque(index, slot, out);
      return defined_value(node, slot, out);
    case Kind::Generic:
      return failure(walk_failure::generic_parameter());
    case Kind::Bool: {
      const std::uint8_t* b = reader_.take(1);
      if (b == nullptr) [[unlikely]]
        return end_of_data(1);
      return sink_.boolean(slot, *b != 0, out) || sink_failure();
    }
    case Kind::U8:
      return fixed<Kind::U8, 1>(slot, out);
    case Kind::I8:
      return fixed<Kind::I8, 1>(slot, out);
    case Kind::U16:
      return fixed<Kind::U16, 2>(slot, out);
    case Kind::I16:
      return fixed<Kind::I16, 2>(slot, out);
    case Kind::U32:
      return fixed<Kind::U32, 4>(slot, out);
    case Kind::I32:
      return fixed<Kind::I32, 4>(slot, out);
    case Kind::F32:
      return fixed<Kind::F32, 4>(slot, out);
    case Kind::U64:
      return fixed<Kind::U64, 8>(slot, out);
    case Kind::I64:
      return fixed<Kind::I64, 8>(slot, out);
    case Kind::F64:
      return fixed<Kind::F64, 8>(slot, out);
    default:
      return scalar(node.kind, slot, out);
  }
}

// The wider and variable-size leaves.
template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::scalar(Kind kind, Slot slot, Value& out) {
  switch (kind) {
    case Kind::U128:
    case Kind::I128: {
      const std::uint8_t* bytes = reader_.take(16);
      if (bytes == nullptr) [[unlikely]]
        return end_of_data(16);
      return sink_.wide(slot, kind, bytes, out) || sink_failure();
    }
    case Kind::U256:
    case Kind::I256: {
      const std::uint8_t* bytes = reader_.take(32);
      if (bytes == nullptr) [[unlikely]]
        return end_of_data(32);
      return sink_.wide(slot, kind, bytes, out) || sink_failure();
    }
    default:
      return variable(kind, slot, out);
  }
}

// bytes, string (a u32 length, then the bytes) and pubkey.
template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::variable(Kind kind, Slot slot, Value& out) {
  if (kind == Kind::Pubkey) {
    const std::uint8_t* key = reader_.take(32);
    if (key == nullptr) [[unlikely]]
      return end_of_data(32);
    return sink_.pubkey(slot, key, out) || sink_failure();
  }
  if (kind != Kind::Bytes && kind != Kind::String) [[unlikely]]
    return failure(walk_failure::generic_parameter());  // not reached: every kind is handled
  const std::int64_t size = next_u32();
  if (size < 0) [[unlikely]]
    return false;
  const std::uint8_t* bytes = reader_.take(static_cast<std::uint64_t>(size));
  if (bytes == nullptr) [[unlikely]]
    return end_of_data(static_cast<std::uint64_t>(size));
  const std::span<const std::uint8_t> data(bytes, static_cast<std::size_t>(size));
  if (kind == Kind::Bytes) return sink_.bytes(slot, data, out) || sink_failure();
  if (std::optional<std::string> detail = check_utf8(data)) [[unlikely]]
    return failure(walk_failure::invalid_utf8(*detail));
  return sink_.string(slot, data, out) || sink_failure();
}

template <class Sink, bool kZeroCopy>
int Walk<Sink, kZeroCopy>::next_u8() {
  const std::uint8_t* byte = reader_.take(1);
  if (byte == nullptr) [[unlikely]] {
    end_of_data(1);
    return -1;
  }
  return *byte;
}

template <class Sink, bool kZeroCopy>
std::int64_t Walk<Sink, kZeroCopy>::next_u32() {
  const std::uint8_t* bytes = reader_.take(4);
  if (bytes == nullptr) [[unlikely]] {
    end_of_data(4);
    return -1;
  }
  return load_le<std::uint32_t>(bytes);
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::option_value(const PlanNode& node, Slot slot, Value& out) {
  const int tag = next_u8();
  if (tag < 0) [[unlikely]]
    return false;
  if (tag == 0) return sink_.none(slot, out) || sink_failure();
  if (!may_descend()) [[unlikely]]
    return failure(walk_failure::too_deep(depth_));
  DepthLevel level(depth_);
  return type(node.child, slot, out);
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::vec_value(const PlanNode& node, Slot slot, Value& out) {
  const std::int64_t count = next_u32();
  if (count < 0) [[unlikely]]
    return false;
  if (!may_descend()) [[unlikely]]
    return failure(walk_failure::too_deep(depth_));
  DepthLevel level(depth_);
  return sequence(node.child, static_cast<std::uint64_t>(count), slot, out);
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::array_value(const PlanNode& node, Slot slot, Value& out) {
  if (node.generic_length) [[unlikely]]
    return failure(walk_failure::generic_length());
  if (!may_descend()) [[unlikely]]
    return failure(walk_failure::too_deep(depth_));
  DepthLevel level(depth_);
  return sequence(node.child, node.length, slot, out);
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::defined_value(const PlanNode& node, Slot slot, Value& out) {
  if (node.generic_args) [[unlikely]]
    return failure(walk_failure::generic_defined(plan_.texts[node.text]));
  if (!may_descend()) [[unlikely]]
    return failure(walk_failure::too_deep(depth_));
  DepthLevel level(depth_);
  if (node.child == kNoIndex) [[unlikely]]
    return failure(walk_failure::unknown_type(plan_.texts[node.text]));
  return defined(node.child, slot, out);
}

// Every element takes at least min_size bytes. When the count fits in the
// bytes that remain it is plausible: the sink may size its list up front, and
// no element can be zero-width. Otherwise the elements are read as long as
// the data holds them.
template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::sequence(std::uint32_t element, std::uint64_t count, Slot slot, Value& out) {
  const std::uint64_t min_size = plan_.nodes[element].min_size;
  const bool sized = min_size > 0 && count <= reader_.remaining() / min_size;
  typename Sink::List list;
  if (!sink_.begin_list(slot, count, sized, list)) [[unlikely]]
    return sink_failure();
  const Slot child = sink_.element_slot(list);
  if (sized) {
    for (std::uint64_t i = 0; i < count; ++i) {
      Value item{};
      if (!type(element, child, item)) [[unlikely]]
        return at_element(i);
      if (!sink_.add_element(list, i, std::move(item))) [[unlikely]]
        return sink_failure();
    }
  } else {
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t before = reader_.position();
      Value item{};
      if (!type(element, child, item)) [[unlikely]]
        return at_element(i);
      if (reader_.position() == before) [[unlikely]] {
        // This element and all count - i - 1 after it are built from no data.
        if (count - i > kMaxZeroWidth - zero_width_) return failure(walk_failure::too_many_zero_width());
        ++zero_width_;
      }
      if (!sink_.add_element(list, i, std::move(item))) [[unlikely]]
        return sink_failure();
    }
  }
  return sink_.end_list(list, slot, out) || sink_failure();
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::defined(std::uint32_t index, Slot slot, Value& out) {
  const PlanDefinition& def = plan_.definitions[index];
  switch (def.form) {
    case PlanDefinition::Form::Struct:
      if constexpr (kZeroCopy) return laid_out(index, slot, out);
      return fields(def.fields, slot, out);
    case PlanDefinition::Form::Enum:
      return enumeration(def, slot, out);
    case PlanDefinition::Form::Alias:
      break;
  }
  return type(def.alias, slot, out);
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::enumeration(const PlanDefinition& def, Slot slot, Value& out) {
  const int discriminant = next_u8();
  if (discriminant < 0) [[unlikely]]
    return false;
  const auto index = static_cast<std::uint32_t>(discriminant);
  if (index >= def.variant_count) [[unlikely]]
    return failure(walk_failure::bad_discriminant(index));
  const PlanVariant& variant = plan_.variants[def.first_variant + index];
  if (variant.fields.form == FieldsRef::Form::Absent) {
    return sink_.unit_variant(slot, index, variant, out) || sink_failure();
  }
  Value fields_value{};
  if (!fields(variant.fields, sink_.variant_slot(slot, index), fields_value)) [[unlikely]] {
    if (!sink_failed_) walk_failure::prepend(*error_, plan_.keys[variant.key], false);
    return false;
  }
  return sink_.variant(slot, index, variant, std::move(fields_value), out) || sink_failure();
}

template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::laid_out(std::uint32_t index, Slot slot, Value& out) {
  const PlanDefinition& def = plan_.definitions[index];
  const DecodePlan::MemoryLayout& layout = plan_.layouts[index];
  const std::uint64_t base = reader_.position();
  typename Sink::Record record;
  if (!sink_.begin_record(slot, def.fields, record)) [[unlikely]]
    return sink_failure();
  const PlanField* field = plan_.fields.data() + def.fields.first;
  for (std::uint32_t i = 0; i < def.fields.count; ++i) {
    if (!reader_.seek(base + plan_.offsets[layout.first_offset + i])) [[unlikely]]
      return end_of_data(base + plan_.offsets[layout.first_offset + i] - reader_.position());
    Value value{};
    if (!type(field[i].type, sink_.field_slot(record, i), value)) [[unlikely]]
      return at_field(def.fields, i);
    if (!sink_.set_field(record, i, field[i], std::move(value))) [[unlikely]]
      return sink_failure();
  }
  if (!reader_.seek(base + layout.size)) [[unlikely]]
    return end_of_data(base + layout.size - reader_.position());
  return sink_.end_record(record, slot, out) || sink_failure();
}

// A value wanted as its bytes: read (and checked) without storing, then the
// bytes it took are given.
template <class Sink, bool kZeroCopy>
bool Walk<Sink, kZeroCopy>::opaque(std::uint32_t node, Slot slot, Value& out) {
  const std::uint64_t start = reader_.position();
  Value ignored{};
  if (!type(node, Sink::kSkip, ignored)) return false;
  const std::span<const std::uint8_t> bytes(reader_.data() + start,
                                            static_cast<std::size_t>(reader_.position() - start));
  return sink_.raw(slot, bytes, out) || sink_failure();
}

}  // namespace varkel::decode
