// Reading parsed JSON values into records: the machinery shared by the IDL
// readers of both document formats.
//
// A record is a table of fields (JSON key, presence, reader storing into the
// record); one routine reads every record, in its object form or its
// positional array form. The three enumeration forms are three routines
// driven by tables of variants:
//   read_named     a variant name as a string, or a single-key object whose
//                  value is the payload ({"option": T});
//   read_tagged    an object whose `kind` key names the variant and whose other
//                  keys are the variant's fields, or [tag, field...];
//   read_untagged  alternatives tried in order, the first that reads wins.
// Every failure message is built in schema.cpp, one function per template.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "json/json.h"

namespace varkel::idl::schema {

using Status = Result<void>;

// Where a value is read. `tagged` holds everywhere below a value read by
// read_tagged or read_untagged. There, and only there: a positional array that
// runs long reports "... elements in sequence", a struct payload of a named
// variant may be a positional array, and a `kind` tag may be an integer
// variant index.
struct Ctx {
  bool tagged = false;
};

template <class T>
using Reader = Status (*)(const json::Value&, Ctx, T&);

// ---------------------------------------------------------------- messages

namespace msg {

std::string missing_field(std::string_view name);
std::string invalid_type(std::string_view found, std::string_view expected);
std::string invalid_value(std::string_view found, std::string_view expected);
std::string invalid_length(std::size_t n, std::string_view expected);
std::string unknown_variant(std::string_view name, std::span<const std::string_view> choices);
std::string untagged(std::string_view enum_name);

// "{expecting} with {count} elements", "{expecting} with 1 element".
std::string with_elements(std::string_view expecting, std::size_t count);
// "variant index 0 <= i < {count}".
std::string variant_index(std::size_t count);
// An array of `total` elements where `count` were wanted.
std::string too_many_elements(std::size_t total, std::size_t count, Ctx ctx);
// "invalid type: {found}, expected {expected}" naming `value`.
std::string type_error(const json::Value& value, std::string_view expected);

}  // namespace msg

// ---------------------------------------------------------------- scalars

Status read_string(const json::Value& v, Ctx ctx, std::string& out);
Status read_bool(const json::Value& v, Ctx ctx, bool& out);
Status read_u8(const json::Value& v, Ctx ctx, std::uint8_t& out);
Status read_u32(const json::Value& v, Ctx ctx, std::uint32_t& out);
Status read_usize(const json::Value& v, Ctx ctx, std::uint64_t& out);
// Any JSON value, null included, kept as it is.
Status read_any(const json::Value& v, Ctx ctx, json::Value& out);

template <class F>
struct reader_target;
template <class T>
struct reader_target<Status (*)(const json::Value&, Ctx, T&)> {
  using type = T;
};
template <auto Read>
using target_of = typename reader_target<decltype(Read)>::type;

// A JSON array, each element read by Elem.
template <auto Elem>
Status read_list(const json::Value& v, Ctx ctx, std::vector<target_of<Elem>>& out) {
  if (!v.is_array()) return fail(msg::type_error(v, "a sequence"));
  const json::Array& items = v.as_array();
  out.clear();
  out.reserve(items.size());
  for (const json::Value& item : items) {
    if (Status st = Elem(item, ctx, out.emplace_back()); !st) return st;
  }
  return {};
}

// null (absent) or what Read reads.
template <auto Read>
Status read_optional(const json::Value& v, Ctx ctx, std::optional<target_of<Read>>& out) {
  if (v.is_null()) {
    out.reset();
    return {};
  }
  return Read(v, ctx, out.emplace());
}

// ---------------------------------------------------------------- records

enum class Presence : std::uint8_t {
  Required,   // missing: "missing field `{key}`"; null goes to the reader
  Optional,   // missing or null: absent (the member stays std::nullopt)
  Defaulted,  // missing: the member keeps its default; null goes to the reader
};

template <class R>
struct Field {
  std::string_view key;
  Presence presence;
  // A positional array that ends before this field leaves it at its default
  // instead of failing.
  bool positional_default;
  Reader<R> read;  // reads the value into this field's member of R
};

template <class R>
struct Record {
  std::string_view expecting;  // "struct IdlField", "struct variant IdlTypeDefTy::Enum"
  std::span<const Field<R>> fields;
};

template <class M>
struct member_of;
template <class C, class T>
struct member_of<T C::*> {
  using owner = C;
  using type = T;
};
template <auto M>
using owner_of = typename member_of<decltype(M)>::owner;

namespace detail {

template <auto M, auto Read>
Status store(const json::Value& v, Ctx ctx, owner_of<M>& out) {
  return Read(v, ctx, out.*M);
}

template <auto M, auto Read>
Status store_present(const json::Value& v, Ctx ctx, owner_of<M>& out) {
  return Read(v, ctx, (out.*M).emplace());
}

}  // namespace detail

// Field builders. `M` is the member, `Read` the reader of its type (for an
// optional field: of the type inside the std::optional).
template <auto M, auto Read>
constexpr Field<owner_of<M>> required_field(std::string_view key) {
  return {key, Presence::Required, false, &detail::store<M, Read>};
}

template <auto M, auto Read>
constexpr Field<owner_of<M>> defaulted_field(std::string_view key, bool positional_default = true) {
  return {key, Presence::Defaulted, positional_default, &detail::store<M, Read>};
}

template <auto M, auto Read>
constexpr Field<owner_of<M>> optional_field(std::string_view key, bool positional_default = false) {
  return {key, Presence::Optional, positional_default, &detail::store_present<M, Read>};
}

// Object form: keys in stored (ascending byte) order, unknown keys skipped
// unread, missing fields settled afterwards in field order. `out` is freshly
// default-constructed.
template <class R>
Status read_record_object(const json::Object& object, Ctx ctx, const Record<R>& rec, R& out) {
  // Records have at most 64 fields (the widest has 10).
  std::uint64_t seen = 0;
  for (const auto& [key, value] : object) {
    for (std::size_t i = 0; i < rec.fields.size(); ++i) {
      const Field<R>& field = rec.fields[i];
      if (field.key != key) continue;
      seen |= std::uint64_t{1} << i;
      if (field.presence == Presence::Optional && value.is_null()) break;
      if (Status st = field.read(value, ctx, out); !st) return st;
      break;
    }
  }
  for (std::size_t i = 0; i < rec.fields.size(); ++i) {
    const Field<R>& field = rec.fields[i];
    if (field.presence == Presence::Required && (seen & (std::uint64_t{1} << i)) == 0) {
      return fail(msg::missing_field(field.key));
    }
  }
  return {};
}

// Positional form: the field values in field order.
template <class R>
Status read_record_elements(std::span<const json::Value> items, Ctx ctx, const Record<R>& rec, R& out) {
  const std::size_t count = rec.fields.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Field<R>& field = rec.fields[i];
    if (i >= items.size()) {
      if (field.positional_default) continue;
      return fail(msg::invalid_length(i, msg::with_elements(rec.expecting, count)));
    }
    const json::Value& value = items[i];
    if (field.presence == Presence::Optional && value.is_null()) continue;
    if (Status st = field.read(value, ctx, out); !st) return st;
  }
  if (items.size() > count) return fail(msg::too_many_elements(items.size(), count, ctx));
  return {};
}

