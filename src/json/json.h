// JSON text (RFC 8259) into a generic value.
//
// Objects hold their members with unique keys in ascending byte order of the
// key text; when a key occurs more than once the last occurrence wins.
// Numbers without fraction or exponent are UInt when non-negative and within
// 64 bits, Int when negative and within 64 bits; every other number (fraction,
// exponent, out-of-range integer, "-0") is Float.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"

namespace varkel::json {

struct Value;
using Array = std::vector<Value>;
struct Member;
using Object = std::vector<Member>;  // unique keys, ascending byte order

struct Value {
  // The enumerators Array and Object share their names with the aliases above
  // (always written qualified, Kind::Array); -Wshadow would flag them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
  enum class Kind : std::uint8_t { Null, Bool, UInt, Int, Float, String, Array, Object };
#pragma GCC diagnostic pop

  // Alternatives in the order of Kind; a new value is null (the first,
  // value-initialised).
  std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double, std::string, json::Array,
               json::Object>
      data;

  Kind kind() const noexcept {
    return static_cast<Kind>(data.index());
  }
  bool is_null() const noexcept {
    return kind() == Kind::Null;
  }
  bool is_string() const noexcept {
    return kind() == Kind::String;
  }
  bool is_array() const noexcept {
    return kind() == Kind::Array;
  }
  bool is_object() const noexcept {
    return kind() == Kind::Object;
  }

  // Typed access; the caller has checked kind().
  bool as_bool() const {
    return std::get<bool>(data);
  }
  std::uint64_t as_uint() const {
    return std::get<std::uint64_t>(data);
  }
  std::int64_t as_int() const {
    return std::get<std::int64_t>(data);
  }
  double as_float() const {
    return std::get<double>(data);
  }
  const std::string& as_string() const {
    return std::get<std::string>(data);
  }
  const json::Array& as_array() const {
    return std::get<json::Array>(data);
  }
  const json::Object& as_object() const {
    return std::get<json::Object>(data);
  }

  // The member `key` of an object (binary search), or nullptr when this is
  // not an object or has no such key.
  const Value* get(std::string_view key) const noexcept;
};

// One member of an object. A struct rather than std::pair: clang cannot
// instantiate std::pair<std::string, Value> inside Value's own definition.
struct Member {
  std::string first;
  Value second;
};

// Parses one whole JSON text. Failures read "{message} at line {l} column {c}".
Result<Value> parse(std::string_view text);

// How a value is named in type errors: "null", "boolean `true`", "integer `5`",
// "floating point `1.5`", "string \"abc\"" (escaped), "sequence", "map".
std::string found_text(const Value& value);

// Shortest decimal form that reads back as the same double, with ".0" added
// to integral values ("1.0", "1.5").
std::string format_float(double value);

// Compact JSON text: no spaces, members in ascending key order, strings
// escaped minimally (quote, backslash, \b \t \n \f \r, other controls as \u00xx).
std::string to_compact(const Value& value);

}  // namespace varkel::json
