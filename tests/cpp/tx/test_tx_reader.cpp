// Reading transactions: the real fixtures (every encoding they come in,
// checked against the document itself), and a table of mutations of a small
// version-0 transaction, each refused with a message naming its path or read
// as it should be.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tx/tx_fixtures.h"
#include "tx/tx_reader.h"

namespace varkel::tx {
namespace {

// The base58 text of 32 bytes of `value`.
std::string key(std::uint8_t value) {
  Pubkey bytes;
  bytes.fill(value);
  return decode::base58_encode(bytes);
}

Pubkey key_bytes(std::uint8_t value) {
  Pubkey bytes;
  bytes.fill(value);
  return bytes;
}

// Keys 1, 2, 3 in the message; 4 writable and 5 read-only from the lookup.
// Instruction 0 runs program 3 (key 3); its inner instruction runs program 4
// (the loaded writable key 4) at stack height 2.
std::string base_document() {
  return R"({"slot": 5, "blockTime": 1700000000, "version": 0,
  "transaction": {"signatures": ["sig"], "message": {
    "header": {"numRequiredSignatures": 1, "numReadonlySignedAccounts": 0, "numReadonlyUnsignedAccounts": 1},
    "accountKeys": [")" +
         key(1) + R"(", ")" + key(2) + R"(", ")" + key(3) + R"("],
    "recentBlockhash": "11111111111111111111111111111111",
    "instructions": [{"programIdIndex": 2, "accounts": [0, 1], "data": "3Bxs4", "stackHeight": null}],
    "addressTableLookups": [{"accountKey": ")" +
         key(9) + R"(", "writableIndexes": [7], "readonlyIndexes": [8]}]}},
  "meta": {"err": null, "status": {"Ok": null}, "fee": 5000,
    "logMessages": ["Program )" +
         key(3) + R"( invoke [1]", "Program )" + key(3) + R"( success"],
    "innerInstructions": [{"index": 0, "instructions": [{"programIdIndex": 3, "accounts": [], "data": "", "stackHeight": 2}]}],
    "loadedAddresses": {"writable": [")" +
         key(4) + R"("], "readonly": [")" + key(5) + R"("]}}})";
}

TEST(TxReader, ReadsTheBaseDocument) {
  const std::string text = base_document();
  const Result<OwnedTransaction> read = read_transaction_text(text);
  ASSERT_TRUE(read.has_value()) << read.error();
  const Transaction& tx = read->tx;
  EXPECT_EQ(tx.encoding, Transaction::Encoding::Json);
  EXPECT_EQ(tx.slot, 5u);
  ASSERT_EQ(tx.instructions.size(), 1u);
  EXPECT_EQ(tx.instructions[0].program, key_bytes(3));
  EXPECT_EQ(tx.instructions[0].data.form, InstructionData::Form::Base58);
  EXPECT_EQ(tx.instructions[0].data.text, "3Bxs4");
  EXPECT_EQ(tx.instructions[0].stack_height, 1u);
  ASSERT_EQ(tx.inner.size(), 1u);
  ASSERT_EQ(tx.inner[0].size(), 1u);
  EXPECT_EQ(tx.inner[0][0].program, key_bytes(4));  // index 3: the first loaded (writable) key
  EXPECT_EQ(tx.inner[0][0].stack_height, 2u);
  EXPECT_TRUE(tx.inner_recorded);
  ASSERT_TRUE(tx.logs.has_value());
  EXPECT_EQ(tx.logs->size(), 2u);
  EXPECT_FALSE(tx.failed);
}

struct Mutation {
  std::string name;
  std::string find;     // a unique piece of the base document...
  std::string replace;  // ...replaced by this
  std::string error;    // "" when the result reads
};

std::string mutate(const Mutation& m) {
  std::string text = base_document();
  if (m.find.empty()) return m.replace;
  const std::size_t at = text.find(m.find);
  EXPECT_NE(at, std::string::npos) << m.find;
  EXPECT_EQ(text.find(m.find, at + 1), std::string::npos) << "not unique: " << m.find;
  text.replace(at, m.find.size(), m.replace);
  return text;
}

