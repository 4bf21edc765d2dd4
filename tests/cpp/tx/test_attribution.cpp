// Attribution: a table of transactions built on the model (spoofing
// attempts, self-CPI rules, duplicates, alignment with the instructions,
// order, flags), logs alone, several programs in one pass. The real
// transactions are checked through the package (tests/python/tx), against an
// independent twin.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tx/attribution.h"
#include "tx/tx_fixtures.h"

namespace varkel::tx {
namespace {

using Bytes = std::vector<std::uint8_t>;

Pubkey key_of(std::uint8_t value) {
  Pubkey key;
  key.fill(value);
  return key;
}

const Pubkey kP = key_of(0x11);  // the program being decoded
const Pubkey kQ = key_of(0x22);  // another program
const Pubkey kR = key_of(0x33);  // a second program being decoded (several-program cases)
const Bytes kDisc = {1, 2, 3, 4, 5, 6, 7, 8};
const Bytes kOtherDisc = {9, 9, 9, 9, 9, 9, 9, 9};
const Bytes kPlain = {0x66};  // the data of an instruction that is no event

std::string text(const Pubkey& key) {
  return decode::base58_encode(key);
}

std::string base64(const Bytes& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t n = (std::uint32_t{bytes[i]} << 16) | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0) |
                            (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

Bytes event(std::uint8_t body, const Bytes& disc = kDisc) {
  Bytes out = disc;
  out.push_back(body);
  return out;
}

Bytes cpi(const Bytes& payload) {
  Bytes out;
  out.reserve(kEventTag.size() + payload.size());
  for (std::uint8_t b : kEventTag) out.push_back(b);
  for (std::uint8_t b : payload) out.push_back(b);
  return out;
}

std::string inv(const Pubkey& p, int depth) {
  return "Program " + text(p) + " invoke [" + std::to_string(depth) + "]";
}
std::string ok(const Pubkey& p) {
  return "Program " + text(p) + " success";
}
std::string data(const Bytes& payload) {
  return "Program data: " + base64(payload);
}

decode::EventRegistry registry_for(const Pubkey& program) {
  decode::EventRegistry registry;
  registry.address = text(program);
  registry.program_id = program;
  registry.events.push_back(decode::EventEntry{"Ev", kDisc, std::nullopt});
  registry.events.push_back(decode::EventEntry{"Other", kOtherDisc, std::nullopt});
  return registry;
}

// A transaction under construction: the model views the storage here.
struct Built {
  std::vector<std::string> lines;
  std::vector<Bytes> data;
  Transaction tx;
  bool with_logs = true;

  Instruction ins(const Pubkey& program, const Bytes& bytes, std::uint32_t height) {
    data.push_back(bytes);
    return Instruction{
        program, InstructionData{InstructionData::Form::Bytes, {}, std::span<const std::uint8_t>()}, height};
  }

  // Call after the instructions are in: points their data at the storage.
  void seal() {
    std::size_t k = 0;
    for (Instruction& i : tx.instructions) i.data.bytes = data[k++];
    for (auto& list : tx.inner) {
      for (Instruction& i : list) i.data.bytes = data[k++];
    }
    tx.inner_recorded = true;
    if (with_logs) tx.logs = testing::views(lines);
  }
};

struct Site {
  std::string name;
  std::uint32_t program;
  std::uint32_t instruction;
  std::uint32_t inner;
  std::uint32_t depth;
  Source source;
  std::uint32_t log_index;
  bool truncated = false;
};

struct AttributionCase {
  std::string name;
  std::function<void(Built&)> build;
  std::vector<Site> expected;
  bool out_of_step = false;
};

// Each builder adds instructions in order, then inner lists, then lines;
// the data storage is filled in the same order (top-level first).
void top(Built& b, std::vector<std::pair<Pubkey, Bytes>> instructions) {
  for (auto& [program, bytes] : instructions) b.tx.instructions.push_back(b.ins(program, bytes, 1));
  b.tx.inner.assign(b.tx.instructions.size(), {});
}

void inner(Built& b, std::size_t i, std::vector<std::tuple<Pubkey, Bytes, std::uint32_t>> list) {
  for (auto& [program, bytes, height] : list) b.tx.inner[i].push_back(b.ins(program, bytes, height));
}

class AttributionTable : public ::testing::TestWithParam<AttributionCase> {};

TEST_P(AttributionTable, FindsExactlyTheseEvents) {
  const AttributionCase& c = GetParam();
  Built b;
  c.build(b);
  b.seal();
  const decode::EventRegistry p = registry_for(kP);
  const decode::EventRegistry r = registry_for(kR);
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  ASSERT_TRUE(programs.add(r, "r").has_value());
  const Attribution got = attribute_transaction(b.tx, programs);
  ASSERT_EQ(got.events.size(), c.expected.size());
  for (std::size_t k = 0; k < c.expected.size(); ++k) {
    const EventSite& s = got.events[k];
    const Site& e = c.expected[k];
    SCOPED_TRACE("event " + std::to_string(k));
    EXPECT_EQ(s.event->name, e.name);
    EXPECT_EQ(s.program, e.program);
    EXPECT_EQ(s.instruction, e.instruction);
    EXPECT_EQ(s.inner, e.inner);
    EXPECT_EQ(s.depth, e.depth);
    EXPECT_EQ(static_cast<int>(s.source), static_cast<int>(e.source));
    EXPECT_EQ(s.log_index, e.log_index);
    EXPECT_EQ(s.truncated, e.truncated);
    EXPECT_EQ(s.data.size(), 1u);  // the body byte after the discriminator
  }
  EXPECT_EQ(got.out_of_step, c.out_of_step);
  // Counting does not change what is found.
  ScanCounts counts;
  const Attribution counted = attribute_transaction(b.tx, programs, &counts);
  ASSERT_EQ(counted.events.size(), got.events.size());
  for (std::size_t k = 0; k < got.events.size(); ++k) {
    const EventSite& x = got.events[k];
    const EventSite& y = counted.events[k];
    EXPECT_EQ(std::tie(x.program, x.event, x.instruction, x.inner, x.depth, x.source, x.log_index),
              std::tie(y.program, y.event, y.instruction, y.inner, y.depth, y.source, y.log_index));
  }
}

const Pubkey kEd25519 = *decode::base58_decode_key("Ed25519SigVerify111111111111111111111111111");
constexpr Source kLog = Source::Log;
constexpr Source kCpi = Source::Cpi;
constexpr Source kBoth = Source::LogAndCpi;

INSTANTIATE_TEST_SUITE_P(
    Table, AttributionTable,
    ::testing::Values(
        AttributionCase{"logged_by_a_top_level_frame",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          b.lines = {inv(kP, 1), data(event(1)), ok(kP)};
                        },
                        {{"Ev", 0, 0, kNoIndex, 1, kLog, 1}}},
        // Spoofing: another program logs bytes that carry P's discriminator.
        AttributionCase{"another_program_logs_our_discriminator",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          b.lines = {inv(kQ, 1), data(event(1)), ok(kQ)};
                        },
                        {}},
        AttributionCase{"another_program_called_by_ours_logs_our_discriminator",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kQ, kPlain, 2}});
                          b.lines = {inv(kP, 1), inv(kQ, 2), data(event(1)), ok(kQ), ok(kP)};
                        },
                        {}},
        AttributionCase{"a_line_outside_any_frame",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          b.lines = {data(event(1)), inv(kP, 1), ok(kP), data(event(2))};
                        },
                        {}},
        AttributionCase{"our_program_inside_another_programs_cpi",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          inner(b, 0, {{kQ, kPlain, 2}, {kP, kPlain, 2}});
                          b.lines = {inv(kQ, 1), inv(kQ, 2), ok(kQ), inv(kP, 2), data(event(1)), ok(kP), ok(kQ)};
                        },
                        {{"Ev", 0, 0, 1, 2, kLog, 4}}},
        // Spoofing by CPI.
        AttributionCase{"cpi_without_the_tag",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, event(1), 2}});
                          b.with_logs = false;
                        },
                        {}},
        AttributionCase{"tag_but_not_a_self_invoke",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1)), 2}});
                          b.with_logs = false;
                        },
                        {}},
        AttributionCase{"tag_in_an_instruction_of_another_program",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kQ, cpi(event(1)), 2}});
                          b.with_logs = false;
                        },
                        {}},
        AttributionCase{"tag_in_a_top_level_instruction",
                        [](Built& b) {
                          top(b, {{kP, cpi(event(1))}});
                          b.with_logs = false;
                        },
                        {}},
        AttributionCase{"tag_and_an_unknown_discriminator",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1, {7, 7, 7, 7, 7, 7, 7, 7})), 2}});
                          b.with_logs = false;
                        },
                        {}},
        AttributionCase{"parent_at_height_2_is_another_program",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          inner(b, 0, {{kP, kPlain, 2}, {kQ, kPlain, 2}, {kP, cpi(event(1)), 3}});
                          b.with_logs = false;
                        },
                        {}},
        AttributionCase{"self_invoke_from_a_top_level_frame",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1)), 2}});
                          b.with_logs = false;
                        },
                        {{"Ev", 0, 0, 0, 1, kCpi, kNoIndex}}},
        AttributionCase{"self_invoke_inside_a_cpi",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          inner(b, 0, {{kP, kPlain, 2}, {kQ, kPlain, 3}, {kP, cpi(event(1)), 3}});
                          b.with_logs = false;
                        },
                        {{"Ev", 0, 0, 2, 2, kCpi, kNoIndex}}},
        // Logged and emitted by CPI: one event, in either order.
        AttributionCase{"logged_then_emitted",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kQ, kPlain, 2}, {kP, cpi(event(1)), 2}});
                          b.lines = {inv(kP, 1), inv(kQ, 2), ok(kQ), data(event(1)), inv(kP, 2), ok(kP), ok(kP)};
                        },
                        {{"Ev", 0, 0, 1, 1, kBoth, 3}}},
        AttributionCase{"emitted_then_logged",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1)), 2}});
                          b.lines = {inv(kP, 1), inv(kP, 2), ok(kP), data(event(1)), ok(kP)};
                        },
                        {{"Ev", 0, 0, 0, 1, kBoth, 3}}},
        AttributionCase{"different_bytes_are_two_events",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(2)), 2}});
                          b.lines = {inv(kP, 1), data(event(1)), inv(kP, 2), ok(kP), ok(kP)};
                        },
                        {{"Ev", 0, 0, kNoIndex, 1, kLog, 1}, {"Ev", 0, 0, 0, 1, kCpi, kNoIndex}}},
        AttributionCase{"pairs_are_one_to_one",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1)), 2}});
                          b.lines = {inv(kP, 1), data(event(1)), inv(kP, 2), ok(kP), data(event(1)), ok(kP)};
                        },
                        {{"Ev", 0, 0, 0, 1, kBoth, 1}, {"Ev", 0, 0, kNoIndex, 1, kLog, 4}}},
        AttributionCase{"same_bytes_in_another_frame_stay_apart",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          inner(b, 0, {{kP, kPlain, 2}, {kP, cpi(event(1)), 3}, {kP, kPlain, 2}});
                          b.lines = {inv(kQ, 1), inv(kP, 2), data(event(1)), inv(kP, 3), ok(kP), ok(kP), inv(kP, 2),
                                     data(event(1)), ok(kP), ok(kQ)};
                        },
                        {{"Ev", 0, 0, 1, 2, kBoth, 2}, {"Ev", 0, 0, 2, 2, kLog, 7}}},
        // Stack heights missing (old transactions): taken from the logs.
        AttributionCase{"height_from_the_log_frame",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1)), 0}});
                          b.lines = {inv(kP, 1), inv(kP, 2), ok(kP), ok(kP)};
                        },
                        {{"Ev", 0, 0, 0, 1, kCpi, kNoIndex}}},
        AttributionCase{"height_unknown_without_logs",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1)), 0}});
                          b.with_logs = false;
                        },
                        {}},
        // Alignment with the instructions.
        AttributionCase{"precompiles_log_nothing",
                        [](Built& b) {
                          top(b, {{kEd25519, kPlain}, {kQ, kPlain}, {kP, kPlain}});
                          b.lines = {inv(kQ, 1), ok(kQ), inv(kP, 1), data(event(1)), ok(kP)};
                        },
                        {{"Ev", 0, 2, kNoIndex, 1, kLog, 3}}},
        AttributionCase{"frame_of_a_program_the_message_does_not_run",
                        [](Built& b) {
                          top(b, {{kP, kPlain}});
                          b.lines = {inv(kQ, 1), ok(kQ), inv(kP, 1), data(event(1)), ok(kP)};
                        },
                        {{"Ev", 0, 0, kNoIndex, 1, kLog, 3}},
                        true},
        AttributionCase{"inner_frame_lines_missing",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          inner(b, 0, {{kQ, kPlain, 2}, {kP, kPlain, 2}});
                          b.lines = {inv(kQ, 1), inv(kP, 2), data(event(1)), ok(kP), ok(kQ)};
                        },
                        {{"Ev", 0, 0, 1, 2, kLog, 2}},
                        true},
        AttributionCase{"inner_frame_that_matches_nothing",
                        [](Built& b) {
                          top(b, {{kQ, kPlain}});
                          inner(b, 0, {{kQ, kPlain, 2}});
                          b.lines = {inv(kQ, 1), inv(kP, 2), data(event(1)), ok(kP), ok(kQ)};
                        },
                        {{"Ev", 0, 0, kNoIndex, 2, kLog, 2}},
                        true},
        AttributionCase{"later_instructions_never_ran",
                        [](Built& b) {
                          top(b, {{kP, kPlain}, {kP, kPlain}});
                          b.lines = {inv(kP, 1), data(event(1)), "Program " + text(kP) + " failed: boom"};
                          b.tx.failed = true;
                        },
                        {{"Ev", 0, 0, kNoIndex, 1, kLog, 1}}},
        // Truncation, and the order of CPI events that have no line.
        AttributionCase{"truncated_logs",
                        [](Built& b) {
                          top(b, {{kP, kPlain}, {kP, kPlain}});
                          inner(b, 1, {{kP, cpi(event(2)), 2}});
                          b.lines = {inv(kP, 1), data(event(1)), "Log truncated", ok(kP), inv(kP, 1), ok(kP)};
                        },
                        {{"Ev", 0, 0, kNoIndex, 1, kLog, 1}, {"Ev", 0, 1, 0, 1, kCpi, kNoIndex, true}},
                        true},
        AttributionCase{"without_logs_cpi_events_follow_the_instructions",
                        [](Built& b) {
                          top(b, {{kP, kPlain}, {kQ, kPlain}, {kP, kPlain}});
                          inner(b, 0, {{kP, cpi(event(1)), 2}, {kP, cpi(event(2, kOtherDisc)), 2}});
                          inner(b, 2, {{kP, cpi(event(3)), 2}});
                          b.with_logs = false;
                        },
                        {{"Ev", 0, 0, 0, 1, kCpi, kNoIndex}, {"Other", 0, 0, 1, 1, kCpi, kNoIndex}, {"Ev", 0, 2, 0, 1, kCpi, kNoIndex}}},
        // Several programs in one pass, in the order of execution.
        AttributionCase{"two_programs_interleaved",
                        [](Built& b) {
                          top(b, {{kR, kPlain}, {kP, kPlain}});
                          inner(b, 0, {{kP, kPlain, 2}, {kR, cpi(event(3)), 2}});
                          b.lines = {inv(kR, 1),     data(event(1)), inv(kP, 2), data(event(2)), ok(kP),
                                     inv(kR, 2),     ok(kR),         ok(kR),     inv(kP, 1),     data(event(4)),
                                     ok(kP)};
                        },
                        {{"Ev", 1, 0, kNoIndex, 1, kLog, 1},
                         {"Ev", 0, 0, 0, 2, kLog, 3},
                         {"Ev", 1, 0, 1, 1, kCpi, kNoIndex},
                         {"Ev", 0, 1, kNoIndex, 1, kLog, 9}}}),
    [](const ::testing::TestParamInfo<AttributionCase>& row) { return row.param.name; });

