#include "accounts/account_data.h"

#include <string>

namespace varkel::accounts {

std::expected<AccountMatch, AccountRefusal> match_account(const decode::EventRegistry& registry,
                                                          const decode::DecodePlan& plan,
                                                          std::span<const std::uint8_t> data,
                                                          std::string_view owner, std::string_view program) {
  using Fault = AccountRefusal::Fault;
  if (!owner.empty() && !program.empty() && owner != program) {
    return std::unexpected(AccountRefusal{
        Fault::Owner, kNoIndex,
        Error("owned by " + std::string(owner) + ", not by the program " + std::string(program))});
  }
  const decode::AccountEntry* entry = registry.find_account(data);
  if (entry == nullptr)
    return std::unexpected(AccountRefusal{Fault::Discriminator, kNoIndex, Error("unknown discriminator")});
  const auto index = static_cast<std::size_t>(entry - registry.accounts.data());
  AccountMatch out{index, data.subspan(entry->discriminator.size()), plan.zero_copy_accounts[index]};
  if (out.zero_copy) {
    const std::uint32_t definition = plan.nodes[plan.accounts[index]].child;
    const std::uint64_t size = plan.layouts[definition].size;
    if (out.data.size() < size) {
      return std::unexpected(
          AccountRefusal{Fault::Size, index,
                         Error(std::to_string(data.size()) + " bytes of data, fewer than the " +
                               std::to_string(entry->discriminator.size() + size) + " of '" + entry->name +
                               "' (" + std::to_string(entry->discriminator.size()) +
                               " of discriminator and " + std::to_string(size) + " of its memory layout)")});
    }
  }
  return out;
}

}  // namespace varkel::accounts
