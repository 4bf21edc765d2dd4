// The log-line grammar: a table of exact forms and near misses, and every
// line of the real fixture logs against an independent twin written with
// std::regex.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "tx/log_line.h"
#include "tx/tx_fixtures.h"

namespace varkel::tx {
namespace {

using testing::pid;

const std::string kOkx = "6m2CDdhRgxpH4WjvdzxAYbGxwdGUz5MziiL5jek2kBma";
const std::string kMaxKey = "JEKNVnkbo3jma5nREBBJCDoXFVeKkD56V3xKrvRmWxFG";  // 44 characters

struct LineCase {
  std::string name;
  std::string line;
  LineKind kind;
  std::string program = "";
  std::uint32_t depth = 0;
  std::string text = "";
};

class LineTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineTable, Classifies) {
  const LineCase& c = GetParam();
  const LogLine got = classify_log_line(c.line);
  EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(c.kind));
  EXPECT_EQ(got.program, c.program);
  EXPECT_EQ(got.depth, c.depth);
  EXPECT_EQ(got.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineTable,
    ::testing::Values(
        LineCase{"invoke_top", "Program " + kOkx + " invoke [1]", LineKind::Invoke, kOkx, 1},
        LineCase{"invoke_deep", "Program " + pid('T') + " invoke [12]", LineKind::Invoke, pid('T'), 12},
        LineCase{"invoke_44_char_id", "Program " + kMaxKey + " invoke [2]", LineKind::Invoke, kMaxKey, 2},
        LineCase{"invoke_max_depth", "Program " + kOkx + " invoke [4294967295]", LineKind::Invoke, kOkx,
                 4294967295u},
        LineCase{"invoke_depth_overflow", "Program " + kOkx + " invoke [4294967296]", LineKind::Other},
        LineCase{"invoke_depth_zero", "Program " + kOkx + " invoke [0]", LineKind::Other},
        LineCase{"invoke_leading_zero", "Program " + kOkx + " invoke [01]", LineKind::Other},
        LineCase{"invoke_no_depth", "Program " + kOkx + " invoke []", LineKind::Other},
        LineCase{"invoke_sign", "Program " + kOkx + " invoke [+1]", LineKind::Other},
        LineCase{"invoke_trailing_space", "Program " + kOkx + " invoke [1] ", LineKind::Other},
        LineCase{"invoke_trailing_line_feed", "Program " + kOkx + " invoke [1]\n", LineKind::Other},
        LineCase{"invoke_then_another_line", "Program " + kOkx + " invoke [1]\nProgram log: x",
                 LineKind::Other},
        LineCase{"id_31_chars", "Program " + std::string(31, 'A') + " invoke [1]", LineKind::Other},
        LineCase{"id_45_chars", "Program " + std::string(45, 'A') + " invoke [1]", LineKind::Other},
        LineCase{"id_with_zero", "Program " + std::string(31, 'A') + "0 invoke [1]", LineKind::Other},
        LineCase{"double_space", "Program  " + kOkx + " invoke [1]", LineKind::Other},
        LineCase{"success", "Program " + kOkx + " success", LineKind::Success, kOkx},
        LineCase{"success_trailing", "Program " + kOkx + " success!", LineKind::Other},
        LineCase{"failed", "Program " + kOkx + " failed: custom program error: 0x1771", LineKind::Failed,
                 kOkx, 0, "custom program error: 0x1771"},
        LineCase{"failed_empty_reason", "Program " + kOkx + " failed: ", LineKind::Failed, kOkx, 0, ""},
        LineCase{"failed_multiline_reason", "Program " + kOkx + " failed: a\nb", LineKind::Failed, kOkx, 0,
                 "a\nb"},
        LineCase{"failed_no_colon", "Program " + kOkx + " failed", LineKind::Other},
        LineCase{"consumed", "Program " + kOkx + " consumed 4338 of 191700 compute units", LineKind::Consumed,
                 kOkx},
        LineCase{"consumed_missing_number", "Program " + kOkx + " consumed 4338 of compute units",
                 LineKind::Other},
        LineCase{"consumed_negative", "Program " + kOkx + " consumed -1 of 2 compute units", LineKind::Other},
        LineCase{"consumed_trailing", "Program " + kOkx + " consumed 1 of 2 compute units.", LineKind::Other},
        LineCase{"return", "Program return: " + kOkx + " pQAAAAAAAAA=", LineKind::Return, kOkx, 0,
                 "pQAAAAAAAAA="},
        LineCase{"return_empty", "Program return: " + kOkx + " ", LineKind::Other},
        LineCase{"return_no_data", "Program return: " + kOkx, LineKind::Other},
        LineCase{"data_one_field", "Program data: QMbN6CYIceI=", LineKind::Data, "", 0, "QMbN6CYIceI="},
        LineCase{"data_two_fields", "Program data: AAAA BBBB", LineKind::Data, "", 0, "AAAA BBBB"},
        LineCase{"data_empty", "Program data: ", LineKind::Data, "", 0, ""},
        LineCase{"data_no_space", "Program data:", LineKind::Other},
        LineCase{"log", "Program log: Instruction: Swap", LineKind::Log, "", 0, "Instruction: Swap"},
        LineCase{"log_mentions_invoke", "Program log: will invoke [1]", LineKind::Log, "", 0,
                 "will invoke [1]"},
        LineCase{"log_holds_invoke_line", "Program log: Program " + kOkx + " invoke [1]", LineKind::Log, "",
                 0, "Program " + kOkx + " invoke [1]"},
        LineCase{"log_with_line_feeds", "Program log: a\nProgram " + kOkx + " invoke [2]", LineKind::Log, "",
                 0, "a\nProgram " + kOkx + " invoke [2]"},
        LineCase{"log_empty", "Program log: ", LineKind::Log, "", 0, ""},
        LineCase{"consumption", "Program consumption: 1399850 units remaining", LineKind::Consumption},
        LineCase{"consumption_no_number", "Program consumption: units remaining", LineKind::Other},
        LineCase{"truncated", "Log truncated", LineKind::Truncated},
        LineCase{"truncated_lowercase", "log truncated", LineKind::Other},
        LineCase{"truncated_period", "Log truncated.", LineKind::Other},
        LineCase{"builtin_text", "Transfer: insufficient lamports 1786770, need 2039280", LineKind::Other},
        LineCase{"not_deployed", "Program is not deployed", LineKind::Other},
        LineCase{"empty", "", LineKind::Other}, LineCase{"program_only", "Program ", LineKind::Other}),
    [](const ::testing::TestParamInfo<LineCase>& row) { return row.param.name; });

// The twin: each form as one anchored regular expression.
LogLine classify_with_regex(const std::string& line) {
  static const std::regex id_line(
      "^Program ([1-9A-HJ-NP-Za-km-z]{32,44}) "
      "(invoke \\[([1-9][0-9]{0,9})\\]|success|failed: ([\\s\\S]*)|consumed [0-9]+ of [0-9]+ compute "
      "units)$");
  static const std::regex ret("^Program return: ([1-9A-HJ-NP-Za-km-z]{32,44}) ([\\s\\S]+)$");
  static const std::regex data("^Program data: ([\\s\\S]*)$");
  static const std::regex log("^Program log: ([\\s\\S]*)$");
  static const std::regex consumption("^Program consumption: [0-9]+ units remaining$");
  std::smatch m;
  LogLine out;
  if (std::regex_match(line, m, data)) {
    out.kind = LineKind::Data;
  } else if (std::regex_match(line, m, log)) {
    out.kind = LineKind::Log;
  } else if (std::regex_match(line, m, ret)) {
    out.kind = LineKind::Return;
  } else if (std::regex_match(line, consumption)) {
    out.kind = LineKind::Consumption;
  } else if (line == "Log truncated") {
    out.kind = LineKind::Truncated;
  } else if (std::regex_match(line, m, id_line)) {
    const std::string word = m[2].str();
    if (word.starts_with("invoke")) {
      const unsigned long long depth = std::stoull(m[3].str());
      if (depth > 0xFFFFFFFFull) return out;
      out.kind = LineKind::Invoke;
      out.depth = static_cast<std::uint32_t>(depth);
    } else if (word == "success") {
      out.kind = LineKind::Success;
    } else if (word.starts_with("failed")) {
      out.kind = LineKind::Failed;
    } else {
      out.kind = LineKind::Consumed;
    }
  }
  return out;
}

TEST_P(LineTable, AgreesWithTheRegexTwin) {
  const LineCase& c = GetParam();
  const LogLine twin = classify_with_regex(c.line);
  EXPECT_EQ(static_cast<int>(twin.kind), static_cast<int>(c.kind));
  EXPECT_EQ(twin.depth, c.depth);
}

TEST(LogLineFixtures, EveryRealLineAgreesWithTheTwin) {
  const auto logs = testing::all_fixture_logs();
  if (logs.empty()) GTEST_SKIP() << "fixtures not available";
  std::map<LineKind, int> seen;
  std::size_t lines = 0;
  for (const auto& [file, list] : logs) {
    for (const std::string& line : list) {
      const LogLine got = classify_log_line(line);
      const LogLine twin = classify_with_regex(line);
      ASSERT_EQ(static_cast<int>(got.kind), static_cast<int>(twin.kind)) << file << ": " << line;
      ASSERT_EQ(got.depth, twin.depth) << file << ": " << line;
      ++seen[got.kind];
      ++lines;
    }
  }
  EXPECT_GT(lines, 600u);
  // The real logs hold every form but truncation and consumption lines.
  for (LineKind kind : {LineKind::Invoke, LineKind::Success, LineKind::Consumed, LineKind::Return,
                        LineKind::Data, LineKind::Log}) {
    EXPECT_GT(seen[kind], 0) << static_cast<int>(kind);
  }
}

}  // namespace
}  // namespace varkel::tx
