// Hand-written JSON (RFC 8259) parser, value naming and compact writer.
//
// The parser is a single pass of recursive descent over the bytes of the text.
// Nesting is bounded (kMaxDepth), so the recursion depth is bounded too.
// Failures record the byte offset of the offending byte (or the text size at
// end of input); line and column are worked out only when a failure is
// reported. The offending byte counts as read: when it is itself a line feed,
// the position is the start of the next line (column 0).
//
// Messages for inputs that admit more than one:
// - Raw bytes inside a string that are not well-formed UTF-8 (stray
//   continuation bytes, overlong forms, encoded surrogates, values above
//   U+10FFFF, truncated sequences) fail with "invalid unicode code point" at
//   the first byte that cannot belong to a well-formed sequence.
// - A \u escape of a trailing surrogate (DC00-DFFF) that does not follow a
//   leading one fails with "lone leading surrogate in hex escape" at its last
//   hex digit.
// - After a \u escape of a leading surrogate (D800-DBFF): a byte other than
//   a backslash, or a backslash followed by a byte other than 'u', fails with
//   "unexpected end of hex escape" at that byte; a second \u escape that is
//   not a trailing surrogate fails with "lone leading surrogate in hex escape"
//   at its last hex digit; the end of the text fails with "EOF while parsing a
//   string".
// - The four characters after a \u (of the first escape or of the second one
//   of a surrogate pair) are taken before any is checked: when the text ends
//   before four are there, the failure is "EOF while parsing a string" at the
//   end of the text, whatever those characters are; otherwise the first
//   non-hex character among them fails with "invalid escape".
// - A number that stops where a digit is required ("-", "1.", "1e+", "01")
//   fails with "invalid number"; a value starting with anything that cannot
//   start a number or another value ("+1", ".5") fails with "expected value".
// - The end of the text where a value is due (also right after a ',' in an
//   array or object, or a ':') fails with "EOF while parsing a value"; where a
//   ',' or the closing bracket may come (or the ':' after a key), with "EOF
//   while parsing a list" / "EOF while parsing an object".
// - The exponent of a number is accumulated as a signed 32-bit value. The
//   digit that would take it past 2147483647 fails with "number out of range"
//   when the exponent is positive and a significand digit is not zero;
//   otherwise the remaining digits are skipped and the number is 0.0 with its
//   sign.
#include "json/json.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <limits>
#include <system_error>

#include "base/utf8_encode.h"