TEST(Attribution, LogsAloneAreNumberedByCounting) {
  const std::vector<std::string> lines = {inv(kQ, 1),     ok(kQ), inv(kP, 1),
                                          inv(kQ, 2),     ok(kQ), inv(kP, 2),
                                          data(event(1)), ok(kP), "Program " + text(kP) + " failed: x"};
  const decode::EventRegistry p = registry_for(kP);
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  const Attribution got = attribute_logs(testing::views(lines), programs);
  ASSERT_EQ(got.events.size(), 1u);
  EXPECT_EQ(got.events[0].instruction, 1);
  EXPECT_EQ(got.events[0].inner, 1);
  EXPECT_EQ(got.events[0].depth, 2u);
  EXPECT_EQ(got.events[0].log_index, 6);
  EXPECT_TRUE(got.failed);  // the top-level frame failed
  EXPECT_FALSE(got.out_of_step);
}

TEST(Attribution, FailedTransactionsKeepTheirEvents) {
  Built b;
  top(b, {{kP, {}}});
  b.lines = {inv(kP, 1), data(event(1)), "Program " + text(kP) + " failed: custom program error: 0x1"};
  b.seal();
  b.tx.failed = true;
  const decode::EventRegistry p = registry_for(kP);
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  const Attribution got = attribute_transaction(b.tx, programs);
  EXPECT_EQ(got.events.size(), 1u);
  EXPECT_TRUE(got.failed);
}

