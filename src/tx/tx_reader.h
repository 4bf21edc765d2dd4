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

#include <memory>
#include <string_view>

#include "base/result.h"
#include "json/json.h"
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

}  // namespace varkel::tx
