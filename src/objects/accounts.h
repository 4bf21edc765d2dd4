// Account records: a program's account data decoded by its IDL into Python
// values (accounts/account_data.h says which type; the plan walk reads it, as
// Borsh or as a memory image), and varkel.Account records of many accounts
// read from RPC results (accounts/rpc_accounts.h).
//
// Data compressed with zstd ("base64+zstd") is decompressed by the
// interpreter's zstd module (compression.zstd, Python 3.14) or the zstandard
// package; without either it cannot be read, and says so.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "accounts/rpc_accounts.h"
#include "base/result.h"
#include "objects/batch.h"
#include "py/pyref.h"

namespace varkel::objects {

// The fields of an Account, in their order in the struct sequence.
enum AccountField : int {
  kAccountPubkey,
  kAccountName,
  kAccountValue,
  kAccountOwner,
  kAccountLamports,
  kAccountSlot,
  kAccountUnread,
  kAccountError,
  kAccountFieldCount,
};

// Why an account does not decode, as AccountError.reason: "missing" (the RPC
// has no such account), "input" (its data cannot be read), "owner",
// "discriminator", "data" (the data does not fit the type).
struct AccountFailure {
  const char* reason = nullptr;  // null: it decoded
  Error error;
};

// The decoded value of one account's data, with the name of its type and the
// bytes left unread; or its failure. `program` as for match_account.
struct DecodedAccount {
  py::PyRef name;
  py::PyRef value;
  std::uint64_t unread = 0;
  AccountFailure failure;
};

// Null with an exception set only when the interpreter fails.
bool decode_account_data(const Decoding& decoding, std::span<const std::uint8_t> data, std::string_view owner,
                         std::string_view program, DecodedAccount& out);

// The data of one RPC account: `data` views it (in `account`, or in
// `holder` when decompressed from zstd), or `failure` says why there is
// none. False with an exception set only when the interpreter fails.
bool account_bytes(const accounts::RpcAccount& account, std::span<const std::uint8_t>& data,
                   py::PyRef& holder, AccountFailure& failure);

// One RPC account, its zstd data decompressed, decoded. False with an
// exception set only when the interpreter fails.
bool decode_rpc_account(const Decoding& decoding, const accounts::RpcAccount& account,
                        std::string_view program, DecodedAccount& out);

// A new Account record (an instance of `type`) of `account` decoded as
// `decoded` (taken over). Null with an exception set.
py::PyRef build_account(PyTypeObject* type, const accounts::RpcAccount& account, DecodedAccount& decoded);

}  // namespace varkel::objects
