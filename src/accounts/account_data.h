// Which of a program's account types some account data is: the first
// account of the IDL (in IDL order) whose discriminator begins the data,
// when the account's owner, where known, is the program. A zero-copy account
// (decode/plan.h, lay_out_zero_copy) must hold its whole memory layout after
// the discriminator; a Borsh account is read from the front, and data longer
// than what it reads is accepted (accounts are often allocated larger).
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "base/index.h"
#include "base/result.h"
#include "decode/plan.h"
#include "decode/registry.h"

namespace varkel::accounts {

struct AccountMatch {
  std::size_t account = 0;             // in registry.accounts
  std::span<const std::uint8_t> data;  // after the discriminator
  bool zero_copy = false;
};

struct AccountRefusal {
  // owned by another program; no known discriminator; too short for its layout
  enum class Fault : std::uint8_t { Owner, Discriminator, Size };
  Fault fault;
  std::size_t account;  // Size: the account type that matched; else kNoIndex
  Error error;
};

// `owner`: the account's owner as given (empty: not given); `program`: the
// program's id (empty: not known, no check).
std::expected<AccountMatch, AccountRefusal> match_account(const decode::EventRegistry& registry,
                                                          const decode::DecodePlan& plan,
                                                          std::span<const std::uint8_t> data,
                                                          std::string_view owner, std::string_view program);

}  // namespace varkel::accounts