namespace varkel::json {

const Value* Value::get(std::string_view key) const noexcept {
  const auto* object = std::get_if<json::Object>(&data);
  if (object == nullptr) return nullptr;
  auto it = std::lower_bound(object->begin(), object->end(), key, [](const Member& m, std::string_view k) {
    return std::string_view(m.first) < k;
  });
  if (it == object->end() || std::string_view(it->first) != key) return nullptr;
  return &it->second;
}

namespace {

constexpr int kMaxDepth = 127;

// Sorts the members [first, last) by key bytes, stably, and keeps only the
// last of every run of equal keys. Returns the new end of the range.
json::Object::iterator normalize_members(json::Object::iterator first, json::Object::iterator last) {
  auto less = [](const Member& a, const Member& b) {
    return std::string_view(a.first) < std::string_view(b.first);
  };
  const auto n = last - first;
  if (n < 2) return last;
  bool sorted_unique = true;
  for (auto it = first + 1; it != last; ++it) {
    if (!less(*(it - 1), *it)) {
      sorted_unique = false;
      break;
    }
  }
  if (sorted_unique) return last;
  if (n <= 16) {
    // Insertion sort: stable and free of allocations for the usual small objects.
    for (auto it = first + 1; it != last; ++it) {
      if (!less(*it, *(it - 1))) continue;
      Member moving = std::move(*it);
      auto hole = it;
      do {
        *hole = std::move(*(hole - 1));
        --hole;
      } while (hole != first && less(moving, *(hole - 1)));
      *hole = std::move(moving);
    }
  } else {
    std::stable_sort(first, last, less);
  }
  auto out = first;
  for (auto it = first; it != last; ++it) {
    if (it + 1 != last && it->first == (it + 1)->first) continue;  // a later duplicate wins
    if (out != it) *out = std::move(*it);
    ++out;
  }
  return out;
}

int hex_digit(unsigned char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Result<Value> run() {
    Value root;
    skip_ws();
    if (!parse_value(root, 0)) return fail(failure());
    skip_ws();
    if (pos_ != text_.size()) {
      error("trailing characters", pos_);
      return fail(failure());
    }
    return root;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  const char* error_ = nullptr;
  json::Array items_;     // elements of the arrays being read
  json::Object members_;  // members of the objects being read
  std::size_t error_at_ = 0;

  bool at_end() const noexcept { return pos_ >= text_.size(); }
  unsigned char peek() const noexcept { return static_cast<unsigned char>(text_[pos_]); }

  bool error(const char* what, std::size_t at) {
    error_ = what;
    error_at_ = at;
    return false;
  }

  // The recorded failure as an Error (the parser keeps only what and where
  // while it unwinds: the text is built once, here).
  Error failure() const {
    // The text read: up to and including the offending byte, or all of it at
    // the end. Line: 1 + line feeds read. Column: bytes read after the last
    // of them (0 when the offending byte is itself a line feed).
    const std::size_t read = error_at_ < text_.size() ? error_at_ + 1 : text_.size();
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < read; ++i) {
      if (text_[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    std::size_t column = read - line_start;
    std::string out = error_;
    out += " at line ";
    out += std::to_string(line);
    out += " column ";
    out += std::to_string(column);
    return Error(std::move(out), static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(column));
  }

  void skip_ws() noexcept {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos_;
    }
  }

  bool parse_value(Value& out, int depth) {
    if (at_end()) return error("EOF while parsing a value", pos_);
    switch (peek()) {
      case 'n':
        if (!parse_ident("null")) return false;
        out.data = nullptr;
        return true;
      case 't':
        if (!parse_ident("true")) return false;
        out.data = true;
        return true;
      case 'f':
        if (!parse_ident("false")) return false;
        out.data = false;
        return true;
      case '"': {
        std::string s;
        if (!parse_string(s)) return false;
        out.data = std::move(s);
        return true;
      }
      case '[':
        return parse_array(out, depth + 1);
      case '{':
        return parse_object(out, depth + 1);
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_number(out);
      default:
        return error("expected value", pos_);
    }
  }

  bool parse_ident(std::string_view word) {
    for (char expected : word) {
      if (at_end()) return error("EOF while parsing a value", pos_);
      if (text_[pos_] != expected) return error("expected ident", pos_);
      ++pos_;
    }
    return true;
  }

  bool parse_array(Value& out, int depth) {
    if (depth > kMaxDepth) return error("recursion limit exceeded", pos_);
    ++pos_;  // '['
    skip_ws();
    if (at_end()) return error("EOF while parsing a list", pos_);
    if (peek() == ']') {
      ++pos_;
      out.data = json::Array{};
      return true;
    }
    // Elements collect on a stack shared by all levels, so that every array
    // is allocated once at its final size.
    const std::size_t base = items_.size();
    for (;;) {
      Value item;
      if (!parse_value(item, depth)) return false;
      items_.push_back(std::move(item));
      skip_ws();
      if (at_end()) return error("EOF while parsing a list", pos_);
      char c = text_[pos_];
      if (c == ']') {
        ++pos_;
        break;
      }
      if (c != ',') return error("expected `,` or `]`", pos_);
      ++pos_;
      skip_ws();
      if (at_end()) return error("EOF while parsing a value", pos_);
      if (peek() == ']') return error("trailing comma", pos_);
    }
    auto first = items_.begin() + static_cast<std::ptrdiff_t>(base);
    out.data = json::Array(std::make_move_iterator(first), std::make_move_iterator(items_.end()));
    items_.erase(first, items_.end());
    return true;
  }

  bool parse_object(Value& out, int depth) {
    if (depth > kMaxDepth) return error("recursion limit exceeded", pos_);
    ++pos_;  // '{'
    skip_ws();
    if (at_end()) return error("EOF while parsing an object", pos_);
    if (peek() == '}') {
      ++pos_;
      out.data = json::Object{};
      return true;
    }
    const std::size_t base = members_.size();  // as for arrays
    for (;;) {
      if (peek() != '"') return error("key must be a string", pos_);
      std::string key;
      if (!parse_string(key)) return false;
      skip_ws();
      if (at_end()) return error("EOF while parsing an object", pos_);
      if (peek() != ':') return error("expected `:`", pos_);
      ++pos_;
      skip_ws();
      Value item;
      if (!parse_value(item, depth)) return false;
      members_.emplace_back(std::move(key), std::move(item));
      skip_ws();
      if (at_end()) return error("EOF while parsing an object", pos_);
      char c = text_[pos_];
      if (c == '}') {
        ++pos_;
        break;
      }
      if (c != ',') return error("expected `,` or `}`", pos_);
      ++pos_;
      skip_ws();
      if (at_end()) return error("EOF while parsing a value", pos_);
      if (peek() == '}') return error("trailing comma", pos_);
    }
    auto first = members_.begin() + static_cast<std::ptrdiff_t>(base);
    auto last = normalize_members(first, members_.end());
    out.data = json::Object(std::make_move_iterator(first), std::make_move_iterator(last));
    members_.erase(first, members_.end());
    return true;
  }

  // Reads four hex digits at pos_ (just after "\u"). The four characters
  // must all be there before any is looked at.
  bool read_hex4(std::uint32_t& unit) {
    if (text_.size() - pos_ < 4) return error("EOF while parsing a string", text_.size());
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      int d = hex_digit(peek());
      if (d < 0) return error("invalid escape", pos_);
      unit = (unit << 4) | static_cast<std::uint32_t>(d);
      ++pos_;
    }
    return true;
  }

  // Validates one multi-byte UTF-8 sequence starting at pos_ (lead byte >= 0x80)
  // and advances past it.
  bool skip_utf8_sequence() {
    const std::size_t n = text_.size();
    unsigned char b0 = peek();
    std::size_t len;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      if (b0 == 0xE0)
        lo = 0xA0;  // no overlong forms
      else if (b0 == 0xED)
        hi = 0x9F;  // no encoded surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      if (b0 == 0xF0)
        lo = 0x90;  // no overlong forms
      else if (b0 == 0xF4)
        hi = 0x8F;  // nothing above U+10FFFF
    } else {
      return error("invalid unicode code point", pos_);
    }
    for (std::size_t i = 1; i < len; ++i) {
      if (pos_ + i >= n) return error("EOF while parsing a string", n);
      auto b = static_cast<unsigned char>(text_[pos_ + i]);
      unsigned char min = i == 1 ? lo : 0x80;
      unsigned char max = i == 1 ? hi : 0xBF;
      if (b < min || b > max) return error("invalid unicode code point", pos_ + i);
    }
    pos_ += len;
    return true;
  }

  // pos_ is at the opening quote.
  bool parse_string(std::string& out) {
    ++pos_;
    const std::size_t n = text_.size();
    for (;;) {
      // Copy the longest run of bytes that need no attention.
      std::size_t run = pos_;
      while (run < n) {
        auto c = static_cast<unsigned char>(text_[run]);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++run;
      }
      out.append(text_.data() + pos_, run - pos_);
      pos_ = run;
      if (at_end()) return error("EOF while parsing a string", pos_);
      unsigned char c = peek();
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return error("control character (\\u0000-\\u001F) found while parsing a string", pos_);
      if (c >= 0x80) {
        std::size_t start = pos_;
        if (!skip_utf8_sequence()) return false;
        out.append(text_.data() + start, pos_ - start);
        continue;
      }
      // Backslash.
      ++pos_;
      if (at_end()) return error("EOF while parsing a string", pos_);
      char e = text_[pos_];
      switch (e) {
        case '"':
          out.push_back('"');
          break;
        case '\\':
          out.push_back('\\');
          break;
        case '/':
          out.push_back('/');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          ++pos_;
          std::uint32_t unit;
          if (!read_hex4(unit)) return false;
          if (unit >= 0xDC00 && unit <= 0xDFFF)
            return error("lone leading surrogate in hex escape", pos_ - 1);
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            // A trailing surrogate escape must follow directly.
            if (at_end()) return error("EOF while parsing a string", pos_);
            if (peek() != '\\') return error("unexpected end of hex escape", pos_);
            ++pos_;
            if (at_end()) return error("EOF while parsing a string", pos_);
            if (peek() != 'u') return error("unexpected end of hex escape", pos_);
            ++pos_;
            std::uint32_t low;
            if (!read_hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return error("lone leading surrogate in hex escape", pos_ - 1);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          }
          append_utf8(out, unit);
          continue;  // pos_ is already past the escape
        }
        default:
          return error("invalid escape", pos_);
      }
      ++pos_;
    }
  }

