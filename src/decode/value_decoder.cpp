// Borsh bytes of one event into Python values, directed by the IDL types
// through their decode plan (decode/plan.h).
//
// One pass over the data: every value is built as soon as its bytes are read
// and handed to its container, which takes over the reference. A failure ends
// the decode; the py::PyRef handles release whatever was built on the way out.
//
// Dict keys (field names, and the variant name of an enum value with fields)
// are the decoder's shared key objects (decode/key_table.h), not a new str
// per key: equal as before, and identical across values. A unit variant's
// value is still a new str.
//
// Lists are made at their final size when it is known to be plausible: tuple
// fields (their count is the IDL's), and a vec or array whose count fits in
// the bytes that remain at the plan's minimal size of its element. Other
// sequences (elements that may take no bytes, counts the data cannot hold)
// start empty and grow by appending, so that a count read from the data
// never reserves more than the data pays for.
//
// Two bounds keep hostile or looping input from exhausting the machine:
// - Nesting depth: every compound type expression (an option that is present,
//   a vec, an array, a defined reference) entered on the way down counts one
//   level; more than kMaxDepth levels, or a frame within kStackReserve bytes
//   of the end of the thread's stack, fail the event. This stops types that
//   reach themselves without consuming a byte (an alias of itself, a struct
//   whose first field is the struct) before they exhaust the C stack, also on
//   threads started with a small stack.
// - Zero-width elements: a vec or array element that consumes no bytes costs
//   objects but no data, so a count read from the data could ask for billions
//   of them. Such an element is decoded from no input at all, so every later
//   element of the same sequence is an equal value built from no input too.
//   So when an element turns out to be zero-width, the rest of the sequence
//   must fit, all at once, in what is left of a budget of kMaxZeroWidth
//   elements per event, or the event fails before building any of them.
//   Elements that consume bytes are bounded by the data and are not counted.
#include "decode/value_decoder.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "decode/base58.h"
#include "decode/limits.h"
#include "decode/utf8.h"
#include "decode/wide_int.h"

