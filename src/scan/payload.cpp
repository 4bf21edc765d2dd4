#include "scan/payload.h"

#include <cstddef>
#include <cstdint>

namespace varkel::scan {

namespace {

constexpr std::string_view kDataPrefix = "Program data: ";
constexpr std::string_view kLogPrefix = "Program log: ";

constexpr bool is_ascii_space(std::uint8_t b) {
  return (b >= 0x09 && b <= 0x0D) || b == 0x20;
}

// Length (2 or 3) of the non-ASCII White_Space character whose UTF-8 form
// starts at p and ends within `avail` bytes, or 0.
//   U+0085 C2 85, U+00A0 C2 A0, U+1680 E1 9A 80, U+2000..U+200A E2 80 80..8A,
//   U+2028 E2 80 A8, U+2029 E2 80 A9, U+202F E2 80 AF, U+205F E2 81 9F,
//   U+3000 E3 80 80.
std::size_t wide_space_at(const std::uint8_t* p, std::size_t avail) {
  if (avail >= 2 && p[0] == 0xC2) return (p[1] == 0x85 || p[1] == 0xA0) ? 2 : 0;
  if (avail < 3) return 0;
  switch (p[0]) {
    case 0xE1:
      return (p[1] == 0x9A && p[2] == 0x80) ? 3 : 0;
    case 0xE2:
      if (p[1] == 0x80) {
        const std::uint8_t c = p[2];
        return (c <= 0x8A && c >= 0x80) || c == 0xA8 || c == 0xA9 || c == 0xAF ? 3 : 0;
      }
      return (p[1] == 0x81 && p[2] == 0x9F) ? 3 : 0;
    case 0xE3:
      return (p[1] == 0x80 && p[2] == 0x80) ? 3 : 0;
    default:
      return 0;
  }
}

std::string_view trim_spaces(std::string_view s) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end) {
    const std::uint8_t b = p[begin];
    if (b < 0x80) {
      if (!is_ascii_space(b)) break;
      ++begin;
      continue;
    }
    const std::size_t w = wide_space_at(p + begin, end - begin);
    if (w == 0) break;
    begin += w;
  }
  while (end > begin) {
    const std::uint8_t b = p[end - 1];
    if (b < 0x80) {
      if (!is_ascii_space(b)) break;
      --end;
      continue;
    }
    // Every non-ASCII space ends in a continuation byte and is 2 or 3 bytes
    // long: try the character that would start 2, then 3, bytes before the end.
    // In UTF-8 a lead byte always starts a character, so a match is whole.
    if (end - begin >= 2 && wide_space_at(p + end - 2, 2) == 2) {
      end -= 2;
    } else if (end - begin >= 3 && wide_space_at(p + end - 3, 3) == 3) {
      end -= 3;
    } else {
      break;
    }
  }
  return s.substr(begin, end - begin);
}

}  // namespace

std::optional<std::string_view> extract_payload(std::string_view line) {
  if (line.starts_with(kDataPrefix)) return trim_spaces(line.substr(kDataPrefix.size()));
  if (line.starts_with(kLogPrefix)) return trim_spaces(line.substr(kLogPrefix.size()));
  return std::nullopt;
}

}  // namespace varkel::scan