// A model built by hand may hold fewer inner lists than instructions (the
// reader always makes one per instruction): the missing ones are empty.
TEST(Attribution, HandBuiltModelsWithoutInnerLists) {
  Built b;
  top(b, {{kP, kPlain}, {kP, kPlain}});
  b.lines = {inv(kP, 1), inv(kP, 2), ok(kP), ok(kP), inv(kP, 1), data(event(1)), ok(kP)};
  b.seal();
  b.tx.inner.clear();
  const decode::EventRegistry p = registry_for(kP);
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  const Attribution got = attribute_transaction(b.tx, programs);
  ASSERT_EQ(got.events.size(), 1u);
  EXPECT_EQ(got.events[0].instruction, 1);
  EXPECT_TRUE(got.out_of_step);  // the depth-2 frame has no inner instruction
}

// Frames that match no instruction, by the tens of thousands, against tens of
// thousands of instructions: each miss is looked up in an index of the list,
// not searched for along it (which would take hours here).
TEST(Attribution, MismatchedFramesAgainstLongInstructionListsStayLinear) {
  constexpr int kCount = 50000;
  Built b;
  std::vector<std::pair<Pubkey, Bytes>> tops(kCount, {kQ, kPlain});
  top(b, tops);
  std::vector<std::tuple<Pubkey, Bytes, std::uint32_t>> list(kCount, {kQ, kPlain, 2});
  inner(b, 0, list);
  b.lines.push_back(inv(kQ, 1));
  for (int k = 0; k < kCount; ++k) {
    b.lines.push_back(inv(kP, 2));
    b.lines.push_back(ok(kP));
  }
  b.lines.push_back(ok(kQ));
  for (int k = 0; k < kCount; ++k) {
    b.lines.push_back(inv(kP, 1));
    b.lines.push_back(ok(kP));
  }
  b.seal();
  const decode::EventRegistry p = registry_for(kP);
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  const Attribution got = attribute_transaction(b.tx, programs);
  EXPECT_TRUE(got.events.empty());
  EXPECT_TRUE(got.out_of_step);
}

