#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "idl/case.h"
#include "idl/unicode_tables.h"

namespace varkel::idl {
namespace {

std::vector<std::string> strings(const std::vector<std::string_view>& views) {
  return {views.begin(), views.end()};
}

// Segments as (offset, length) pairs into `text`, so that equal contents at
// different places do not compare equal.
std::vector<std::pair<std::size_t, std::size_t>> spans(std::string_view text,
                                                       const std::vector<std::string_view>& views) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (const std::string_view v : views) {
    out.emplace_back(static_cast<std::size_t>(v.data() - text.data()), v.size());
  }
  return out;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80                 ? 1
                      : b >= 0xC2 && b <= 0xDF ? 2
                      : b >= 0xE0 && b <= 0xEF ? 3
                      : b >= 0xF0 && b <= 0xF4 ? 4
                                               : 0;
    if (len == 0 || s.size() - i < len) return false;
    char32_t cp = len == 1 ? b : b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const char32_t min = len == 1 ? 0 : len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// ---------------------------------------------------------------------------
// to_snake_case

struct SnakeRow {
  std::string_view input;
  std::string_view expected;
};

void PrintTo(const SnakeRow& row, std::ostream* os) {
  *os << '"' << row.input << '"';
}

class SnakeCaseTable : public ::testing::TestWithParam<SnakeRow> {};

TEST_P(SnakeCaseTable, Converts) {
  const SnakeRow& row = GetParam();
  EXPECT_EQ(to_snake_case(row.input), row.expected) << "input: " << row.input;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SnakeCaseTable,
    ::testing::Values(
        SnakeRow{"initializeMarket", "initialize_market"}, SnakeRow{"userKey", "user_key"},
        SnakeRow{"UserKey", "user_key"}, SnakeRow{"user_key", "user_key"}, SnakeRow{"user__key", "user_key"},
        SnakeRow{"_private", "private"}, SnakeRow{"value_", "value"}, SnakeRow{"XMLParser", "xml_parser"},
        SnakeRow{"myXMLParser", "my_xml_parser"}, SnakeRow{"ABC", "abc"}, SnakeRow{"aBC", "a_bc"},
        SnakeRow{"ABc", "a_bc"}, SnakeRow{"user2Key", "user2_key"}, SnakeRow{"A1b", "a1b"},
        SnakeRow{"ab2", "ab2"}, SnakeRow{"Foo_Bar", "foo_bar"}, SnakeRow{"foo bar", "foo_bar"},
        SnakeRow{"foo-bar", "foo_bar"}, SnakeRow{"a.b", "a.b"}, SnakeRow{"a::b", "a_b"}, SnakeRow{"___", ""},
        SnakeRow{"", ""},
        // More ASCII.
        SnakeRow{"_", ""}, SnakeRow{"  -- ", ""}, SnakeRow{"a", "a"}, SnakeRow{"A", "a"}, SnakeRow{"1", "1"},
        SnakeRow{"__a__b__", "a_b"}, SnakeRow{"a_B", "a_b"}, SnakeRow{"HTTPServer2Go", "http_server2_go"},
        SnakeRow{"getHTTP", "get_http"}, SnakeRow{"snake_Case_ID", "snake_case_id"},
        SnakeRow{"can'tStop", "can't_stop"}, SnakeRow{"3.14", "3.14"}, SnakeRow{"v1.2", "v1.2"},
        SnakeRow{"a:B", "a:_b"}, SnakeRow{"\tx\r\ny\n", "x_y"}, SnakeRow{"2fast", "2fast"},
        SnakeRow{"_1a", "1a"},
        // Non-ASCII.
        SnakeRow{"ΟΔΟΣ", "οδο\u03C2"}, SnakeRow{"ΣΑΣ", "σα\u03C2"}, SnakeRow{"ΟΔΟΣKey", "οδο\u03C2_key"},
        SnakeRow{"ΣΑΣ_ΣΟΣ", "σα\u03C2_σο\u03C2"}, SnakeRow{"Straße", "straße"},
        SnakeRow{"StraßeNummer", "straße_nummer"}, SnakeRow{"İstanbul", "i\u0307stanbul"},
        SnakeRow{"İ", "i\u0307"}, SnakeRow{"Àéîõü", "àéîõü"}, SnakeRow{"ÀÉÎõü", "àé_îõü"},
        SnakeRow{"ДомКнига", "дом_книга"}, SnakeRow{"東京タワー", "東_京_タワー"},
        SnakeRow{"カタ_カナ", "カタ_カナ"},
        SnakeRow{"\U00010400\U00010428", "\U00010428\U00010428"},  // Deseret
        SnakeRow{"fix👍Bug", "fix_bug"}, SnakeRow{"x\u00BDy", "x_\u00BD_y"}, SnakeRow{"\u01C5", "\u01C6"},
        SnakeRow{"ab\xFF"
                 "cd",
                 "ab_cd"},
        SnakeRow{"\xE0\x80\x80", ""}, SnakeRow{"\xFF\u093E", "\uFFFD\u093E"}));

// ---------------------------------------------------------------------------
// split_words

struct SplitRow {
  std::string_view input;
  std::vector<std::string> expected;
};

void PrintTo(const SplitRow& row, std::ostream* os) {
  *os << '"' << row.input << '"';
}

class SplitWordsTable : public ::testing::TestWithParam<SplitRow> {};

TEST_P(SplitWordsTable, BothPathsGiveTheSegments) {
  const SplitRow& row = GetParam();
  EXPECT_EQ(strings(split_words(row.input)), row.expected) << "input: " << row.input;
  EXPECT_EQ(strings(split_words_unicode(row.input)), row.expected) << "input: " << row.input;
  EXPECT_EQ(strings(split_words_ascii(row.input)), row.expected) << "input: " << row.input;
}

INSTANTIATE_TEST_SUITE_P(
    Ascii, SplitWordsTable,
    ::testing::Values(SplitRow{"user_key", {"user_key"}}, SplitRow{"user2Key", {"user2Key"}},
                      SplitRow{"a.b", {"a.b"}}, SplitRow{"a:b", {"a:b"}}, SplitRow{"can't", {"can't"}},
                      SplitRow{"3.14", {"3.14"}}, SplitRow{"1,000;5", {"1,000;5"}},
                      SplitRow{"a-b", {"a", "b"}}, SplitRow{"a b", {"a", "b"}}, SplitRow{"a;b", {"a", "b"}},
                      SplitRow{"a::b", {"a", "b"}}, SplitRow{"a,b", {"a", "b"}}, SplitRow{"1:2", {"1", "2"}},
                      SplitRow{"a.1", {"a", "1"}}, SplitRow{"a..b", {"a", "b"}}, SplitRow{"a.", {"a"}},
                      SplitRow{".a", {"a"}}, SplitRow{"a_.b", {"a_", "b"}}, SplitRow{"a.b.c", {"a.b.c"}},
                      SplitRow{"_x_ _", {"_x_"}}, SplitRow{"", {}}, SplitRow{"   ", {}},
                      SplitRow{"x\r\ny", {"x", "y"}}, SplitRow{"x\ty\vz\fw", {"x", "y", "z", "w"}}));

struct SegmentRow {
  std::string_view input;
  std::vector<std::string> kept;  // split_words
  std::vector<std::string> all;   // word_segments
};

void PrintTo(const SegmentRow& row, std::ostream* os) {
  *os << '"' << row.input << '"';
}

class WordSegmentsTable : public ::testing::TestWithParam<SegmentRow> {};

TEST_P(WordSegmentsTable, Segments) {
  const SegmentRow& row = GetParam();
  EXPECT_EQ(strings(split_words(row.input)), row.kept);
  EXPECT_EQ(strings(word_segments(row.input)), row.all);
}

INSTANTIATE_TEST_SUITE_P(
    Unicode, WordSegmentsTable,
    ::testing::Values(
        // WB3c: ZWJ joins emoji; emoji are neither letters nor digits.
        SegmentRow{"a👨\u200D👩b", {"a", "b"}, {"a", "👨\u200D👩", "b"}},
        // WB4: combining marks stay with their letter.
        SegmentRow{"e\u0301t\u00E9", {"e\u0301t\u00E9"}, {"e\u0301t\u00E9"}},
        // WB7a-c: Hebrew letters with quotes.
        SegmentRow{"\u05D0\"\u05D1", {"\u05D0\"\u05D1"}, {"\u05D0\"\u05D1"}},
        SegmentRow{"\u05D0'", {"\u05D0'"}, {"\u05D0'"}}, SegmentRow{"a\"b", {"a", "b"}, {"a", "\"", "b"}},
        // WB13: Katakana runs; ideographs stand alone.
        SegmentRow{"カタカナ漢字", {"カタカナ", "漢", "字"}, {"カタカナ", "漢", "字"}},
        // WB15/16: regional indicators pair up.
        SegmentRow{"\U0001F1E6\U0001F1E7\U0001F1E8", {}, {"\U0001F1E6\U0001F1E7", "\U0001F1E8"}},
        // WB3d: spaces of any kind join.
        SegmentRow{"a\u3000\u2003b", {"a", "b"}, {"a", "\u3000\u2003", "b"}},
        // WB11/12 with Arabic-Indic digits; WB13a/b with a connector.
        SegmentRow{"\u0661\u066C\u0662", {"\u0661\u066C\u0662"}, {"\u0661\u066C\u0662"}},
        SegmentRow{"a\u203Fb", {"a\u203Fb"}, {"a\u203Fb"}},
        // Invalid bytes are single characters.
        SegmentRow{"a\x80\xC3", {"a"}, {"a", "\x80", "\xC3"}}));

// ---------------------------------------------------------------------------
// Character tables

TEST(UnicodeTables, Properties) {
  namespace uc = unicode;
  EXPECT_STREQ(uc::kUnicodeVersion, "15.0.0");
  struct Row {
    char32_t cp;
    uc::WordBreak wb;
    std::uint16_t flags;
  };
  const Row rows[] = {
      {U'A', uc::WordBreak::ALetter, uc::kAlphabetic | uc::kUppercase},
      {U'z', uc::WordBreak::ALetter, uc::kAlphabetic | uc::kLowercase},
      {U'7', uc::WordBreak::Numeric, uc::kNumeric},
      {U'_', uc::WordBreak::ExtendNumLet, 0},
      {0x00DF, uc::WordBreak::ALetter, uc::kAlphabetic | uc::kLowercase},
      {0x01C5, uc::WordBreak::ALetter, uc::kAlphabetic},
      {0x00BD, uc::WordBreak::Other, uc::kNumeric},
      {0x2163, uc::WordBreak::ALetter, uc::kAlphabetic | uc::kUppercase | uc::kNumeric},
      {0x0660, uc::WordBreak::Numeric, uc::kNumeric},
      {0x05D0, uc::WordBreak::Hebrew_Letter, uc::kAlphabetic},
      {0x30A2, uc::WordBreak::Katakana, uc::kAlphabetic},
      {0x4E00, uc::WordBreak::Other, uc::kAlphabetic},
      {0x0301, uc::WordBreak::Extend, 0},
      {0x093E, uc::WordBreak::Extend, uc::kAlphabetic},
      {0x200D, uc::WordBreak::ZWJ, 0},
      {0x00AD, uc::WordBreak::Format, 0},
      {0x1F600, uc::WordBreak::Other, uc::kExtendedPictographic},
      {0x1F1E6, uc::WordBreak::Regional_Indicator, 0},
      {0x3000, uc::WordBreak::WSegSpace, 0},
      {0x2028, uc::WordBreak::Newline, 0},
      {0xE0001, uc::WordBreak::Format, 0},
      {0x10FFFF, uc::WordBreak::Other, 0},
      {0x110000, uc::WordBreak::Other, 0},
  };
  for (const Row& row : rows) {
    const std::uint16_t p = uc::properties(row.cp);
    EXPECT_EQ(uc::word_break(p), row.wb) << std::hex << static_cast<std::uint32_t>(row.cp);
    EXPECT_EQ(p & ~uc::kWordBreakMask, row.flags) << std::hex << static_cast<std::uint32_t>(row.cp);
  }
}

TEST(UnicodeTables, LowerCaseMapping) {
  struct Row {
    char32_t cp;
    std::u32string expected;
  };
  const Row rows[] = {
      {U'A', U"a"},
      {U'Z', U"z"},
      {U'a', U"a"},
      {U'1', U"1"},
      {0x00C0, U"\u00E0"},
      {0x00DF, U"\u00DF"},
      {0x0100, U"\u0101"},
      {0x0101, U"\u0101"},
      {0x012E, U"\u012F"},
      {0x0130, U"i\u0307"},
      {0x0178, U"\u00FF"},
      {0x01C5, U"\u01C6"},
      {0x03A3, U"\u03C3"},
      {0x0410, U"\u0430"},
      {0x1E9E, U"\u00DF"},
      {0x212A, U"k"},
      {0x2163, U"\u2173"},
      {0xFF21, U"\uFF41"},
      {0x10400, U"\U00010428"},
      {0x1E900, U"\U0001E922"},
      {0x10FFFF, U"\U0010FFFF"},
  };
  for (const Row& row : rows) {
    char32_t out[3];
    const std::size_t n = unicode::to_lower_full(row.cp, out);
    EXPECT_EQ(std::u32string(out, n), row.expected) << std::hex << static_cast<std::uint32_t>(row.cp);
  }
}

// ---------------------------------------------------------------------------
// The ASCII scan and the full rules agree on ASCII text.

void expect_paths_agree(std::string_view text) {
  const auto ascii = split_words_ascii(text);
  const auto unicode = split_words_unicode(text);
  ASSERT_EQ(spans(text, ascii), spans(text, unicode)) << "input: \"" << text << "\"";
  ASSERT_EQ(to_snake_case(text), join_snake_case(unicode)) << "input: \"" << text << "\"";
}

TEST(SplitWordsPaths, AgreeOnAllShortStrings) {
  const std::string_view alphabet = "aA1_ .:',;-\r\n\"";
  std::string text;
  for (std::size_t len = 0; len <= 4; ++len) {
    std::size_t total = 1;
    for (std::size_t k = 0; k < len; ++k) total *= alphabet.size();
    for (std::size_t code = 0; code < total; ++code) {
      text.clear();
      for (std::size_t k = 0, c = code; k < len; ++k, c /= alphabet.size()) {
        text += alphabet[c % alphabet.size()];
      }
      expect_paths_agree(text);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(SplitWordsPaths, AgreeOnRandomAscii) {
  std::mt19937 rng(20240611);
  const std::string_view common = "abXY09_ .:',;-";
  std::string text;
  for (int round = 0; round < 5000; ++round) {
    text.clear();
    const std::size_t len = rng() % 24;
    for (std::size_t k = 0; k < len; ++k) {
      // Mostly characters that interact, sometimes any ASCII byte.
      text += rng() % 4 == 0 ? static_cast<char>(rng() % 128) : common[rng() % common.size()];
    }
    expect_paths_agree(text);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// ---------------------------------------------------------------------------
// Arbitrary input never breaks the functions.

void check_sound(std::string_view text) {
  const auto all = word_segments(text);
  std::string joined;
  for (const std::string_view s : all) {
    ASSERT_FALSE(s.empty());
    ASSERT_EQ(s.data(), text.data() + joined.size());
    joined += s;
  }
  ASSERT_EQ(joined, text);
  const auto kept = split_words(text);
  std::size_t at = 0;
  for (const std::string_view s : kept) {
    while (at < all.size() && all[at].data() != s.data()) ++at;
    ASSERT_LT(at, all.size());
    ASSERT_EQ(all[at].size(), s.size());
  }
  const std::string snake = to_snake_case(text);
  ASSERT_TRUE(valid_utf8(snake));
  ASSERT_EQ(snake.empty(), kept.empty());
}

TEST(SplitWordsRobustness, RandomBytes) {
  std::mt19937 rng(7);
  std::string text;
  for (int round = 0; round < 5000; ++round) {
    text.clear();
    const std::size_t len = rng() % 40;
    for (std::size_t k = 0; k < len; ++k) text += static_cast<char>(rng() % 256);
    check_sound(text);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(SplitWordsRobustness, RandomUtf8OfAnyScript) {
  std::mt19937 rng(11);
  // Ranges with many letters, marks and joiners, and the whole code space.
  const std::pair<char32_t, char32_t> ranges[] = {
      {0x0000, 0x007F},   {0x0080, 0x07FF},   {0x0300, 0x036F},   {0x0590, 0x06FF},   {0x0900, 0x0DFF},
      {0x1F00, 0x1FFF},   {0x2000, 0x206F},   {0x3000, 0x30FF},   {0x4E00, 0x4E40},   {0xFE00, 0xFFFF},
      {0x1F1E6, 0x1F1FF}, {0x1F300, 0x1FAFF}, {0xE0000, 0xE007F}, {0x0000, 0x10FFFF},
  };
  std::string text;
  for (int round = 0; round < 5000; ++round) {
    text.clear();
    const std::size_t len = rng() % 16;
    for (std::size_t k = 0; k < len; ++k) {
      const auto& [lo, hi] = ranges[rng() % std::size(ranges)];
      char32_t cp = lo + static_cast<char32_t>(rng() % (hi - lo + 1));
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0x200D;
      append_utf8(text, cp);
    }
    ASSERT_TRUE(valid_utf8(text));
    check_sound(text);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// ---------------------------------------------------------------------------
// The word-boundary test cases of the Unicode Character Database.

TEST(WordBoundaries, UnicodeTestFile) {
  const std::string path = std::string(VARKEL_TEST_DATA) + "/unicode/WordBreakTest.txt";
  std::ifstream in(path);
  ASSERT_TRUE(in) << "cannot open " << path;
  const std::string_view no_break = "\u00D7";
  const std::string_view do_break = "\u00F7";
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string word;
    std::string text;
    std::vector<std::string> expected;
    std::string current;
    while (words >> word) {
      if (word == do_break) {
        if (!current.empty()) expected.push_back(current);
        current.clear();
      } else if (word != no_break) {
        std::string piece;
        append_utf8(piece, static_cast<char32_t>(std::stoul(word, nullptr, 16)));
        text += piece;
        current += piece;
      }
    }
    if (text.empty()) continue;
    ++cases;
    EXPECT_EQ(strings(word_segments(text)), expected) << "line: " << line;
  }
  EXPECT_GT(cases, 1800);
}

}  // namespace
}  // namespace varkel::idl