template <class R>
Status read_record(const json::Value& v, Ctx ctx, const Record<R>& rec, R& out) {
  if (v.is_object()) return read_record_object(v.as_object(), ctx, rec, out);
  if (v.is_array()) return read_record_elements(std::span<const json::Value>(v.as_array()), ctx, rec, out);
  return fail(msg::type_error(v, rec.expecting));
}

// ------------------------------------------- A: name or single-key object

enum class Payload : std::uint8_t {
  Unit,     // none: a bare string, or a single-key object whose value is null
  Newtype,  // one value, read by `read`
  Tuple,    // an array of `arity` elements, read by `read_elements`
  Struct,   // an object (or, below a tagged value, an array), read by `read`
};

template <class E>
struct NamedVariant {
  std::string_view name;
  Payload payload;
  // Unit: stores the variant (the value is null); Newtype and Struct: reads
  // the payload into `out`.
  Reader<E> read = nullptr;
  // Tuple: reads the elements present, at most `arity` of them; the length is
  // checked afterwards by read_named.
  Status (*read_elements)(std::span<const json::Value>, Ctx, E&) = nullptr;
  std::size_t arity = 0;
  std::string_view expecting = {};  // Tuple: "tuple variant IdlType::Array"
};

template <class E>
struct NamedEnum {
  std::span<const NamedVariant<E>> variants;
};

namespace detail {

// The variant name and payload of a name-or-single-key value; `payload` is
// null for a bare string.
struct NamedValue {
  std::string_view name;
  const json::Value* payload;
};
Result<NamedValue> split_named(const json::Value& v);

// Checks the payload's shape for the variant's kind (the length of a tuple
// excepted); `payload` null for a bare string.
Status check_named_payload(Payload kind, const json::Value* payload, Ctx ctx);

// The length check of a tuple payload of `n` elements. An empty payload is
// taken for a unit value in every context ("invalid type: null, expected
// {expecting}"); a short one reports its length.
Status check_tuple_length(std::size_t n, std::size_t arity, std::string_view expecting, Ctx ctx);

const json::Value& null_value();

template <class V>
std::vector<std::string_view> names_of(std::span<const V> variants) {
  std::vector<std::string_view> names;
  names.reserve(variants.size());
  for (const V& variant : variants) names.push_back(variant.name);
  return names;
}

}  // namespace detail

