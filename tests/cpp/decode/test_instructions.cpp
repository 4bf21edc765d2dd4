// Instructions of a registry: the dispatch by discriminator prefix, the
// accounts named by the IDL's list, and Anchor's framework codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/anchor_errors.h"
#include "decode/instructions.h"
#include "decode/registry.h"
#include "idl/load.h"

namespace varkel::decode {
namespace {

EventRegistry registry_of(const std::string& instructions) {
  Result<idl::Idl> idl =
      idl::load_idl(R"({"address": "P", "metadata": {"name": "t", "version": "0", "spec": "0.1.0"},)"
                    R"("instructions": [)" +
                    instructions + "]}");
  EXPECT_TRUE(idl.has_value()) << idl.error().message;
  Result<EventRegistry> registry = build_registry(*idl);
  EXPECT_TRUE(registry.has_value());
  return std::move(*registry);
}

TEST(Instructions, FirstDiscriminatorThatPrefixesTheDataInIdlOrder) {
  const EventRegistry r = registry_of(
      R"({"name": "one", "discriminator": [7], "accounts": [], "args": []},)"
      R"({"name": "eight", "discriminator": [7, 1, 2, 3, 4, 5, 6, 8], "accounts": [], "args": []},)"
      R"({"name": "two", "discriminator": [9, 9], "accounts": [], "args": []},)"
      R"({"name": "empty", "discriminator": [], "accounts": [], "args": []})");
  auto name = [&r](std::vector<std::uint8_t> data) {
    const InstructionEntry* entry = r.find_instruction(data);
    return entry != nullptr ? entry->name : std::string("-");
  };
  EXPECT_EQ(name({7, 1, 2, 3, 4, 5, 6, 8}), "one");  // the first in IDL order, as the program's dispatch
  EXPECT_EQ(name({9, 9, 0}), "two");
  EXPECT_EQ(name({9}), "-");  // shorter than the discriminator
  EXPECT_EQ(name({}), "-");   // an empty discriminator matches nothing
}

struct PlacementCase {
  std::string name;
  std::size_t keys;                  // keys 1, 2, ...; key 0xEE is the program
  std::vector<std::size_t> program;  // positions that hold the program's id
  std::vector<std::uint32_t> expected;
  std::uint32_t remaining = 0;
  std::string error;
};

class Placement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, NamesTheAccountsByTheList) {
  const PlacementCase& c = GetParam();
  // a, group {b (optional), c}, d (optional), e (optional)
  const EventRegistry r =
      registry_of(R"({"name": "ix", "discriminator": [1], "args": [], "accounts": [{"name": "a"},)"
                  R"({"name": "g", "accounts": [{"name": "b", "optional": true}, {"name": "c"}]},)"
                  R"({"name": "d", "optional": true}, {"name": "e", "optional": true}]})");
  const InstructionEntry& entry = r.instructions[0];
  EXPECT_EQ((std::vector<std::uint32_t>{entry.account_count, entry.required}),
            (std::vector<std::uint32_t>{5, 3}));
  Pubkey program{};
  program.fill(0xEE);
  std::vector<Pubkey> keys(c.keys);
  for (std::size_t k = 0; k < keys.size(); ++k) keys[k].fill(static_cast<std::uint8_t>(k + 1));
  for (std::size_t k : c.program) keys[k] = program;
  Result<AccountPlacement> placed = place_accounts(entry, keys, program);
  if (!c.error.empty()) {
    EXPECT_EQ(placed.error().message, c.error);
    return;
  }
  ASSERT_TRUE(placed.has_value());
  EXPECT_EQ(placed->positions, c.expected);
  EXPECT_EQ(placed->remaining, c.remaining);
}

constexpr std::uint32_t X = kNoIndex;

INSTANTIATE_TEST_SUITE_P(
    Table, Placement,
    ::testing::Values(PlacementCase{"all", 5, {}, {0, 1, 2, 3, 4}, 5, ""},
                      PlacementCase{"remaining_accounts", 7, {}, {0, 1, 2, 3, 4}, 5, ""},
                      PlacementCase{"optional_given_as_the_program", 5, {1, 4}, {0, X, 2, 3, X}, 5, ""},
                      PlacementCase{
                          "the_program_where_an_account_is_required", 5, {0}, {0, 1, 2, 3, 4}, 5, ""},
                      PlacementCase{"trailing_optionals_left_out", 3, {}, {0, 1, 2, X, X}, 3, ""},
                      PlacementCase{"too_few", 2, {}, {}, 0, "too few accounts: 2 given, 3 required"}),
    [](const ::testing::TestParamInfo<PlacementCase>& row) { return row.param.name; });

TEST(AnchorErrors, FrameworkCodes) {
  EXPECT_EQ(anchor_error(100)->name, "InstructionMissing");
  EXPECT_EQ(anchor_error(2006)->msg, "A seeds constraint was violated");
  EXPECT_EQ(anchor_error(3012)->name, "AccountNotInitialized");
  EXPECT_EQ(anchor_error(5000)->name, "Deprecated");
  EXPECT_EQ(anchor_error(6000), nullptr);  // a program's own
  EXPECT_EQ(anchor_error(99), nullptr);
}

}  // namespace
}  // namespace varkel::decode
