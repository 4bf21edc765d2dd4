// The invoke-stack walk: a table of well-formed, malformed and hostile logs
// (frames, candidates and what was recorded), and the real fixture logs (in
// step, every frame closed, one frame per inner instruction). 100,000-line
// logs go through the package (tests/python/tx/test_hostile_logs.py).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tx/log_walk.h"
#include "tx/tx_fixtures.h"

namespace varkel::tx {
namespace {

using testing::pid;

std::string inv(char program, int depth) {
  return "Program " + pid(program) + " invoke [" + std::to_string(depth) + "]";
}
std::string ok(char program) {
  return "Program " + pid(program) + " success";
}
std::string failed(char program) {
  return "Program " + pid(program) + " failed: custom program error: 0x1";
}
std::string consumed(char program) {
  return "Program " + pid(program) + " consumed 100 of 200000 compute units";
}
const std::string kData = "Program data: QMbN6CYIceI=";
const std::string kLogText = "Program log: Instruction: Swap";

struct ExpectedFrame {
  char program;
  std::uint32_t depth;
  std::int32_t top;
  std::int32_t inner;
};

struct ExpectedCandidate {
  std::uint32_t line;
  std::int32_t frame;
  bool truncated = false;
};

struct WalkCase {
  std::string name;
  std::vector<std::string> lines;
  std::vector<ExpectedFrame> frames;
  std::vector<ExpectedCandidate> candidates;
  std::optional<std::uint32_t> out_of_step_at = std::nullopt;
  std::optional<std::uint32_t> truncated_at = std::nullopt;
  bool top_level_failed = false;
};

class WalkTable : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkTable, RecordsFramesCandidatesAndIrregularities) {
  const WalkCase& c = GetParam();
  const LogWalk walk = walk_logs(testing::views(c.lines));
  EXPECT_EQ(walk.lines, c.lines.size());
  ASSERT_EQ(walk.frames.size(), c.frames.size());
  for (std::size_t k = 0; k < c.frames.size(); ++k) {
    const Frame& f = walk.frames[k];
    EXPECT_EQ(f.program, pid(c.frames[k].program)) << "frame " << k;
    EXPECT_EQ(f.depth, c.frames[k].depth) << "frame " << k;
    EXPECT_EQ(f.top, c.frames[k].top) << "frame " << k;
    EXPECT_EQ(f.inner, c.frames[k].inner) << "frame " << k;
  }
  ASSERT_EQ(walk.candidates.size(), c.candidates.size());
  for (std::size_t k = 0; k < c.candidates.size(); ++k) {
    EXPECT_EQ(walk.candidates[k].line, c.candidates[k].line) << "candidate " << k;
    EXPECT_EQ(walk.candidates[k].frame, c.candidates[k].frame) << "candidate " << k;
    EXPECT_EQ(walk.candidates[k].after_truncation, c.candidates[k].truncated) << "candidate " << k;
    EXPECT_EQ(walk.candidates[k].data_line, c.lines[c.candidates[k].line].starts_with("Program data: "))
        << "candidate " << k;
  }
  EXPECT_EQ(walk.out_of_step, c.out_of_step_at.has_value());
  EXPECT_EQ(walk.first_out_of_step, c.out_of_step_at);
  EXPECT_EQ(walk.truncated_at, c.truncated_at);
  EXPECT_EQ(walk.top_level_failed, c.top_level_failed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WalkTable,
    ::testing::Values(
        WalkCase{"empty", {}, {}, {}},
        WalkCase{"nested_frames",
                 {inv('A', 1), kData, inv('B', 2), kData, inv('C', 3), ok('C'), consumed('B'), ok('B'), kData,
                  inv('D', 2), ok('D'), ok('A'), inv('E', 1), kData, ok('E')},
                 {{'A', 1, 0, -1}, {'B', 2, 0, 0}, {'C', 3, 0, 1}, {'D', 2, 0, 2}, {'E', 1, 1, -1}},
                 {{1, 0}, {3, 1}, {8, 0}, {13, 4}}},
        // A log text that mentions invoke is a log line: no phantom frame, and
        // the next event still belongs to A.
        WalkCase{"log_text_mentions_invoke",
                 {inv('A', 1), "Program log: will invoke [2] now",
                  "Program log: Program " + pid('B') + " invoke [2]", kData, ok('A')},
                 {{'A', 1, 0, -1}},
                 {{3, 0}}},
        WalkCase{"line_feed_inside_an_element",
                 {inv('A', 1), "Program log: a\n" + inv('B', 2), kData, ok('A')},
                 {{'A', 1, 0, -1}},
                 {{2, 0}}},
        // B never closes: C at depth 2 cuts the stack back to A.
        WalkCase{"missing_close",
                 {inv('A', 1), inv('B', 2), kData, inv('C', 2), kData, ok('C'), ok('A')},
                 {{'A', 1, 0, -1}, {'B', 2, 0, 0}, {'C', 2, 0, 1}},
                 {{2, 1}, {4, 2}},
                 3},
        // A depth-2 frame is missing: C goes on top at depth 3 anyway.
        WalkCase{"depth_jump",
                 {inv('A', 1), inv('C', 3), kData, ok('C'), ok('A')},
                 {{'A', 1, 0, -1}, {'C', 3, 0, 0}},
                 {{2, 1}},
                 1},
        WalkCase{"close_of_a_program_not_on_the_stack",
                 {inv('A', 1), ok('Z'), kData, ok('A')},
                 {{'A', 1, 0, -1}},
                 {{2, 0}},
                 1},
        WalkCase{"close_pops_through_a_deeper_frame",
                 {inv('A', 1), inv('B', 2), inv('C', 3), ok('B'), kData, ok('A')},
                 {{'A', 1, 0, -1}, {'B', 2, 0, 0}, {'C', 3, 0, 1}},
                 {{4, 0}},
                 3},
        WalkCase{"failed_closes_like_success",
                 {inv('A', 1), inv('B', 2), kData, failed('B'), failed('A'), kData},
                 {{'A', 1, 0, -1}, {'B', 2, 0, 0}},
                 {{2, 1}, {5, -1}},
                 std::nullopt,
                 std::nullopt,
                 true},
        WalkCase{"inner_failure_alone_is_not_a_failed_transaction",
                 {inv('A', 1), inv('B', 2), failed('B'), ok('A')},
                 {{'A', 1, 0, -1}, {'B', 2, 0, 0}},
                 {}},
        WalkCase{"data_outside_any_frame",
                 {kData, inv('A', 1), ok('A'), kData},
                 {{'A', 1, 0, -1}},
                 {{0, -1}, {3, -1}}},
        WalkCase{"only_single_field_data_lines",
                 {inv('A', 1), "Program data: AAAA BBBB", "Program data: ", "Program data: QMbN6CYIceI= ",
                  "Program log: two words", "Program log: QMbN6CYIceI=", ok('A')},
                 {{'A', 1, 0, -1}},
                 {{3, 0}, {5, 0}}},
        WalkCase{"truncated_in_the_middle",
                 {inv('A', 1), kData, "Log truncated", kData, ok('A'), inv('B', 1), kData, ok('B')},
                 {{'A', 1, 0, -1}, {'B', 1, 1, -1}},
                 {{1, 0}, {3, 0, true}, {6, 1, true}},
                 std::nullopt,
                 2},
        WalkCase{"truncation_dropped_the_closes",
                 {inv('A', 1), inv('B', 2), "Log truncated", inv('C', 1), kData},
                 {{'A', 1, 0, -1}, {'B', 2, 0, 0}, {'C', 1, 1, -1}},
                 {{4, 2, true}},
                 3,
                 2},
        WalkCase{"unclosed_at_the_end", {inv('A', 1), kData}, {{'A', 1, 0, -1}}, {{1, 0}}, 2},
        WalkCase{"invoke_below_depth_one_on_an_empty_stack",
                 {inv('B', 2), kData, ok('B'), inv('A', 1), inv('C', 2), ok('C'), ok('A')},
                 {{'B', 2, -1, -1}, {'A', 1, 0, -1}, {'C', 2, 0, 0}},
                 {{1, 0}},
                 0},
        WalkCase{
            "consumed_of_another_program", {inv('A', 1), consumed('B'), ok('A')}, {{'A', 1, 0, -1}}, {}, 1},
        WalkCase{"builtin_free_text_and_return_lines",
                 {inv('A', 1), "Transfer: insufficient lamports 1786770, need 2039280",
                  "Program return: " + pid('A') + " AAAA", "Program consumption: 1000 units remaining",
                  kLogText, "Program log: QMbN6CYIceI=", ok('A')},
                 {{'A', 1, 0, -1}},
                 {{5, 0}}}),
    [](const ::testing::TestParamInfo<WalkCase>& row) { return row.param.name; });

TEST(LogWalk, FeedingLineByLineEqualsTheWholeList) {
  const std::vector<std::string> lines = {inv('A', 1), kData, inv('B', 2), kData, ok('B'), ok('A')};
  LogWalker walker;
  for (const std::string& line : lines) walker.feed(line);
  const LogWalk fed = walker.finish();
  const LogWalk whole = walk_logs(testing::views(lines));
  ASSERT_EQ(fed.frames.size(), whole.frames.size());
  ASSERT_EQ(fed.candidates.size(), whole.candidates.size());
  for (std::size_t k = 0; k < fed.candidates.size(); ++k) {
    EXPECT_EQ(fed.candidates[k].frame, whole.candidates[k].frame);
    EXPECT_EQ(fed.candidates[k].payload, whole.candidates[k].payload);
  }
  // The walker starts over after finish().
  walker.feed(inv('C', 1));
  const LogWalk again = walker.finish();
  ASSERT_EQ(again.frames.size(), 1u);
  EXPECT_EQ(again.frames[0].top, 0);
  EXPECT_TRUE(again.out_of_step);
}

// Every real log: in step, every frame closed, no truncation; and in every
// getTransaction fixture, the frames below depth 1 of instruction i are its
// inner instructions, entry by entry (program and stack height).
TEST(LogWalkFixtures, RealLogsAreInStep) {
  const auto logs = testing::all_fixture_logs();
  if (logs.empty()) GTEST_SKIP() << "fixtures not available";
  for (const auto& [file, lines] : logs) {
    const LogWalk walk = walk_logs(testing::views(lines));
    EXPECT_FALSE(walk.out_of_step) << file << " at line " << walk.first_out_of_step.value_or(0);
    EXPECT_FALSE(walk.truncated_at.has_value()) << file;
    EXPECT_FALSE(walk.top_level_failed) << file;
    for (const Candidate& c : walk.candidates) {
      if (lines[c.line].starts_with("Program data: ")) {
        EXPECT_NE(c.frame, kNoIndex) << file << " line " << c.line;
      }
    }
  }
}

TEST(LogWalkFixtures, FramesLineUpWithInnerInstructions) {
  int checked = 0;
  // Encodings "json" (agavesim) and "jsonParsed" (chainstack).
  for (const char* name :
       {"agavesim-pump_amm-okx-route-tx-2zNeSn8c.json", "agavesim-pump_amm-buy-tx-5bvyp1no.json",
        "agavesim-raydium-clmm-swapv2-tx-2cd7QQSB.json", "chainstack-pump-buy-getTransaction-2024.json",
        "chainstack-pump-create-getTransaction-2024.json"}) {
    const auto path = testing::kLogFixtures / name;
    const auto text = testing::fixture_text(path);
    if (!text) GTEST_SKIP() << "fixture not available: " << path;
    const json::Value root = *json::parse(*text);
    const json::Value& result = *root.get("result");
    const json::Array& keys = result.get("transaction")->get("message")->get("accountKeys")->as_array();
    std::vector<std::string> all;
    for (const json::Value& k : keys)
      all.push_back(k.is_string() ? k.as_string() : k.get("pubkey")->as_string());
    if (const json::Value* loaded = result.get("meta")->get("loadedAddresses")) {  // absent in some dumps
      for (const char* part : {"writable", "readonly"}) {
        for (const json::Value& k : loaded->get(part)->as_array()) all.push_back(k.as_string());
      }
    }
    std::vector<std::string> lines;
    for (const json::Value& line : result.get("meta")->get("logMessages")->as_array()) {
      lines.push_back(line.as_string());
    }
    const LogWalk walk = walk_logs(testing::views(lines));
    for (const json::Value& group : result.get("meta")->get("innerInstructions")->as_array()) {
      const auto index = static_cast<std::uint32_t>(group.get("index")->as_uint());
      std::vector<const Frame*> frames;
      for (const Frame& f : walk.frames) {
        if (f.top == index && f.depth >= 2) frames.push_back(&f);
      }
      const json::Array& inner = group.get("instructions")->as_array();
      ASSERT_EQ(frames.size(), inner.size()) << name << " instruction " << index;
      for (std::size_t j = 0; j < inner.size(); ++j) {
        EXPECT_EQ(frames[j]->inner, static_cast<std::int32_t>(j));
        const json::Value* index_of = inner[j].get("programIdIndex");  // "jsonParsed": programId
        const std::string& program =
            index_of != nullptr ? all[index_of->as_uint()] : inner[j].get("programId")->as_string();
        EXPECT_EQ(frames[j]->program, program) << name << " " << j;
        EXPECT_EQ(frames[j]->depth, inner[j].get("stackHeight")->as_uint()) << name << " " << j;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 40);
}

}  // namespace
}  // namespace varkel::tx