// Counts of what a pass saw besides its events.
const Bytes kUnknownDisc = {7, 7, 7, 7, 7, 7, 7, 7};

std::string log_line(const Bytes& payload) {
  return "Program log: " + base64(payload);
}

struct CountCase {
  std::string name;
  std::vector<std::string> lines;
  bool two_programs;  // P and R; else P alone
  bool adopt;
  ScanCounts expected;
  std::vector<std::uint32_t> depths;  // of the events found
};

class LogCounts : public ::testing::TestWithParam<CountCase> {};

TEST_P(LogCounts, CountsWhatThePassSaw) {
  const CountCase& c = GetParam();
  const decode::EventRegistry p = registry_for(kP);
  const decode::EventRegistry r = registry_for(kR);
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  if (c.two_programs) {
    ASSERT_TRUE(programs.add(r, "r").has_value());
  }
  ScanCounts counts;
  const Attribution got = attribute_logs(testing::views(c.lines), programs, LogOptions{c.adopt}, &counts);
  EXPECT_EQ(counts.payload_lines, c.expected.payload_lines);
  EXPECT_EQ(counts.cpi_instructions, c.expected.cpi_instructions);
  EXPECT_EQ(counts.unknown_discriminators, c.expected.unknown_discriminators);
  EXPECT_EQ(counts.unattributed, c.expected.unattributed);
  std::vector<std::uint32_t> depths;
  for (const EventSite& s : got.events) {
    depths.push_back(s.depth);
    if (s.depth == 0) {  // adopted: the one program's, with no place
      EXPECT_EQ(s.program, 0);
      EXPECT_EQ(s.instruction, kNoIndex);
      EXPECT_EQ(s.inner, kNoIndex);
    }
  }
  EXPECT_EQ(depths, c.depths);
  // Without counts, the same events.
  EXPECT_EQ(attribute_logs(testing::views(c.lines), programs, LogOptions{c.adopt}).events.size(),
            got.events.size());
}

