// Character properties for word splitting and lower-casing. The tables live in
// unicode_tables.cpp, which tools/gen_unicode_tables.py generates from the
// Unicode Character Database.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varkel::idl::unicode {

// The Unicode version of the tables, e.g. "15.0.0".
extern const char kUnicodeVersion[];

// Word_Break property values. The order is fixed by the generator.
enum class WordBreak : std::uint8_t {
  Other,
  CR,
  LF,
  Newline,
  Extend,
  ZWJ,
  Regional_Indicator,
  Format,
  Katakana,
  Hebrew_Letter,
  ALetter,
  Single_Quote,
  Double_Quote,
  MidNumLet,
  MidLetter,
  MidNum,
  Numeric,
  ExtendNumLet,
  WSegSpace,
};

// Bits of the packed value returned by properties().
inline constexpr std::uint16_t kWordBreakMask = 0x1F;  // a WordBreak value
inline constexpr std::uint16_t kExtendedPictographic = 1u << 5;
inline constexpr std::uint16_t kAlphabetic = 1u << 6;
inline constexpr std::uint16_t kLowercase = 1u << 7;
inline constexpr std::uint16_t kUppercase = 1u << 8;
inline constexpr std::uint16_t kNumeric = 1u << 9;  // general category Nd, Nl or No

// Packed properties of `cp`; 0 (Other, no flags) above U+10FFFF.
std::uint16_t properties(char32_t cp);

inline WordBreak word_break(std::uint16_t props) {
  return static_cast<WordBreak>(props & kWordBreakMask);
}

// The full lower-case mapping of `cp` without context (no language-specific
// or Final_Sigma rules): writes 1 to 3 code points to `out`, returns how many.
std::size_t to_lower_full(char32_t cp, char32_t (&out)[3]);

}  // namespace varkel::idl::unicode