namespace varkel::decode {

namespace {

// The failures return the result type itself, so that they are built in the
// caller's return slot and cost the recursive frames no temporaries.
using Failure = DecodeResult;

[[gnu::cold, gnu::noinline]] Failure failure(std::string message) {
  return Failure(std::unexpect, DecodeError{std::move(message), false});
}

// The interpreter refused to create an object: not a decode error, the whole
// call is aborted. The exception is taken (nothing stays pending) and its text
// travels in the error.
[[gnu::cold, gnu::noinline]] Failure creation_failure() {
  DecodeError error = error_from_python();
  error.internal = true;
  return Failure(std::unexpect, std::move(error));
}

// An append or item assignment failed in the runtime: a decode error.
[[gnu::cold, gnu::noinline]] Failure runtime_failure() {
  return Failure(std::unexpect, error_from_python());
}

[[gnu::cold, gnu::noinline]] Failure pass_on(DecodeError& error) {
  return Failure(std::unexpect, std::move(error));
}

[[gnu::cold, gnu::noinline]] Failure too_many_zero_width() {
  return failure("more than " + std::to_string(kMaxZeroWidth) + " zero-width elements");
}

[[gnu::cold, gnu::noinline]] Failure generic_parameter() {
  return failure("generic type parameter is not supported");
}

[[gnu::cold, gnu::noinline]] Failure generic_length() {
  return failure("generic array length is not supported");
}

[[gnu::cold, gnu::noinline]] Failure unknown_type(const std::string& name) {
  return failure("unknown defined type '" + name + "'");
}

[[gnu::cold, gnu::noinline]] Failure generic_defined(const std::string& name) {
  return failure("generic defined type '" + name + "' is not supported");
}

[[gnu::cold, gnu::noinline]] Failure bad_discriminant(unsigned discriminant) {
  return failure("enum discriminant " + std::to_string(discriminant) + " out of range");
}

[[gnu::cold, gnu::noinline]] Failure invalid_utf8(const std::string& detail) {
  return failure("invalid utf-8: " + detail);
}

// Takes over a new reference returned by an object constructor.
inline DecodeResult adopt(PyObject* obj) {
  if (obj == nullptr) [[unlikely]]
    return creation_failure();
  return py::PyRef::steal(obj);
}

inline DecodeResult new_str(std::string_view text) {
  return adopt(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

class Decoder {
 public:
  Decoder(const DecodePlan& plan, const KeyTable& keys, BorshReader& reader) noexcept
      : plan_(plan), keys_(keys), reader_(reader) {}

  DecodeResult fields(const FieldsRef& fields);
  DecodeResult type(std::uint32_t node);

 private:
  DecodeResult named(const FieldsRef& fields);
  DecodeResult tuple(const FieldsRef& fields);
  DecodeResult defined(std::uint32_t definition);
  DecodeResult enumeration(const PlanDefinition& body);
  DecodeResult sequence(std::uint32_t element, std::uint64_t count);
  DecodeResult sized_sequence(std::uint32_t element, std::uint64_t count);
  [[gnu::noinline]] DecodeResult scalar(Kind kind);
  // The compound kinds: one nesting level each.
  DecodeResult option_value(const PlanNode& node);
  DecodeResult vec_value(const PlanNode& node);
  DecodeResult array_value(const PlanNode& node);
  DecodeResult defined_value(const PlanNode& node);
  // Leaves with larger locals, kept out of the recursive frame.
  [[gnu::noinline]] DecodeResult bytes_value();
  [[gnu::noinline]] DecodeResult string_value();
  [[gnu::noinline]] DecodeResult pubkey_value();
  [[gnu::noinline]] DecodeResult int128_value(bool is_signed);
  [[gnu::noinline]] DecodeResult int256_value(bool is_signed);

  // Reads of the prefixes on the recursive path: the next u8 or u32, or -1
  // with the failure kept in `error_`. Out of line, so that the reader's
  // result type takes no room in the recursive frames.
  [[gnu::noinline]] int next_u8();
  [[gnu::noinline]] std::int64_t next_u32();

  // Whether one more nesting level fits: under kMaxDepth levels, and at least
  // kStackReserve bytes of the thread's stack left below this frame.
  bool may_descend() const noexcept {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    return depth_ < kMaxDepth && here - stack_floor_ > kStackReserve;
  }
  [[gnu::cold, gnu::noinline]] Failure too_deep() const;

  const DecodePlan& plan_;
  const KeyTable& keys_;
  BorshReader& reader_;
  DecodeError error_;
  std::uintptr_t stack_floor_ = stack_floor();
  unsigned depth_ = 0;
  std::uint64_t zero_width_ = 0;  // charged so far, never above kMaxZeroWidth
};

DecodeResult Decoder::fields(const FieldsRef& fields) {
  switch (fields.form) {
    case FieldsRef::Form::Named:
      return named(fields);
    case FieldsRef::Form::Tuple:
      return tuple(fields);
    case FieldsRef::Form::Absent:
      break;
  }
  return adopt(PyDict_New());
}

DecodeResult Decoder::named(const FieldsRef& fields) {
  DecodeResult dict = adopt(PyDict_New());
  if (!dict) [[unlikely]]
    return dict;
  const PlanField* field = plan_.fields.data() + fields.first;
  for (const PlanField* end = field + fields.count; field != end; ++field) {
    DecodeResult value = type(field->type);
    if (!value) [[unlikely]]
      return value;
    // A repeated name keeps the position of its first insertion and the value
    // of the last.
    if (PyDict_SetItem(dict->get(), keys_[field->key], value->get()) < 0) [[unlikely]]
      return runtime_failure();
  }
  return dict;
}

// The list is made at its final size: the count comes from the IDL.
DecodeResult Decoder::tuple(const FieldsRef& fields) {
  DecodeResult list = adopt(PyList_New(static_cast<Py_ssize_t>(fields.count)));
  if (!list) [[unlikely]]
    return list;
  const PlanField* first = plan_.fields.data() + fields.first;
  for (std::uint32_t i = 0; i < fields.count; ++i) {
    DecodeResult value = type(first[i].type);
    if (!value) [[unlikely]]
      return value;
    PyList_SET_ITEM(list->get(), static_cast<Py_ssize_t>(i), value->release());  // steals the value
  }
  return list;
}

DecodeResult Decoder::type(std::uint32_t index) {
  const PlanNode& node = plan_.nodes[index];
  switch (node.kind) {
    case Kind::Option:
      return option_value(node);
    case Kind::Vec:
      return vec_value(node);
    case Kind::Array:
      return array_value(node);
    case Kind::Defined:
      return defined_value(node);
    case Kind::Generic:
      return generic_parameter();
    default:
      return scalar(node.kind);
  }
}

// One case per kind, each read inlined. (A table of {kind, size, maker} rows
// reads as well but measured about 0.4% more instructions per line on the
// benchmark block: the maker becomes an indirect call.)
DecodeResult Decoder::scalar(Kind kind) {
  switch (kind) {
    case Kind::Bool: {
      auto b = reader_.read_u8();
      if (!b) [[unlikely]]
        return pass_on(b.error());
      return py::PyRef::borrow(*b != 0 ? Py_True : Py_False);
    }
    case Kind::U8: {
      auto v = reader_.read_u8();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromLong(static_cast<long>(*v)));
    }
    case Kind::I8: {
      auto v = reader_.read_u8();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromLong(static_cast<long>(std::bit_cast<std::int8_t>(*v))));
    }
    case Kind::U16: {
      auto v = reader_.read_u16();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromLong(static_cast<long>(*v)));
    }
    case Kind::I16: {
      auto v = reader_.read_u16();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromLong(static_cast<long>(std::bit_cast<std::int16_t>(*v))));
    }
    case Kind::U32: {
      auto v = reader_.read_u32();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromLongLong(static_cast<long long>(*v)));
    }
    case Kind::I32: {
      auto v = reader_.read_u32();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromLong(static_cast<long>(std::bit_cast<std::int32_t>(*v))));
    }
    case Kind::F32: {
      auto v = reader_.read_u32();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      // Widening binary32 to binary64 is exact; NaN and infinities stay so.
      return adopt(PyFloat_FromDouble(static_cast<double>(std::bit_cast<float>(*v))));
    }
    case Kind::U64: {
      auto v = reader_.read_u64();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(*v)));
    }
    case Kind::I64: {
      auto v = reader_.read_u64();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyLong_FromLongLong(static_cast<long long>(std::bit_cast<std::int64_t>(*v))));
    }
    case Kind::F64: {
      auto v = reader_.read_u64();
      if (!v) [[unlikely]]
        return pass_on(v.error());
      return adopt(PyFloat_FromDouble(std::bit_cast<double>(*v)));
    }
    case Kind::U128:
      return int128_value(false);
    case Kind::I128:
      return int128_value(true);
    case Kind::U256:
      return int256_value(false);
    case Kind::I256:
      return int256_value(true);
    case Kind::Bytes:
      return bytes_value();
    case Kind::String:
      return string_value();
    case Kind::Pubkey:
      return pubkey_value();
    default:  // not reached: the compound kinds are handled by type()
      return generic_parameter();
  }
}