class MutationTable : public ::testing::TestWithParam<Mutation> {};

TEST_P(MutationTable, RefusedWithThePathOrRead) {
  const Mutation& m = GetParam();
  const Result<OwnedTransaction> read = read_transaction_text(mutate(m));
  if (m.error.empty()) {
    EXPECT_TRUE(read.has_value()) << read.error();
  } else {
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), m.error);
  }
}

const std::string kMeta = R"("meta": {"err": null)";

INSTANTIATE_TEST_SUITE_P(
    Table, MutationTable,
    ::testing::Values(
        Mutation{"not_json", "",
                 "{\"slot\": ", "transaction JSON: EOF while parsing a value at line 1 column 9"},
        Mutation{"root_is_a_list", "", "[1, 2]", "expected a transaction object, found sequence"},
        Mutation{"meta_missing", kMeta, R"("other": {"err": null)", "meta: missing"},
        Mutation{"meta_null", kMeta + ", \"status\": {\"Ok\": null}, \"fee\": 5000,",
                 "\"meta\": null, \"x\": {", "meta: null (the node keeps no status for this transaction)"},
        Mutation{"meta_not_an_object", kMeta + ", \"status\": {\"Ok\": null}, \"fee\": 5000,",
                 "\"meta\": 7, \"x\": {", "meta: expected a status meta object, found integer `7`"},
        Mutation{"transaction_missing", "\"transaction\": {", "\"tx\": {", "transaction: missing"},
        Mutation{"account_key_not_text", "\"accountKeys\": [\"" + key(1) + "\"", "\"accountKeys\": [5",
                 "transaction.message.accountKeys[0]: expected a base58 public key, found integer `5`"},
        Mutation{"account_key_bad_character", "\"" + key(2) + "\"", "\"0" + key(2).substr(1) + "\"",
                 "transaction.message.accountKeys[1]: invalid base58 character '0' at offset 0"},
        Mutation{"account_key_short", "\"" + key(2) + "\"", "\"" + std::string(31, '1') + "\"",
                 "transaction.message.accountKeys[1]: base58 text of 31 bytes, not a 32-byte public key"},
        Mutation{
            "program_index_out_of_range", "\"programIdIndex\": 2", "\"programIdIndex\": 9",
            "transaction.message.instructions[0].programIdIndex: account index 9 is out of range of the 5 "
            "account keys"},
        Mutation{
            "program_index_negative", "\"programIdIndex\": 2", "\"programIdIndex\": -1",
            "transaction.message.instructions[0].programIdIndex: expected an unsigned integer, found integer "
            "`-1`"},
        Mutation{"program_index_as_text", "\"programIdIndex\": 2", "\"programIdIndex\": \"2\"", ""},
        Mutation{
            "program_index_as_bad_text", "\"programIdIndex\": 2", "\"programIdIndex\": \"2a\"",
            "transaction.message.instructions[0].programIdIndex: expected an unsigned integer, found string "
            "\"2a\""},
        Mutation{"program_missing", "\"programIdIndex\": 2, ", "",
                 "transaction.message.instructions[0].programIdIndex: missing (and no `programId`)"},
        Mutation{"data_bad_character", "\"data\": \"3Bxs4\"", "\"data\": \"3Bx+4\"",
                 "transaction.message.instructions[0].data: invalid base58 character '+' at offset 3"},
        Mutation{
            "data_not_text", "\"data\": \"3Bxs4\"", "\"data\": [1]",
            "transaction.message.instructions[0].data: expected base58 instruction data, found sequence"},
        Mutation{"data_missing", "\"data\": \"3Bxs4\", ", "",
                 "transaction.message.instructions[0].data: missing"},
        Mutation{"data_parsed_by_the_node", "\"data\": \"3Bxs4\"", "\"parsed\": {\"type\": \"transfer\"}",
                 ""},
        Mutation{
            "data_too_long", "\"data\": \"3Bxs4\"", "\"data\": \"" + std::string(16385, '2') + "\"",
            "transaction.message.instructions[0].data: 16385 base58 characters, longer than any transaction "
            "allows"},
        Mutation{"stack_height_bad", "\"stackHeight\": 2", "\"stackHeight\": \"x\"",
                 "meta.innerInstructions[0].instructions[0].stackHeight: expected an unsigned integer, found "
                 "string "
                 "\"x\""},
        Mutation{"stack_height_as_text", "\"stackHeight\": 2", "\"stackHeight\": \"2\"", ""},
        Mutation{
            "inner_index_out_of_range", "\"index\": 0", "\"index\": 3",
            "meta.innerInstructions[0].index: instruction index 3 is out of range of the 1 instructions"},
        Mutation{"inner_group_twice", "\"innerInstructions\": [",
                 "\"innerInstructions\": [{\"index\": 0, \"instructions\": []}, ",
                 "meta.innerInstructions[1].index: a second group for instruction 0"},
        Mutation{"inner_program_out_of_range", "\"programIdIndex\": 3", "\"programIdIndex\": 5",
                 "meta.innerInstructions[0].instructions[0].programIdIndex: account index 5 is out of range "
                 "of the 5 "
                 "account keys"},
        Mutation{"inner_not_recorded", "\"innerInstructions\": [", "\"innerInstructions\": null, \"x\": [",
                 ""},
        Mutation{
            "loaded_count_mismatch", "\"writable\": [\"" + key(4) + "\"]",
            "\"writable\": [\"" + key(4) + "\", \"" + key(6) + "\"]",
            "meta.loadedAddresses.writable: 2 addresses, but the message's address table lookups load 1"},
        Mutation{"loaded_key_bad", "\"readonly\": [\"" + key(5) + "\"]", "\"readonly\": [\"xyz\"]",
                 "meta.loadedAddresses.readonly[0]: base58 text of 3 bytes, not a 32-byte public key"},
        Mutation{"log_line_not_text", "\"logMessages\": [", "\"logMessages\": [1, ",
                 "meta.logMessages[0]: expected a log line, found integer `1`"},
        Mutation{"logs_not_a_list", "\"logMessages\": [", "\"logMessages\": {\"a\": 1}, \"x\": [",
                 "meta.logMessages: expected a list of log lines, found map"},
        Mutation{"slot_as_text", "\"slot\": 5", "\"slot\": \"5\"", ""},
        Mutation{"slot_negative", "\"slot\": 5", "\"slot\": -5",
                 "slot: expected an unsigned integer, found integer `-5`"},
        Mutation{"transaction_number", "\"transaction\": {", "\"transaction\": 5, \"x\": {",
                 "transaction: expected a transaction object or [\"<encoded transaction>\", \"<encoding>\"], "
                 "found "
                 "integer `5`"},
        Mutation{"wire_bad_base64", "\"transaction\": {", "\"transaction\": [\"abc\", \"base64\"], \"x\": {",
                 "transaction[0]: not valid base64"},
        Mutation{"wire_unknown_encoding", "\"transaction\": {",
                 "\"transaction\": [\"AAAA\", \"binary\"], \"x\": {",
                 "transaction[1]: unsupported encoding \"binary\" (base64 and base58 are read)"},
        Mutation{"wire_wrong_shape", "\"transaction\": {", "\"transaction\": [\"AAAA\"], \"x\": {",
                 "transaction: expected [\"<encoded transaction>\", \"<encoding>\"], found sequence"},
        Mutation{"wire_truncated", "\"transaction\": {", "\"transaction\": [\"AQ==\", \"base64\"], \"x\": {",
                 "transaction[0]: wire transaction ends at byte 1 inside the signature 0 bytes (64 bytes "
                 "from byte 1)"}),
    [](const ::testing::TestParamInfo<Mutation>& row) { return row.param.name; });