// Lines outside any frame: data lines of a known and an unknown
// discriminator, an old-style log line of a known one, and one of unknown
// bytes (text, mostly: never counted).
const std::vector<std::string> kOutside = {data(event(1)), data(event(2, kUnknownDisc)), log_line(event(3)),
                                           log_line(event(4, kUnknownDisc))};

INSTANTIATE_TEST_SUITE_P(
    Table, LogCounts,
    ::testing::Values(
        CountCase{"lines_of_our_frames_and_of_others",
                  {inv(kP, 1), data(event(1)), data(event(2, kUnknownDisc)), "Program log: Instruction: Buy",
                   log_line(event(3, kUnknownDisc)), log_line(event(4)),
                   "Program data: AAAAAA==", "Program data: " + base64(event(5)) + " AAAA", inv(kQ, 2),
                   data(event(6)), data(event(7, kUnknownDisc)), ok(kQ), ok(kP)},
                  false,
                  false,
                  {3, 0, 1, 0},
                  {1, 1}},
        CountCase{"outside_any_frame_with_one_program_not_adopted", kOutside, false, false, {0, 0, 0, 3}, {}},
        CountCase{"outside_any_frame_adopted", kOutside, false, true, {3, 0, 1, 0}, {0, 0}},
        // Several programs: an outside line is ambiguous, adopted or not.
        CountCase{"outside_any_frame_with_two_programs", kOutside, true, true, {0, 0, 0, 3}, {}},
        CountCase{"lines_of_the_second_program",
                  {inv(kR, 1), data(event(1)), data(event(2, kUnknownDisc)), log_line(event(3)), ok(kR)},
                  true,
                  false,
                  {3, 0, 1, 0},
                  {1, 1}}),
    [](const ::testing::TestParamInfo<CountCase>& row) { return row.param.name; });

