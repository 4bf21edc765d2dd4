#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "scan/payload.h"

namespace varkel::scan {
namespace {

struct PayloadCase {
  std::string name;
  std::string line;
  std::optional<std::string> expected;
};

class ExtractPayload : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(ExtractPayload, Table) {
  const PayloadCase& c = GetParam();
  const auto got = extract_payload(c.line);
  ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.line;
  if (got) {
    EXPECT_EQ(std::string(*got), *c.expected);
    // The payload is a slice of the line, not a copy.
    EXPECT_GE(got->data(), c.line.data());
    EXPECT_LE(got->data() + got->size(), c.line.data() + c.line.size());
  }
}

const std::string kNbsp = "\xC2\xA0";
const std::string kNel = "\xC2\x85";
const std::string kIdeographic = "\xE3\x80\x80";

INSTANTIATE_TEST_SUITE_P(
    Table, ExtractPayload,
    ::testing::Values(
        PayloadCase{"data", "Program data: AQID", "AQID"}, PayloadCase{"log", "Program log: AQID", "AQID"},
        PayloadCase{"data_empty", "Program data: ", ""}, PayloadCase{"log_empty", "Program log: ", ""},
        PayloadCase{"only_spaces", "Program data:    \t ", ""},
        PayloadCase{"only_wide_spaces", "Program log: " + kNbsp + kIdeographic + kNel, ""},
        PayloadCase{"plain_message", "Program log: Instruction: Transfer", "Instruction: Transfer"},
        PayloadCase{"no_space_after_colon", "Program data:AQID", std::nullopt},
        PayloadCase{"prefix_without_space", "Program data:", std::nullopt},
        PayloadCase{"lower_case", "program data: AQID", std::nullopt},
        PayloadCase{"leading_spaces", "  Program data: AQID", std::nullopt},
        PayloadCase{"other_line", "Program 11111111111111111111111111111111 invoke [1]", std::nullopt},
        PayloadCase{"empty_line", "", std::nullopt}, PayloadCase{"short_line", "Program", std::nullopt},
        PayloadCase{"log_without_space", "Program log:", std::nullopt},
        PayloadCase{"crlf", "Program data: AQID\r\n", "AQID"},
        PayloadCase{"tabs", "Program data:\tAQID", std::nullopt},
        PayloadCase{"tabs_both_ends", "Program data: \t\tAQID\t\v\f", "AQID"},
        PayloadCase{"extra_spaces", "Program data:     AQID   ", "AQID"},
        PayloadCase{"nbsp_trailing", "Program data: AQID" + kNbsp, "AQID"},
        PayloadCase{"nbsp_leading", "Program data: " + kNbsp + "AQID", "AQID"},
        PayloadCase{"ideographic_both", "Program log: " + kIdeographic + "AQID" + kIdeographic, "AQID"},
        PayloadCase{"next_line", "Program log: " + kNel + "AQID" + kNel, "AQID"},
        PayloadCase{"mixed_ends",
                    "Program data: \r" + kNbsp +
                        " \xE2\x80\x80"
                        "AQ==\xE2\x80\xA8\n\xE2\x80\x8A" +
                        kNbsp,
                    "AQ=="},
        PayloadCase{"all_wide_spaces",
                    "Program data: \xE1\x9A\x80\xE2\x80\x85\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F"
                    "x"
                    "\xE1\x9A\x80\xE2\x80\x85\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F",
                    "x"},
        PayloadCase{"inner_spaces_kept", "Program data: AQ== AQ==", "AQ== AQ=="},
        PayloadCase{"inner_wide_space_kept", "Program data: AQ" + kNbsp + "ID", "AQ" + kNbsp + "ID"},
        // Characters that are not White_Space stay, also at the ends.
        PayloadCase{"zero_width_space_kept",
                    "Program data: \xE2\x80\x8B"
                    "AQID\xE2\x80\x8B",
                    "\xE2\x80\x8B"
                    "AQID\xE2\x80\x8B"},
        PayloadCase{"word_joiner_kept", "Program data: AQID\xE2\x81\xA0", "AQID\xE2\x81\xA0"},
        PayloadCase{"bom_kept",
                    "Program data: \xEF\xBB\xBF"
                    "AQID",
                    "\xEF\xBB\xBF"
                    "AQID"},
        PayloadCase{"latin_ending_in_a0_kept", "Program data: AQID\xC3\xA0", "AQID\xC3\xA0"},
        PayloadCase{"cjk_ending_in_80_80_kept", "Program data: AQID\xE4\x80\x80", "AQID\xE4\x80\x80"},
        PayloadCase{"nul_kept", std::string("Program data: AQID\0", 19), std::string("AQID\0", 5)},
        PayloadCase{"data_prefix_inside_log", "Program log: Program data: AQID", "Program data: AQID"}),
    [](const ::testing::TestParamInfo<PayloadCase>& row) { return row.param.name; });

// Malformed UTF-8 at either end is left alone and never read past.
TEST(ExtractPayloadBounds, TruncatedSequencesAtEnds) {
  for (const std::string tail : {"\xC2", "\xE2", "\xE2\x80", "\xE3\x80", "\xE1\x9A", "\x80", "\xA0"}) {
    const std::string line = "Program data: " + tail;
    const auto got = extract_payload(line);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::string(*got), tail);
  }
}

// Lines built from whole characters, spaces and not, trimmed by a reference
// that decodes every code point; the line sits in a buffer of its exact size.
TEST(ExtractPayloadBounds, MatchesCodePointReference) {
  struct Piece {
    std::string bytes;
    bool space;
  };
  const std::vector<Piece> pieces = {{" ", true},
                                     {"\t", true},
                                     {"\n", true},
                                     {"\v", true},
                                     {"\f", true},
                                     {"\r", true},
                                     {"\xC2\x85", true},
                                     {"\xC2\xA0", true},
                                     {"\xE1\x9A\x80", true},
                                     {"\xE2\x80\x80", true},
                                     {"\xE2\x80\x8A", true},
                                     {"\xE2\x80\xA8", true},
                                     {"\xE2\x80\xA9", true},
                                     {"\xE2\x80\xAF", true},
                                     {"\xE2\x81\x9F", true},
                                     {"\xE3\x80\x80", true},
                                     {"A", false},
                                     {"=", false},
                                     {"\x1F", false},
                                     {"\xC2\x84", false},
                                     {"\xC3\xA0", false},
                                     {"\xE2\x80\x8B", false},
                                     {"\xE2\x80\xB0", false},
                                     {"\xE3\x80\x81", false},
                                     {"\xE1\x9A\x81", false},
                                     {"\xF0\x9F\x98\x80", false},
                                     {"\xEF\xBB\xBF", false}};
  std::mt19937 rng(1680);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> count(0, 6);
  for (int round = 0; round < 20000; ++round) {
    std::vector<const Piece*> chosen(static_cast<std::size_t>(count(rng) + count(rng)));
    for (auto& piece : chosen) piece = &pieces[pick(rng)];
    std::size_t first = 0;
    while (first < chosen.size() && chosen[first]->space) ++first;
    std::size_t last = chosen.size();
    while (last > first && chosen[last - 1]->space) --last;
    std::string body;
    std::string expected;
    for (std::size_t k = 0; k < chosen.size(); ++k) {
      body += chosen[k]->bytes;
      if (k >= first && k < last) expected += chosen[k]->bytes;
    }
    const std::string text = (round % 2 ? "Program log: " : "Program data: ") + body;
    auto exact = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), exact.get());
    const auto got = extract_payload(std::string_view(exact.get(), text.size()));
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(std::string(*got), expected) << "round " << round;
  }
}

}  // namespace
}  // namespace varkel::scan