TEST(TxReader, RpcEnvelope) {
  const std::string inner = base_document();
  Result<OwnedTransaction> read =
      read_transaction_text(R"({"jsonrpc": "2.0", "id": 1, "result": )" + inner + "}");
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_EQ(read->tx.slot, 5u);

  read = read_transaction_text(R"({"jsonrpc": "2.0", "id": 1, "result": null})");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), "result: null (the node has no such transaction)");

  read = read_transaction_text(
      R"({"jsonrpc": "2.0", "id": 1, "error": {"code": -32602, "message": "Invalid param"}})");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), R"(RPC error: {"code":-32602,"message":"Invalid param"})");

  read = read_transaction_text(R"({"jsonrpc": "2.0", "id": 1, "result": {"transaction": {}}})");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), "result.meta: missing");

  read = read_transaction_text(R"({"jsonrpc": "2.0", "id": 1, "result": [1]})");
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error(), "result: expected a transaction object, found sequence");
}

TEST(TxReader, FailedTransactions) {
  std::string text = base_document();
  text.replace(text.find("\"err\": null"), 11, R"("err": {"InstructionError": [0, {"Custom": 1}]})");
  Result<OwnedTransaction> read = read_transaction_text(text);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_TRUE(read->tx.failed);
  // Without err, status.Err tells.
  text = base_document();
  text.replace(text.find("\"err\": null, \"status\": {\"Ok\": null}"), 35,
               R"("status": {"Err": "AccountInUse"})");
  read = read_transaction_text(text);
  ASSERT_TRUE(read.has_value()) << read.error();
  EXPECT_TRUE(read->tx.failed);
}

