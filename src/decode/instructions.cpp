#include "decode/instructions.h"

#include <algorithm>
#include <string>

namespace varkel::decode {

Result<AccountPlacement> place_accounts(const InstructionEntry& entry, std::span<const Pubkey> keys,
                                        const Pubkey& program) {
  if (keys.size() < entry.required) {
    return fail("too few accounts: " + std::to_string(keys.size()) + " given, " +
                std::to_string(entry.required) + " required");
  }
  AccountPlacement out;
  out.positions.reserve(entry.account_count);
  std::uint32_t position = 0;
  for (const AccountItem& item : entry.accounts) {
    if (item.kind != AccountItem::Kind::Account) continue;
    const bool present = position < keys.size() && !(item.optional && keys[position] == program);
    out.positions.push_back(present ? position : kNoIndex);
    ++position;
  }
  out.remaining = static_cast<std::uint32_t>(std::min<std::size_t>(keys.size(), entry.account_count));
  return out;
}

}  // namespace varkel::decode