Failure Decoder::too_deep() const {
  if (depth_ >= kMaxDepth) return failure("type nesting exceeds " + std::to_string(kMaxDepth) + " levels");
  return failure("type nesting exceeds the thread's stack at " + std::to_string(depth_) + " levels");
}

int Decoder::next_u8() {
  auto value = reader_.read_u8();
  if (!value) [[unlikely]] {
    error_ = std::move(value.error());
    return -1;
  }
  return *value;
}

std::int64_t Decoder::next_u32() {
  auto value = reader_.read_u32();
  if (!value) [[unlikely]] {
    error_ = std::move(value.error());
    return -1;
  }
  return *value;
}

DecodeResult Decoder::option_value(const PlanNode& node) {
  const int tag = next_u8();
  if (tag < 0) [[unlikely]]
    return pass_on(error_);
  if (tag == 0) return py::PyRef::borrow(Py_None);
  if (!may_descend()) [[unlikely]]
    return too_deep();
  DepthLevel level(depth_);
  return type(node.child);
}

DecodeResult Decoder::vec_value(const PlanNode& node) {
  const std::int64_t count = next_u32();
  if (count < 0) [[unlikely]]
    return pass_on(error_);
  if (!may_descend()) [[unlikely]]
    return too_deep();
  DepthLevel level(depth_);
  return sequence(node.child, static_cast<std::uint64_t>(count));
}

DecodeResult Decoder::array_value(const PlanNode& node) {
  if (node.generic_length) [[unlikely]]
    return generic_length();
  if (!may_descend()) [[unlikely]]
    return too_deep();
  DepthLevel level(depth_);
  return sequence(node.child, node.length);
}

DecodeResult Decoder::defined_value(const PlanNode& node) {
  if (node.generic_args) [[unlikely]]
    return generic_defined(plan_.texts[node.text]);
  if (!may_descend()) [[unlikely]]
    return too_deep();
  DepthLevel level(depth_);
  if (node.child == kNone) [[unlikely]]
    return unknown_type(plan_.texts[node.text]);
  return defined(node.child);
}

DecodeResult Decoder::sequence(std::uint32_t element, std::uint64_t count) {
  // Every element takes at least min_size bytes. When the count fits in the
  // bytes that remain, the list is made at its final size; otherwise (the
  // data cannot hold that many, or elements may take no bytes) it starts
  // empty and grows with the elements that the data really holds.
  const std::uint64_t min_size = plan_.nodes[element].min_size;
  if (min_size > 0 && count <= (reader_.length() - reader_.position()) / min_size) {
    return sized_sequence(element, count);
  }
  DecodeResult list = adopt(PyList_New(0));
  if (!list) [[unlikely]]
    return list;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t before = reader_.position();
    DecodeResult item = type(element);
    if (!item) [[unlikely]]
      return item;
    if (reader_.position() == before) [[unlikely]] {
      // This element and all count - i - 1 after it are built from no data.
      if (count - i > kMaxZeroWidth - zero_width_) return too_many_zero_width();
      ++zero_width_;
    }
    if (PyList_Append(list->get(), item->get()) < 0) [[unlikely]]
      return runtime_failure();
  }
  return list;
}