TEST(Attribution, AnIdlWithoutEventsCountsEveryDataLine) {
  decode::EventRegistry p = registry_for(kP);
  p.events.clear();
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  const std::vector<std::string> lines = {inv(kP, 1), data(event(1)), log_line(event(2)), ok(kP)};
  ScanCounts counts;
  EXPECT_TRUE(attribute_logs(testing::views(lines), programs, {}, &counts).events.empty());
  EXPECT_EQ(counts, (ScanCounts{1, 0, 1, 0, 0, 1}));
}

TEST(Attribution, CountsCpiEventInstructions) {
  Built b;
  top(b, {{kP, kPlain}});
  // A self-CPI event (also logged: one event), a self-CPI of an unknown
  // discriminator, and a CPI event of P under Q (not a self-invoke: not
  // counted).
  inner(b, 0,
        {{kP, cpi(event(1)), 2},
         {kP, cpi(event(2, kUnknownDisc)), 2},
         {kQ, kPlain, 2},
         {kP, cpi(event(3)), 3}});
  b.lines = {inv(kP, 1), data(event(1)), inv(kP, 2), ok(kP), inv(kP, 2), ok(kP),
             inv(kQ, 2), inv(kP, 3),     ok(kP),     ok(kQ), ok(kP)};
  b.seal();
  const decode::EventRegistry p = registry_for(kP);
  ProgramSet programs;
  ASSERT_TRUE(programs.add(p, "p").has_value());
  ScanCounts counts;
  const Attribution got = attribute_transaction(b.tx, programs, &counts);
  ASSERT_EQ(got.events.size(), 1u);
  EXPECT_EQ(got.events[0].source, Source::LogAndCpi);
  EXPECT_EQ(counts, (ScanCounts{1, 2, 1, 0, 0, 4}));
  // Counts add up over calls.
  attribute_transaction(b.tx, programs, &counts);
  EXPECT_EQ(counts, (ScanCounts{2, 4, 2, 0, 0, 8}));
}

