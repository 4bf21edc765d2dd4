// The accounts of an instruction, named by the IDL: which key of the
// instruction's list each of the IDL's accounts is.
//
// The IDL lists the accounts in order, groups (composite accounts) flattened
// in place. The keys beyond the list are the instruction's remaining
// accounts. An optional account is absent when the key in its place is the
// program's own id (what a client passes for None), or when it is left out
// at the end of the list; a required account cannot be left out.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/index.h"
#include "base/result.h"
#include "decode/base58.h"
#include "decode/registry.h"

namespace varkel::decode {

struct AccountPlacement {
  // Per Account item of the entry, in order: the position of its key in the
  // instruction's list, or kNoIndex when the account is absent.
  std::vector<std::uint32_t> positions;
  std::uint32_t remaining = 0;  // the position of the first remaining account
};

// The accounts of `entry` among `keys`, the instruction's list, for the
// program `program`; "too few accounts: {n} given, {m} required" when the
// keys end before a required account.
Result<AccountPlacement> place_accounts(const InstructionEntry& entry, std::span<const Pubkey> keys,
                                        const Pubkey& program);

}  // namespace varkel::decode
