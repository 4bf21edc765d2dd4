#include "idl/case.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/utf8_encode.h"
#include "idl/unicode_tables.h"

namespace varkel::idl {

namespace {

namespace uc = unicode;
using WB = uc::WordBreak;

// Stands for a byte that does not start a valid UTF-8 sequence. Above
// U+10FFFF, so it has no properties; written out as U+FFFD.
constexpr char32_t kInvalid = 0x110000;

struct Char {
  std::size_t offset;  // byte offset in the text
  char32_t cp;
  std::uint16_t props;
};

std::uint16_t props_of(char32_t cp) {
  static const std::array<std::uint16_t, 128> ascii = [] {
    std::array<std::uint16_t, 128> a{};
    for (char32_t c = 0; c < 128; ++c) a[c] = uc::properties(c);
    return a;
  }();
  return cp < 128 ? ascii[cp] : uc::properties(cp);
}

// Decodes the character at text[i] (i < size): its code point and length.
// Overlong forms, surrogates, values above U+10FFFF, stray continuation bytes
// and truncated sequences give kInvalid for one byte.
std::pair<char32_t, std::size_t> decode_at(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned b0 = byte(i);
  if (b0 < 0x80) return {b0, 1};
  std::size_t len;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {kInvalid, 1};
  }
  if (text.size() - i < len) return {kInvalid, 1};
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned b = byte(i + k);
    if ((b & 0xC0) != 0x80) return {kInvalid, 1};
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {kInvalid, 1};
  return {cp, len};
}

std::vector<Char> decode(std::string_view text) {
  std::vector<Char> chars;
  chars.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto [cp, len] = decode_at(text, i);
    chars.push_back({i, cp, props_of(cp)});
    i += len;
  }
  return chars;
}

bool is_ignorable(WB t) {
  return t == WB::Extend || t == WB::Format || t == WB::ZWJ;
}
bool is_newline(WB t) {
  return t == WB::CR || t == WB::LF || t == WB::Newline;
}
bool is_ahletter(WB t) {
  return t == WB::ALetter || t == WB::Hebrew_Letter;
}
bool is_midnumletq(WB t) {
  return t == WB::MidNumLet || t == WB::Single_Quote;
}

bool keeps(std::uint16_t props) {
  return (props & (uc::kAlphabetic | uc::kNumeric)) != 0;
}

// Cuts `text` at its word boundaries; with `kept_only`, drops the segments
// without an alphabetic or numeric character.
std::vector<std::string_view> segment(std::string_view text, bool kept_only) {
  std::vector<std::string_view> out;
  const std::vector<Char> chars = decode(text);
  const std::size_t n = chars.size();
  if (n == 0) return out;
  const auto wb = [&](std::size_t i) { return uc::word_break(chars[i].props); };

  // base[i]: the character that chars[i] belongs to once Extend, Format and
  // ZWJ are attached to what precedes them (not to the start of the text nor
  // to CR, LF or Newline). ri_run[i]: for a base that is a regional
  // indicator, the length of the run of regional-indicator bases ending at it.
  // next[i]: the first character at or after i that is not Extend, Format or
  // ZWJ (n if none).
  std::vector<std::size_t> base(n), ri_run(n, 0), next(n + 1);
  for (std::size_t i = 0; i < n; ++i) {
    base[i] = (i > 0 && is_ignorable(wb(i)) && !is_newline(wb(i - 1))) ? base[i - 1] : i;
    if (wb(i) == WB::Regional_Indicator) {
      ri_run[i] = 1;
      if (i > 0 && wb(base[i - 1]) == WB::Regional_Indicator) ri_run[i] += ri_run[base[i - 1]];
    }
  }
  next[n] = n;
  for (std::size_t i = n; i-- > 0;) next[i] = is_ignorable(wb(i)) ? next[i + 1] : i;

  const auto no_break_before = [&](std::size_t i) {
    const WB left = wb(i - 1);
    const WB right = wb(i);
    if (left == WB::CR && right == WB::LF) return true;       // WB3
    if (is_newline(left) || is_newline(right)) return false;  // WB3a, WB3b
    if (left == WB::ZWJ && (chars[i].props & uc::kExtendedPictographic) != 0) {
      return true;  // WB3c
    }
    if (left == WB::WSegSpace && right == WB::WSegSpace) return true;  // WB3d
    if (is_ignorable(right)) return true;                              // WB4
    const std::size_t p = base[i - 1];
    const WB prev = wb(p);
    const WB prev2 = p > 0 ? wb(base[p - 1]) : WB::Other;
    const std::size_t k = next[i + 1];
    const WB after = k < n ? wb(k) : WB::Other;
    if (is_ahletter(prev) && is_ahletter(right)) return true;  // WB5
    if (is_ahletter(prev) && (right == WB::MidLetter || is_midnumletq(right)) && is_ahletter(after)) {
      return true;  // WB6
    }
    if (is_ahletter(prev2) && (prev == WB::MidLetter || is_midnumletq(prev)) && is_ahletter(right)) {
      return true;  // WB7
    }
    if (prev == WB::Hebrew_Letter && right == WB::Single_Quote) return true;  // WB7a
    if (prev == WB::Hebrew_Letter && right == WB::Double_Quote && after == WB::Hebrew_Letter) {
      return true;  // WB7b
    }
    if (prev2 == WB::Hebrew_Letter && prev == WB::Double_Quote && right == WB::Hebrew_Letter) {
      return true;  // WB7c
    }
    if ((prev == WB::Numeric || is_ahletter(prev)) && right == WB::Numeric) return true;  // WB8, 9
    if (prev == WB::Numeric && is_ahletter(right)) return true;                           // WB10
    if (prev2 == WB::Numeric && (prev == WB::MidNum || is_midnumletq(prev)) && right == WB::Numeric) {
      return true;  // WB11
    }
    if (prev == WB::Numeric && (right == WB::MidNum || is_midnumletq(right)) && after == WB::Numeric) {
      return true;  // WB12
    }
    if (prev == WB::Katakana && right == WB::Katakana) return true;  // WB13
    if ((is_ahletter(prev) || prev == WB::Numeric || prev == WB::Katakana || prev == WB::ExtendNumLet) &&
        right == WB::ExtendNumLet) {
      return true;  // WB13a
    }
    if (prev == WB::ExtendNumLet && (is_ahletter(right) || right == WB::Numeric || right == WB::Katakana)) {
      return true;  // WB13b
    }
    if (prev == WB::Regional_Indicator && right == WB::Regional_Indicator && ri_run[p] % 2 == 1) {
      return true;  // WB15, WB16
    }
    return false;  // WB999
  };

  std::size_t start = 0;
  bool kept = keeps(chars[0].props);
  for (std::size_t i = 1; i <= n; ++i) {
    if (i < n && no_break_before(i)) {
      kept = kept || keeps(chars[i].props);
      continue;
    }
    const std::size_t end = i < n ? chars[i].offset : text.size();
    if (kept || !kept_only) out.push_back(text.substr(start, end - start));
    if (i < n) {
      start = end;
      kept = keeps(chars[i].props);
    }
  }
  return out;
}

