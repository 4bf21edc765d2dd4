// Accounts as the RPC gives them, read from JSON:
//
//   account       {"data": ["<text>", "base64" | "base58" | "base64+zstd"],
//                  "owner", "lamports", "executable", "rentEpoch", "space"}
//   keyed         {"pubkey": "<base58>", "account": account}
//   getAccountInfo       {"context": {"slot"}, "value": account | null}
//   getMultipleAccounts  {"context": {"slot"}, "value": [account | null, ...]}
//   getProgramAccounts   [keyed, ...], or {"context", "value": [keyed, ...]}
//   a list of any of these items, and any of them inside the RPC envelope
//   {"jsonrpc", "result", "id"}.
//
// A document that is none of these fails whole; an item that cannot be read
// (an encoding other than these, text that is not of its encoding, a
// "jsonParsed" account whose data the node parsed) is kept with its reason,
// so that a list of many accounts loses none silently.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/json.h"

namespace varkel::accounts {

// Base58 data longer than this (in characters) is refused: the RPC serves
// base58 only for data under 129 bytes, and decoding it is quadratic.
inline constexpr std::size_t kMaxBase58Data = 16384;

struct RpcAccount {
  enum class Data : std::uint8_t {
    Bytes,    // `bytes` holds the account's data
    Zstd,     // `bytes` holds the data compressed with zstd ("base64+zstd")
    Missing,  // the RPC has no such account (null)
    Unread,   // `error` says why the data cannot be read
  };
  std::string_view pubkey;  // base58, as given; empty when not given
  std::string_view owner;   // base58, as given; empty when not given
  std::optional<std::uint64_t> lamports;
  std::optional<std::uint64_t> slot;  // of the response's context
  Data form = Data::Unread;
  std::vector<std::uint8_t> bytes;
  std::string error;
};

// The accounts of `root`, which they view: it must outlive them.
Result<std::vector<RpcAccount>> read_accounts(const json::Value& root);

// One account's data given as text ("base64" or "base58"): the bytes, or why
// not.
Result<std::vector<std::uint8_t>> decode_data(std::string_view text, std::string_view encoding);

}  // namespace varkel::accounts
