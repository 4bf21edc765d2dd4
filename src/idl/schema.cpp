#include "idl/schema.h"

#include <limits>

namespace varkel::idl::schema {

namespace msg {

std::string missing_field(std::string_view name) {
  std::string text = "missing field `";
  text += name;
  text += '`';
  return text;
}

namespace {

// "{what}: {found}, expected {expected}"
std::string found_expected(std::string_view what, std::string_view found, std::string_view expected) {
  std::string text(what);
  text += ": ";
  text += found;
  text += ", expected ";
  text += expected;
  return text;
}

}  // namespace

std::string invalid_type(std::string_view found, std::string_view expected) {
  return found_expected("invalid type", found, expected);
}

std::string invalid_value(std::string_view found, std::string_view expected) {
  return found_expected("invalid value", found, expected);
}

std::string invalid_length(std::size_t n, std::string_view expected) {
  std::string text = "invalid length ";
  text += std::to_string(n);
  text += ", expected ";
  text += expected;
  return text;
}

std::string unknown_variant(std::string_view name, std::span<const std::string_view> choices) {
  std::string text = "unknown variant `";
  text += name;
  text += "`, expected ";
  auto quoted = [&text](std::string_view choice) {
    text += '`';
    text += choice;
    text += '`';
  };
  if (choices.size() == 2) {
    quoted(choices[0]);
    text += " or ";
    quoted(choices[1]);
  } else if (choices.size() == 1) {
    quoted(choices[0]);
  } else {
    text += "one of ";
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (i != 0) text += ", ";
      quoted(choices[i]);
    }
  }
  return text;
}

std::string untagged(std::string_view enum_name) {
  std::string text = "data did not match any variant of untagged enum ";
  text += enum_name;
  return text;
}

std::string with_elements(std::string_view expecting, std::size_t count) {
  std::string text(expecting);
  text += " with ";
  text += std::to_string(count);
  text += count == 1 ? " element" : " elements";
  return text;
}

std::string variant_index(std::size_t count) {
  return "variant index 0 <= i < " + std::to_string(count);
}

std::string too_many_elements(std::size_t total, std::size_t count, Ctx ctx) {
  if (!ctx.tagged) return invalid_length(total, "fewer elements in array");
  std::string expected = std::to_string(count);
  expected += count == 1 ? " element in sequence" : " elements in sequence";
  return invalid_length(total, expected);
}

std::string type_error(const json::Value& value, std::string_view expected) {
  return invalid_type(json::found_text(value), expected);
}

}  // namespace msg

namespace {

// An unsigned integer no greater than `max`, named `expected` in failures.
Result<std::uint64_t> read_unsigned(const json::Value& v, std::uint64_t max, std::string_view expected) {
  switch (v.kind()) {
    case json::Value::Kind::UInt:
      if (v.as_uint() <= max) return v.as_uint();
      return fail(msg::invalid_value(json::found_text(v), expected));
    case json::Value::Kind::Int:
      return fail(msg::invalid_value(json::found_text(v), expected));
    default:
      return fail(msg::type_error(v, expected));
  }
}

}  // namespace

Status read_string(const json::Value& v, Ctx, std::string& out) {
  if (!v.is_string()) return fail(msg::type_error(v, "a string"));
  out = v.as_string();
  return {};
}

Status read_bool(const json::Value& v, Ctx, bool& out) {
  if (v.kind() != json::Value::Kind::Bool) return fail(msg::type_error(v, "a boolean"));
  out = v.as_bool();
  return {};
}

Status read_u8(const json::Value& v, Ctx, std::uint8_t& out) {
  Result<std::uint64_t> n = read_unsigned(v, std::numeric_limits<std::uint8_t>::max(), "u8");
  if (!n) return fail(std::move(n.error()));
  out = static_cast<std::uint8_t>(*n);
  return {};
}

Status read_u32(const json::Value& v, Ctx, std::uint32_t& out) {
  Result<std::uint64_t> n = read_unsigned(v, std::numeric_limits<std::uint32_t>::max(), "u32");
  if (!n) return fail(std::move(n.error()));
  out = static_cast<std::uint32_t>(*n);
  return {};
}

Status read_usize(const json::Value& v, Ctx, std::uint64_t& out) {
  Result<std::uint64_t> n = read_unsigned(v, std::numeric_limits<std::uint64_t>::max(), "usize");
  if (!n) return fail(std::move(n.error()));
  out = *n;
  return {};
}

Status read_any(const json::Value& v, Ctx, json::Value& out) {
  out = v;
  return {};
}

namespace detail {

Result<NamedValue> split_named(const json::Value& v) {
  if (v.is_string()) return NamedValue{v.as_string(), nullptr};
  if (!v.is_object()) return fail(msg::type_error(v, "string or map"));
  const json::Object& object = v.as_object();
  if (object.size() != 1) return fail(msg::invalid_value("map", "map with a single key"));
  return NamedValue{object.front().first, &object.front().second};
}

Status check_named_payload(Payload kind, const json::Value* payload, Ctx ctx) {
  switch (kind) {
    case Payload::Unit:
      if (payload != nullptr && !payload->is_null()) return fail(msg::type_error(*payload, "unit"));
      return {};
    case Payload::Newtype:
      if (payload == nullptr) return fail(msg::invalid_type("unit variant", "newtype variant"));
      return {};
    case Payload::Tuple:
      if (payload == nullptr) return fail(msg::invalid_type("unit variant", "tuple variant"));
      if (!payload->is_array()) return fail(msg::type_error(*payload, "tuple variant"));
      return {};
    case Payload::Struct:
      if (payload == nullptr) return fail(msg::invalid_type("unit variant", "struct variant"));
      if (payload->is_object() || (ctx.tagged && payload->is_array())) return {};
      return fail(msg::type_error(*payload, "struct variant"));
  }
  return {};
}

Status check_tuple_length(std::size_t n, std::size_t arity, std::string_view expecting, Ctx ctx) {
  if (n == arity) return {};
  if (n == 0) return fail(msg::invalid_type("null", expecting));
  if (n < arity) return fail(msg::invalid_length(n, msg::with_elements(expecting, arity)));
  return fail(msg::too_many_elements(n, arity, ctx));
}

const json::Value& null_value() {
  static const json::Value null{};
  return null;
}

Result<TaggedValue> split_tagged(const json::Value& v, std::string_view enum_name) {
  if (v.is_object()) {
    const json::Value* tag = v.get("kind");
    if (tag == nullptr) return fail(msg::missing_field("kind"));
    return TaggedValue{tag, TaggedBody{&v.as_object(), {}}};
  }
  if (v.is_array()) {
    std::span<const json::Value> items(v.as_array());
    if (items.empty()) return fail(msg::missing_field("kind"));
    return TaggedValue{&items.front(), TaggedBody{nullptr, items.subspan(1)}};
  }
  std::string expected = "internally tagged enum ";
  expected += enum_name;
  return fail(msg::type_error(v, expected));
}

Result<std::size_t> tag_index(const json::Value& tag, Ctx ctx, std::span<const std::string_view> names) {
  if (tag.is_string()) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == tag.as_string()) return i;
    }
    return fail(msg::unknown_variant(tag.as_string(), names));
  }
  if (ctx.tagged && tag.kind() == json::Value::Kind::UInt) {
    if (tag.as_uint() < names.size()) return static_cast<std::size_t>(tag.as_uint());
    return fail(msg::invalid_value(json::found_text(tag), msg::variant_index(names.size())));
  }
  return fail(msg::type_error(tag, "variant identifier"));
}

}  // namespace detail

}  // namespace varkel::idl::schema