TEST(ProgramSet, RefusesIdlsWithoutAnAddressAndTwoDecodersOfOneProgram) {
  decode::EventRegistry empty;
  decode::EventRegistry bad;
  bad.address = "x";
  const decode::EventRegistry p = registry_for(kP);
  const decode::EventRegistry p_again = registry_for(kP);
  ProgramSet programs;
  Result<void> added = programs.add(empty, "decoders[0]");
  ASSERT_FALSE(added.has_value());
  EXPECT_EQ(added.error(),
            "decoders[0]: the IDL has no program address (\"address\" is empty), so no event can be "
            "attributed to its "
            "program");
  added = programs.add(bad, "decoders[1]");
  ASSERT_FALSE(added.has_value());
  EXPECT_EQ(added.error(),
            "decoders[1]: the IDL's program address \"x\" is not a public key: base58 text of 1 bytes, not a "
            "32-byte public key");
  ASSERT_TRUE(programs.add(p, "decoders[2]").has_value());
  added = programs.add(p_again, "decoders[3]");
  ASSERT_FALSE(added.has_value());
  EXPECT_EQ(added.error(), "decoders[3]: program " + text(kP) + " already has a decoder (decoders[2])");
  EXPECT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs.find(kP), 0u);
  EXPECT_EQ(programs.find(kQ), kNoIndex);
  EXPECT_EQ(programs.find_text(text(kP)), 0u);
}

}  // namespace
}  // namespace varkel::tx