template <class E>
Status read_named(const json::Value& v, Ctx ctx, const NamedEnum<E>& e, E& out) {
  Result<detail::NamedValue> named = detail::split_named(v);
  if (!named) return fail(std::move(named.error()));
  const NamedVariant<E>* variant = nullptr;
  for (const NamedVariant<E>& candidate : e.variants) {
    if (candidate.name == named->name) {
      variant = &candidate;
      break;
    }
  }
  if (variant == nullptr) {
    return fail(msg::unknown_variant(named->name, detail::names_of(e.variants)));
  }
  const json::Value* payload = named->payload;
  if (Status st = detail::check_named_payload(variant->payload, payload, ctx); !st) return st;
  switch (variant->payload) {
    case Payload::Unit:
      return variant->read(detail::null_value(), ctx, out);
    case Payload::Newtype:
    case Payload::Struct:
      return variant->read(*payload, ctx, out);
    case Payload::Tuple: {
      std::span<const json::Value> items(payload->as_array());
      if (Status st = variant->read_elements(items.first(std::min(items.size(), variant->arity)), ctx, out);
          !st) {
        return st;
      }
      return detail::check_tuple_length(items.size(), variant->arity, variant->expecting, ctx);
    }
  }
  return {};
}

// ------------------------------------------------ B: `kind`-tagged object

// Where a tagged variant finds its fields: the tagged object itself (its
// `kind` key is then one more unknown key), or the array elements after the
// tag.
struct TaggedBody {
  const json::Object* object = nullptr;
  std::span<const json::Value> elements;
};

template <class R>
Status read_record_body(const TaggedBody& body, Ctx ctx, const Record<R>& rec, R& out) {
  if (body.object != nullptr) return read_record_object(*body.object, ctx, rec, out);
  return read_record_elements(body.elements, ctx, rec, out);
}

template <class E>
struct TaggedVariant {
  std::string_view name;  // the tag
  Status (*read)(const TaggedBody&, Ctx, E&);
};

template <class E>
struct TaggedEnum {
  std::string_view name;  // "IdlSeed"
  std::span<const TaggedVariant<E>> variants;
};

// Variant readers for the common shapes: alternative I of `E::value` is the
// record read by Rec; alternative I carries nothing (other keys ignored).
template <class E, std::size_t I, const auto& Rec>
Status tagged_record(const TaggedBody& body, Ctx ctx, E& out) {
  return read_record_body(body, ctx, Rec, out.value.template emplace<I>());
}

template <class E, std::size_t I>
Status tagged_unit(const TaggedBody&, Ctx, E& out) {
  out.value.template emplace<I>();
  return {};
}

namespace detail {

// Finds the tag of a tagged value: the body and the tag value, or the
// failure for a value that is neither object nor array, or lacks `kind`.
struct TaggedValue {
  const json::Value* tag;
  TaggedBody body;
};
Result<TaggedValue> split_tagged(const json::Value& v, std::string_view enum_name);

// The variant index of `tag` among `names`.
Result<std::size_t> tag_index(const json::Value& tag, Ctx ctx, std::span<const std::string_view> names);

}  // namespace detail

template <class E>
Status read_tagged(const json::Value& v, Ctx ctx, const TaggedEnum<E>& e, E& out) {
  Result<detail::TaggedValue> tagged = detail::split_tagged(v, e.name);
  if (!tagged) return fail(std::move(tagged.error()));
  const json::Value& tag = *tagged->tag;
  std::size_t index = e.variants.size();
  if (tag.is_string()) {
    for (std::size_t i = 0; i < e.variants.size(); ++i) {
      if (e.variants[i].name == tag.as_string()) {
        index = i;
        break;
      }
    }
  }
  if (index == e.variants.size()) {
    Result<std::size_t> found = detail::tag_index(tag, ctx, detail::names_of(e.variants));
    if (!found) return fail(std::move(found.error()));
    index = *found;
  }
  return e.variants[index].read(tagged->body, Ctx{.tagged = true}, out);
}

// ------------------------------------------- C: alternatives tried in order

template <class T>
struct Untagged {
  std::string_view name;  // "IdlDefinedFields"
  std::span<const Reader<T>> alternatives;
};

template <class T>
Status read_untagged(const json::Value& v, Ctx, const Untagged<T>& u, T& out) {
  for (Reader<T> alternative : u.alternatives) {
    T candidate{};
    if (alternative(v, Ctx{.tagged = true}, candidate)) {
      out = std::move(candidate);
      return {};
    }
  }
  return fail(msg::untagged(u.name));
}

}  // namespace varkel::idl::schema
