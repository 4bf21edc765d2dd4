#include "decode/registry.h"

#include <cstring>
#include <variant>

namespace varkel::decode {

const idl::IdlTypeDef* EventRegistry::find_type(std::string_view name) const {
  auto it = types.find(name);
  return it == types.end() ? nullptr : &it->second;
}

namespace {

bool starts_with(std::span<const std::uint8_t> data, const idl::ByteVec& prefix) {
  return !prefix.empty() && prefix.size() <= data.size() &&
         std::memcmp(data.data(), prefix.data(), prefix.size()) == 0;
}

// Flattens an instruction's account items into `out`.
void flatten(const std::vector<idl::IdlInstructionAccountItem>& items, InstructionEntry& out) {
  for (const idl::IdlInstructionAccountItem& item : items) {
    if (const auto* group = std::get_if<idl::IdlInstructionAccounts>(&item.value)) {
      out.accounts.push_back(AccountItem{AccountItem::Kind::GroupBegin, group->name});
      flatten(group->accounts, out);
      out.accounts.push_back(AccountItem{AccountItem::Kind::GroupEnd, {}});
      continue;
    }
    const auto& account = std::get<idl::IdlInstructionAccount>(item.value);
    out.accounts.push_back(AccountItem{AccountItem::Kind::Account, account.name, account.writable,
                                       account.signer, account.optional});
    ++out.account_count;
    if (!account.optional) out.required = out.account_count;
  }
}

}  // namespace

const InstructionEntry* EventRegistry::find_instruction(std::span<const std::uint8_t> data) const {
  for (const InstructionEntry& entry : instructions) {
    if (starts_with(data, entry.discriminator)) return &entry;
  }
  return nullptr;
}

const AccountEntry* EventRegistry::find_account(std::span<const std::uint8_t> data) const {
  for (const AccountEntry& entry : accounts) {
    if (starts_with(data, entry.discriminator)) return &entry;
  }
  return nullptr;
}

const ErrorEntry* EventRegistry::find_error(std::uint32_t code) const {
  for (const ErrorEntry& entry : errors) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

const EventEntry* EventRegistry::find_event(const std::uint8_t* prefix) const {
  for (const EventEntry& entry : events) {
    if (entry.discriminator.size() == 8 && std::memcmp(entry.discriminator.data(), prefix, 8) == 0) {
      return &entry;
    }
  }
  return nullptr;
}

Result<EventRegistry> build_registry(const idl::Idl& idl) {
  EventRegistry registry;
  registry.address = idl.address;
  if (Result<Pubkey> key = base58_decode_key(idl.address)) registry.program_id = *key;
  for (const idl::IdlTypeDef& def : idl.types) {
    registry.types.insert_or_assign(def.name, def);
  }
  registry.events.reserve(idl.events.size());
  for (const idl::IdlEvent& event : idl.events) {
    const idl::IdlTypeDef* def = registry.find_type(event.name);
    if (def == nullptr) {
      return fail("event '" + event.name + "' has no matching type definition in idl.types");
    }
    const auto* body = std::get_if<idl::IdlTypeDefTy::Struct>(&def->type.value);
    if (body == nullptr) {
      return fail("event '" + event.name + "' type definition is not a struct");
    }
    registry.events.push_back(EventEntry{event.name, event.discriminator, body->fields});
  }
  registry.instructions.reserve(idl.instructions.size());
  for (const idl::IdlInstruction& instruction : idl.instructions) {
    InstructionEntry& entry = registry.instructions.emplace_back();
    entry.name = instruction.name;
    entry.discriminator = instruction.discriminator;
    entry.args.value = instruction.args;
    flatten(instruction.accounts, entry);
  }
  registry.accounts.reserve(idl.accounts.size());
  for (const idl::IdlAccount& account : idl.accounts) {
    registry.accounts.push_back(AccountEntry{account.name, account.discriminator});
  }
  registry.errors.reserve(idl.errors.size());
  for (const idl::IdlErrorCode& error : idl.errors) {
    registry.errors.push_back(ErrorEntry{error.code, error.name, error.msg});
  }
  return registry;
}

}  // namespace varkel::decode
