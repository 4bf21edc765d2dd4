// Reading a getTransaction result (or one transaction of a block) into the
// transaction model.
//
// Accepted shapes:
// - {"slot", "blockTime", "version", "transaction", "meta"} (getTransaction),
//   {"transaction", "meta", "version"} (a block's transaction), or the RPC
//   envelope {"jsonrpc", "result": <one of those>, "id"}.
// - "transaction" as an object ("json" and "jsonParsed" encodings: account
//   keys as strings or {"pubkey", ...} objects, instructions with
//   "programIdIndex" or "programId", "data" as base58 or "parsed"), as
//   ["<base64>", "base64"] or ["<base58>", "base58"] (the wire form, legacy or
//   version 0), or as a bare base58 string (the old "binary" encoding).
// - Numbers (slot, indexes, stack heights) as JSON integers or as strings of
//   decimal digits.
//
// Program indexes resolve through the full account list: the message's keys,
// then meta.loadedAddresses.writable, then .readonly (version 0). Every
// failure is one message "{path}: {what is wrong}", the path naming the member
// from the top of the document ("result.meta.innerInstructions[0].index: ...").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/json.h"
#include "json/path.h"
#include "tx/transaction.h"

namespace varkel::tx {

// Instruction data longer than this (as base58 text) is refused: far above
// any transaction (1232 bytes on the wire), and it keeps the quadratic base58
// decoding bounded.
inline constexpr std::size_t kMaxBase58Text = 16384;

// The model views `root`, which must outlive it.
Result<Transaction> read_transaction(const json::Value& root);

// A transaction together with the document it views.
struct OwnedTransaction {
  std::unique_ptr<json::Value> document;
  Transaction tx;
};

// JSON text: parse errors read "transaction JSON: {parser message}".
Result<OwnedTransaction> read_transaction_text(std::string_view text);

// A block: a getBlock result ("json", "jsonParsed" or "base64" encoding,
// transactionDetails "full"; with or without the RPC envelope), a
// blockSubscribe notification or its value {"slot", "block", "err"}. A
// getBlock result does not carry its slot: a "slot" member beside its keys
// (as stored blocks often have) gives it, else the transactions have none.
struct Block {
  std::optional<std::uint64_t> slot;
  std::optional<std::int64_t> block_time;
  const json::Array* transactions = nullptr;
  std::vector<json::PathStep> path;  // of the transactions' list, for messages
};

// Whether `root` has the shape of a block rather than of a transaction.
bool is_block(const json::Value& root);

Result<Block> read_block(const json::Value& root);

// Transaction `index` of the block (index < block.transactions->size()),
// with the block's slot and time where it gives none; its messages name it
// from the top of the document ("result.transactions[3].meta: ...").
Result<Transaction> read_block_transaction(const Block& block, std::size_t index);

}  // namespace varkel::tx