bool is_ascii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool ascii_digit(char c) {
  return c >= '0' && c <= '9';
}

// Appends the lower-cased piece text[begin, end) to `out`.
void append_lower(std::string& out, const std::vector<Char>& chars, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    const char32_t cp = chars[i].cp;
    if (cp == 0x3A3 && i + 1 == end) {  // capital sigma ending the piece
      append_utf8(out, 0x3C2);
      continue;
    }
    if (cp == kInvalid) {
      append_utf8(out, 0xFFFD);
      continue;
    }
    char32_t mapped[3];
    const std::size_t count = uc::to_lower_full(cp, mapped);
    for (std::size_t k = 0; k < count; ++k) append_utf8(out, mapped[k]);
  }
}

enum class Mode { Boundary, Lower, Upper };

// Cuts one segment into pieces at underscores and case changes and appends
// them, lower-cased and joined by '_', to `out`.
void append_pieces(std::string& out, std::string_view seg) {
  const std::vector<Char> chars = decode(seg);
  const std::size_t n = chars.size();
  const auto lower = [&](std::size_t i) { return (chars[i].props & uc::kLowercase) != 0; };
  const auto upper = [&](std::size_t i) { return (chars[i].props & uc::kUppercase) != 0; };
  const auto emit = [&](std::size_t begin, std::size_t end) {
    if (!out.empty()) out += '_';
    append_lower(out, chars, begin, end);
  };
  std::size_t start = 0;
  Mode mode = Mode::Boundary;
  for (std::size_t x = 0; x < n; ++x) {
    if (chars[x].cp == U'_') {
      if (start == x) start = x + 1;
      continue;
    }
    if (x + 1 == n) {
      emit(start, n);
      break;
    }
    const std::size_t y = x + 1;
    const Mode m = lower(x) ? Mode::Lower : upper(x) ? Mode::Upper : mode;
    if (chars[y].cp == U'_' || (m == Mode::Lower && upper(y))) {
      emit(start, y);
      start = y;
      mode = Mode::Boundary;
    } else if (mode == Mode::Upper && upper(x) && lower(y)) {
      emit(start, x);
      start = x;
      mode = Mode::Boundary;
    } else {
      mode = m;
    }
  }
}

}  // namespace

std::vector<std::string_view> split_words_ascii(std::string_view text) {
  std::vector<std::string_view> out;
  const std::size_t n = text.size();
  const auto word_char = [](char c) { return ascii_letter(c) || ascii_digit(c) || c == '_'; };
  std::size_t i = 0;
  while (i < n) {
    const std::size_t start = i;
    const char c = text[i];
    if (c == ' ') {
      while (i < n && text[i] == ' ') ++i;
    } else if (c == '\r' && i + 1 < n && text[i + 1] == '\n') {
      i += 2;
    } else if (word_char(c)) {
      ++i;
      while (i < n) {
        const char d = text[i];
        if (word_char(d)) {
          ++i;
          continue;
        }
        if (i + 1 >= n) break;
        const char before = text[i - 1];
        const char after = text[i + 1];
        const bool digits = ascii_digit(before) && ascii_digit(after);
        const bool letters = ascii_letter(before) && ascii_letter(after);
        if (((d == '.' || d == '\'') && (digits || letters)) || ((d == ',' || d == ';') && digits) ||
            (d == ':' && letters)) {
          ++i;
          continue;
        }
        break;
      }
    } else {
      ++i;
    }
    bool kept = false;
    for (std::size_t k = start; k < i; ++k) {
      kept = kept || ascii_letter(text[k]) || ascii_digit(text[k]);
    }
    if (kept) out.push_back(text.substr(start, i - start));
  }
  return out;
}

std::vector<std::string_view> split_words_unicode(std::string_view text) {
  return segment(text, true);
}

std::vector<std::string_view> word_segments(std::string_view text) {
  return segment(text, false);
}

std::vector<std::string_view> split_words(std::string_view text) {
  return is_ascii(text) ? split_words_ascii(text) : split_words_unicode(text);
}

std::string join_snake_case(std::span<const std::string_view> segments) {
  std::string out;
  for (const std::string_view seg : segments) append_pieces(out, seg);
  return out;
}

std::string to_snake_case(std::string_view text) {
  const std::vector<std::string_view> segments = split_words(text);
  return join_snake_case(segments);
}

}  // namespace varkel::idl