// Every getTransaction-like fixture reads; its instructions, inner
// instruction groups and log lines are those of the document.
TEST(TxReaderFixtures, EveryRealTransactionReads) {
  int files = 0;
  for (const auto& [name, encoding] : std::vector<std::pair<std::string, Transaction::Encoding>>{
           {"agavesim-pump_amm-okx-route-tx-2zNeSn8c.json", Transaction::Encoding::Json},
           {"agavesim-pump_amm-buy-tx-5bvyp1no.json", Transaction::Encoding::Json},
           {"agavesim-raydium-clmm-swapv2-tx-2cd7QQSB.json", Transaction::Encoding::Json},
           {"chainstack-pump-buy-getTransaction-2024.json", Transaction::Encoding::JsonParsed},
           {"chainstack-pump-create-getTransaction-2024.json", Transaction::Encoding::JsonParsed},
           {"chainstack-pump-create-blockSubscribe-2025.json", Transaction::Encoding::Base64},
           {"pump_amm-sell-buy-tx-slot387020561.json", Transaction::Encoding::Base64}}) {
    const auto path = testing::kLogFixtures / name;
    const auto text = testing::fixture_text(path);
    if (!text) GTEST_SKIP() << "fixture not available: " << path;
    const Result<OwnedTransaction> read = read_transaction_text(*text);
    ASSERT_TRUE(read.has_value()) << name << ": " << read.error();
    const Transaction& tx = read->tx;
    EXPECT_EQ(tx.encoding, encoding) << name;
    const json::Value& root = *read->document;
    const json::Value& doc = root.get("result") != nullptr ? *root.get("result") : root;
    const json::Value& meta = *doc.get("meta");
    ASSERT_TRUE(tx.logs.has_value());
    EXPECT_EQ(tx.logs->size(), meta.get("logMessages")->as_array().size()) << name;
    std::size_t invoke_lines = 0;
    for (const json::Value& line : meta.get("logMessages")->as_array()) {
      invoke_lines += line.as_string().ends_with(" invoke [1]") ? 1 : 0;
    }
    EXPECT_EQ(tx.instructions.size(), invoke_lines) << name;  // no precompiles here, no failure
    std::size_t inner = 0;
    for (const json::Value& group : meta.get("innerInstructions")->as_array()) {
      const auto index = group.get("index")->as_uint();
      EXPECT_EQ(tx.inner[index].size(), group.get("instructions")->as_array().size()) << name;
      inner += tx.inner[index].size();
      for (const Instruction& ins : tx.inner[index]) EXPECT_GE(ins.stack_height, 2u) << name;
    }
    std::size_t total = 0;
    for (const auto& list : tx.inner) total += list.size();
    EXPECT_EQ(total, inner) << name;
    EXPECT_FALSE(tx.failed);
    if (doc.get("slot") != nullptr) {
      EXPECT_EQ(tx.slot, doc.get("slot")->as_uint()) << name;
    }
    ++files;
  }
  EXPECT_EQ(files, 7);
}

}  // namespace
}  // namespace varkel::tx
