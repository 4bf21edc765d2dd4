#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode/utf8.h"

namespace varkel::decode {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ascii(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Utf8Case {
  std::string name;
  Bytes bytes;
  std::string expected;  // "" when valid
};

class Utf8Check : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Check, ExactDetail) {
  const Utf8Case& c = GetParam();
  const auto got = check_utf8(c.bytes);
  EXPECT_EQ(got.value_or(""), c.expected);
}

std::string invalid(int k, int i) {
  return "invalid utf-8 sequence of " + std::to_string(k) + " bytes from index " + std::to_string(i);
}
std::string incomplete(int i) {
  return "incomplete utf-8 byte sequence from index " + std::to_string(i);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8Check,
    ::testing::Values(
        Utf8Case{"empty", {}, ""}, Utf8Case{"ascii", ascii("hello, world: 0123456789"), ""},
        Utf8Case{"two_byte", {0x68, 0xC3, 0xA9, 0x6C}, ""}, Utf8Case{"euro", {0xE2, 0x82, 0xAC}, ""},
        Utf8Case{"lowest_three_byte", {0xE0, 0xA0, 0x80}, ""},
        Utf8Case{"last_before_surrogates", {0xED, 0x9F, 0xBF}, ""},
        Utf8Case{"first_after_surrogates", {0xEE, 0x80, 0x80}, ""},
        Utf8Case{"lowest_four_byte", {0xF0, 0x90, 0x80, 0x80}, ""},
        Utf8Case{"highest_code_point", {0xF4, 0x8F, 0xBF, 0xBF}, ""},
        Utf8Case{"invalid_after_ascii", {0x61, 0xFF}, invalid(1, 1)},
        Utf8Case{"truncated_three_byte", {0xE2, 0x82}, incomplete(0)},
        Utf8Case{"surrogate", {0xED, 0xA0, 0x80}, invalid(1, 0)},
        Utf8Case{"surrogate_high_end", {0xED, 0xBF, 0xBF}, invalid(1, 0)},
        Utf8Case{"bad_third_byte", {0xE2, 0x82, 0x41}, invalid(2, 0)},
        Utf8Case{"overlong_two_byte_c0", {0xC0, 0x80}, invalid(1, 0)},
        Utf8Case{"overlong_two_byte_c1", {0xC1, 0xBF}, invalid(1, 0)},
        Utf8Case{"overlong_three_byte", {0xE0, 0x80, 0x80}, invalid(1, 0)},
        Utf8Case{"overlong_three_byte_high", {0xE0, 0x9F, 0xBF}, invalid(1, 0)},
        Utf8Case{"overlong_four_byte", {0xF0, 0x80, 0x80, 0x80}, invalid(1, 0)},
        Utf8Case{"overlong_four_byte_high", {0xF0, 0x8F, 0xBF, 0xBF}, invalid(1, 0)},
        Utf8Case{"above_max", {0xF4, 0x90, 0x80, 0x80}, invalid(1, 0)},
        Utf8Case{"lead_f5", {0xF5, 0x80, 0x80, 0x80}, invalid(1, 0)},
        Utf8Case{"lead_ff", {0xFF}, invalid(1, 0)}, Utf8Case{"lone_continuation", {0x80}, invalid(1, 0)},
        Utf8Case{"continuation_after_char", {0xC3, 0xA9, 0xBF}, invalid(1, 2)},
        Utf8Case{"two_byte_bad_second", {0xC3, 0x41}, invalid(1, 0)},
        Utf8Case{"two_byte_truncated", {0xC3}, incomplete(0)},
        Utf8Case{"four_byte_lead_only", {0xF0}, incomplete(0)},
        Utf8Case{"four_byte_two_of_four", {0xF0, 0x9F}, incomplete(0)},
        Utf8Case{"four_byte_three_of_four", {0xF0, 0x9F, 0x98}, incomplete(0)},
        Utf8Case{"max_truncated", {0xF4, 0x8F, 0xBF}, incomplete(0)},
        Utf8Case{"surrogate_range_truncated_valid_so_far", {0xED, 0x9F}, incomplete(0)},
        Utf8Case{"surrogate_second_byte_at_end", {0xED, 0xA0}, invalid(1, 0)},
        Utf8Case{"above_max_second_byte_at_end", {0xF4, 0x90}, invalid(1, 0)},
        Utf8Case{"four_byte_bad_third", {0xF0, 0x9F, 0x41}, invalid(2, 0)},
        Utf8Case{"four_byte_bad_fourth", {0xF0, 0x9F, 0x98, 0x41}, invalid(3, 0)},
        Utf8Case{"four_byte_bad_fourth_is_lead", {0xF0, 0x9F, 0x98, 0xF0}, invalid(3, 0)},
        Utf8Case{"index_counts_valid_bytes", {0xE2, 0x82, 0xAC, 0x61, 0xC3, 0xA9, 0xE2, 0x82}, incomplete(6)},
        Utf8Case{"after_long_ascii_run", concat(ascii("0123456789abcdef"), {0xE2, 0x82}), incomplete(16)},
        Utf8Case{"ascii_run_then_invalid", concat(ascii("0123456789"), {0xFF, 0x61}), invalid(1, 10)},
        Utf8Case{"ascii_run_after_multibyte",
                 concat({0xC3, 0xA9}, concat(ascii("0123456789abcdefg"), {0xF0, 0x90, 0x80})),
                 incomplete(19)}),
    [](const ::testing::TestParamInfo<Utf8Case>& row) { return row.param.name; });

// An invalid byte anywhere in a run of ASCII is reported at its own index,
// whatever its position relative to the eight-byte steps.
TEST(Utf8CheckRuns, InvalidByteAtEveryPosition) {
  for (std::size_t length = 1; length <= 40; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      Bytes bytes(length, 'x');
      bytes[at] = 0x80;
      EXPECT_EQ(check_utf8(bytes).value_or(""), invalid(1, static_cast<int>(at))) << length << " " << at;
      bytes[at] = 0xC3;
      const std::string expected =
          at + 1 == length ? incomplete(static_cast<int>(at)) : invalid(1, static_cast<int>(at));
      EXPECT_EQ(check_utf8(bytes).value_or(""), expected) << length << " " << at;
    }
    EXPECT_FALSE(check_utf8(Bytes(length, 'x')).has_value());
  }
}

}  // namespace
}  // namespace varkel::decode