  bool is_digit_at(std::size_t i) const noexcept {
    return i < text_.size() && text_[i] >= '0' && text_[i] <= '9';
  }

  bool parse_number(Value& out) {
    const std::size_t start = pos_;
    const std::size_t n = text_.size();
    bool negative = false;
    if (text_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    if (!is_digit_at(pos_)) return error("invalid number", pos_);
    // Integer part, accumulated while it fits 64 bits.
    const std::size_t int_start = pos_;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    if (text_[pos_] == '0') {
      ++pos_;
      if (is_digit_at(pos_)) return error("invalid number", pos_);
    } else {
      while (is_digit_at(pos_)) {
        auto d = static_cast<std::uint64_t>(text_[pos_] - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
          overflow = true;
        else
          magnitude = magnitude * 10 + d;
        ++pos_;
      }
    }
    const std::size_t int_end = pos_;
    bool is_float = false;
    std::size_t frac_start = pos_;
    std::size_t frac_end = pos_;
    if (pos_ < n && text_[pos_] == '.') {
      is_float = true;
      ++pos_;
      if (!is_digit_at(pos_)) return error("invalid number", pos_);
      frac_start = pos_;
      while (is_digit_at(pos_)) ++pos_;
      frac_end = pos_;
    }
    // Decimal exponent, accumulated as a signed 32-bit value.
    std::int64_t exponent = 0;
    if (pos_ < n && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      is_float = true;
      ++pos_;
      bool exp_negative = false;
      if (pos_ < n && (text_[pos_] == '+' || text_[pos_] == '-')) {
        exp_negative = text_[pos_] == '-';
        ++pos_;
      }
      if (!is_digit_at(pos_)) return error("invalid number", pos_);
      constexpr std::int64_t kMaxExponent = std::numeric_limits<std::int32_t>::max();
      while (is_digit_at(pos_)) {
        const int d = text_[pos_] - '0';
        if (exponent > (kMaxExponent - d) / 10) {
          // This digit overflows the exponent: fatal when the number grows,
          // otherwise the number is zero whatever the remaining digits.
          auto nonzero = [this](std::size_t from, std::size_t to) {
            return text_.find_first_not_of('0', from) < to;
          };
          if (!exp_negative && (nonzero(int_start, int_end) || nonzero(frac_start, frac_end)))
            return error("number out of range", pos_);
          while (is_digit_at(pos_)) ++pos_;
          out.data = negative ? -0.0 : 0.0;
          return true;
        }
        exponent = exponent * 10 + d;
        ++pos_;
      }
      if (exp_negative) exponent = -exponent;
    }

    if (!is_float && !overflow) {
      if (!negative) {
        out.data = magnitude;
        return true;
      }
      constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
      if (magnitude != 0 && magnitude <= kMinMagnitude) {
        out.data = magnitude == kMinMagnitude ? std::numeric_limits<std::int64_t>::min()
                                              : -static_cast<std::int64_t>(magnitude);
        return true;
      }
      // "-0" and integers below the signed range are floats.
    }

    double value = 0;
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc::result_out_of_range) {
      // Too large or too small for a double. Decide which from the decimal
      // exponent of the leading significant digit: at or above 10^0 the value
      // overflowed; below, it underflowed to zero, which is accepted.
      std::int64_t lead_exponent;
      std::size_t i = int_start;
      while (i < int_end && text_[i] == '0') ++i;
      if (i < int_end) {
        lead_exponent = static_cast<std::int64_t>(int_end - i) - 1 + exponent;
      } else {
        std::size_t j = frac_start;
        while (j < frac_end && text_[j] == '0') ++j;
        lead_exponent = -static_cast<std::int64_t>(j - frac_start) - 1 + exponent;
      }
      if (lead_exponent >= 0) return error("number out of range", pos_ - 1);
      value = negative ? -0.0 : 0.0;
    } else if (ec != std::errc() || ptr != last) {
      return error("invalid number", start);
    }
    out.data = value;
    return true;
  }
};

void append_hex2(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back(kHex[c >> 4]);
  out.push_back(kHex[c & 0xF]);
}

void append_compact_string(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          append_hex2(out, c);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
}

void append_compact(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Null:
      out += "null";
      return;
    case Value::Kind::Bool:
      out += value.as_bool() ? "true" : "false";
      return;
    case Value::Kind::UInt:
      out += std::to_string(value.as_uint());
      return;
    case Value::Kind::Int:
      out += std::to_string(value.as_int());
      return;
    case Value::Kind::Float:
      out += format_float(value.as_float());
      return;
    case Value::Kind::String:
      append_compact_string(out, value.as_string());
      return;
    case Value::Kind::Array: {
      out.push_back('[');
      bool first = true;
      for (const Value& item : value.as_array()) {
        if (!first) out.push_back(',');
        first = false;
        append_compact(out, item);
      }
      out.push_back(']');
      return;
    }
    case Value::Kind::Object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, item] : value.as_object()) {
        if (!first) out.push_back(',');
        first = false;
        append_compact_string(out, key);
        out.push_back(':');
        append_compact(out, item);
      }
      out.push_back('}');
      return;
    }
  }
}

}  // namespace

