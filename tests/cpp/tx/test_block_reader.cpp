// Reading blocks: every shape a block comes in, with the slot each gives, and
// the place of a failure named from the top of the document.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "json/json.h"
#include "tx/tx_reader.h"

namespace varkel::tx {
namespace {

// A block of one transaction (keys of text "1...1" and "1...2").
constexpr const char* kBlock =
    R"({"blockTime": 1700000000, "blockhash": "h", "parentSlot": 4, "transactions": [
  {"transaction": {"signatures": ["s"], "message": {"accountKeys": ["11111111111111111111111111111111",
   "11111111111111111111111111111112"], "instructions": [{"programIdIndex": 1, "accounts": [0], "data": ""}]}},
   "meta": {"err": null, "logMessages": []}}]})";

struct Shape {
  std::string document;
  std::optional<std::uint64_t> slot;
};

TEST(BlockReader, EveryShapeGivesItsTransactionsWithTheBlocksSlotAndTime) {
  const std::string block = kBlock;
  const std::string stored = block.substr(0, block.size() - 1) + R"(, "slot": 9})";
  for (const Shape& shape : {
           Shape{block, std::nullopt},  // getBlock: no slot
           Shape{R"({"jsonrpc": "2.0", "id": 1, "result": )" + block + "}", std::nullopt},
           Shape{stored, 9},
           Shape{R"({"params": {"result": {"context": {"slot": 8}, "value": {"slot": 5, "block": )" + block +
                     R"(, "err": null}}}})",
                 5},
           Shape{R"({"slot": 6, "block": )" + block + R"(, "err": null})", 6},
       }) {
    const Result<json::Value> doc = json::parse(shape.document);
    ASSERT_TRUE(doc.has_value());
    ASSERT_TRUE(is_block(*doc)) << shape.document;
    const Result<Block> read = read_block(*doc);
    ASSERT_TRUE(read.has_value()) << read.error().message;
    EXPECT_EQ(read->slot, shape.slot);
    ASSERT_EQ(read->transactions->size(), 1u);
    const Result<Transaction> tx = read_block_transaction(*read, 0);
    ASSERT_TRUE(tx.has_value()) << tx.error().message;
    EXPECT_EQ(tx->slot, shape.slot);
    EXPECT_EQ(tx->block_time, 1700000000);
    EXPECT_EQ(tx->signature, "s");
  }
}

TEST(BlockReader, FailuresNameTheirPlace) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"jsonrpc": "2.0", "result": null})", "result: null (the node has no such block)"},
      {R"({"jsonrpc": "2.0", "error": {"code": -1}})", "RPC error: {\"code\":-1}"},
      {R"({"blockhash": "h", "signatures": []})",
       "transactions: missing: the block gives its signatures only (transactionDetails \"signatures\"); its "
       "transactions come with transactionDetails \"full\""},
      {R"({"params": {"result": {"value": {"slot": 1, "block": null, "err": "BlockStoreError"}}}})",
       "params.result.value.block: null (the notification's err: \"BlockStoreError\")"},
      {R"({"result": {"blockhash": "h", "transactions": [{"meta": {}, "transaction": 5}]}})", nullptr},
  };
  for (const auto& [text, message] : cases) {
    const Result<json::Value> doc = json::parse(text);
    ASSERT_TRUE(doc.has_value());
    const Result<Block> read = read_block(*doc);
    if (message != nullptr) {
      ASSERT_FALSE(read.has_value()) << text;
      EXPECT_EQ(read.error().message, message);
      continue;
    }
    ASSERT_TRUE(read.has_value());
    const Result<Transaction> tx = read_block_transaction(*read, 0);
    ASSERT_FALSE(tx.has_value());
    EXPECT_TRUE(tx.error().message.starts_with("result.transactions[0].transaction: expected"))
        << tx.error().message;
  }
  EXPECT_FALSE(is_block(*json::parse(R"({"jsonrpc": "2.0", "result": {"transaction": {}, "meta": {}}})")));
}

}  // namespace
}  // namespace varkel::tx