// A list of `count` slots, each filled as its element is decoded. On a
// failure the list is released with the elements it holds (empty slots are
// null, which the list's release skips); it is never seen half filled.
DecodeResult Decoder::sized_sequence(std::uint32_t element, std::uint64_t count) {
  DecodeResult list = adopt(PyList_New(static_cast<Py_ssize_t>(count)));
  if (!list) [[unlikely]]
    return list;
  for (Py_ssize_t i = 0, n = static_cast<Py_ssize_t>(count); i < n; ++i) {
    DecodeResult item = type(element);
    if (!item) [[unlikely]]
      return item;
    PyList_SET_ITEM(list->get(), i, item->release());  // steals the item
  }
  return list;
}

DecodeResult Decoder::defined(std::uint32_t index) {
  // Serialization and representation do not matter: every body is Borsh.
  const PlanDefinition& def = plan_.definitions[index];
  switch (def.form) {
    case PlanDefinition::Form::Struct:
      return fields(def.fields);
    case PlanDefinition::Form::Enum:
      return enumeration(def);
    case PlanDefinition::Form::Alias:
      break;
  }
  return type(def.alias);
}

DecodeResult Decoder::enumeration(const PlanDefinition& body) {
  const int discriminant = next_u8();
  if (discriminant < 0) [[unlikely]]
    return pass_on(error_);
  if (static_cast<std::uint32_t>(discriminant) >= body.variant_count) [[unlikely]] {
    return bad_discriminant(static_cast<unsigned>(discriminant));
  }
  const PlanVariant& variant = plan_.variants[body.first_variant + static_cast<std::uint32_t>(discriminant)];
  if (variant.fields.form == FieldsRef::Form::Absent) return new_str(plan_.keys[variant.key]);
  DecodeResult value = fields(variant.fields);
  if (!value) [[unlikely]]
    return value;
  DecodeResult dict = adopt(PyDict_New());
  if (!dict) [[unlikely]]
    return dict;
  if (PyDict_SetItem(dict->get(), keys_[variant.key], value->get()) < 0) [[unlikely]]
    return runtime_failure();
  return dict;
}

DecodeResult Decoder::bytes_value() {
  auto length = reader_.read_u32();
  if (!length) [[unlikely]]
    return pass_on(length.error());
  auto bytes = reader_.read_bytes(*length);
  if (!bytes) [[unlikely]]
    return pass_on(bytes.error());
  return adopt(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes->data()),
                                         static_cast<Py_ssize_t>(bytes->size())));
}

DecodeResult Decoder::string_value() {
  auto length = reader_.read_u32();
  if (!length) [[unlikely]]
    return pass_on(length.error());
  auto bytes = reader_.read_bytes(*length);
  if (!bytes) [[unlikely]]
    return pass_on(bytes.error());
  if (std::optional<std::string> detail = check_utf8(*bytes)) [[unlikely]] {
    return invalid_utf8(*detail);
  }
  return adopt(PyUnicode_FromStringAndSize(reinterpret_cast<const char*>(bytes->data()),
                                           static_cast<Py_ssize_t>(bytes->size())));
}

DecodeResult Decoder::pubkey_value() {
  auto key = reader_.read_array32();
  if (!key) [[unlikely]]
    return pass_on(key.error());
  char text[kKeyTextMax];
  return new_str(std::string_view(text, base58_encode_key(key->data(), text)));
}

DecodeResult Decoder::int128_value(bool is_signed) {
  auto bytes = reader_.read_array16();
  if (!bytes) [[unlikely]]
    return pass_on(bytes.error());
  return make_int128(*bytes, is_signed);
}

DecodeResult Decoder::int256_value(bool is_signed) {
  auto bytes = reader_.read_array32();
  if (!bytes) [[unlikely]]
    return pass_on(bytes.error());
  return make_int256(*bytes, is_signed);
}

}  // namespace

DecodeResult decode_fields(const DecodePlan& plan, const KeyTable& keys, BorshReader& reader,
                           const FieldsRef& fields) {
  return Decoder(plan, keys, reader).fields(fields);
}

}  // namespace varkel::decode