Result<Value> parse(std::string_view text) {
  return Parser(text).run();
}

std::string format_float(double value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::string out(buf, ec == std::errc() ? end : buf);
  bool plain = out.find_first_of(".eEn") == std::string::npos;  // 'n' covers inf and nan
  if (plain) out += ".0";
  return out;
}

std::string found_text(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Null:
      return "null";
    case Value::Kind::Bool:
      return value.as_bool() ? "boolean `true`" : "boolean `false`";
    case Value::Kind::UInt:
      return "integer `" + std::to_string(value.as_uint()) + "`";
    case Value::Kind::Int:
      return "integer `" + std::to_string(value.as_int()) + "`";
    case Value::Kind::Float:
      return "floating point `" + format_float(value.as_float()) + "`";
    case Value::Kind::String: {
      const std::string& s = value.as_string();
      std::string out = "string \"";
      out.reserve(out.size() + s.size() + 1);
      for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
          case '"':
            out += "\\\"";
            break;
          case '\\':
            out += "\\\\";
            break;
          case '\n':
            out += "\\n";
            break;
          case '\r':
            out += "\\r";
            break;
          case '\t':
            out += "\\t";
            break;
          case '\0':
            out += "\\0";
            break;
          default:
            if (c < 0x20 || c == 0x7F) {
              out += "\\u{";
              if (c >= 0x10) out.push_back("0123456789abcdef"[c >> 4]);
              out.push_back("0123456789abcdef"[c & 0xF]);
              out.push_back('}');
            } else {
              out.push_back(ch);
            }
        }
      }
      out.push_back('"');
      return out;
    }
    case Value::Kind::Array:
      return "sequence";
    case Value::Kind::Object:
      return "map";
  }
  return "map";
}

std::string to_compact(const Value& value) {
  std::string out;
  append_compact(out, value);
  return out;
}

}  // namespace varkel::json
