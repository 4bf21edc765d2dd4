// What one decoder knows of its program: the events, the instructions, the
// accounts and the error codes of the IDL, and the type definitions their
// fields refer to.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "decode/base58.h"
#include "idl/model.h"

namespace varkel::decode {

struct EventEntry {
  std::string name;
  idl::ByteVec discriminator;  // any length; only 8-byte ones can match
  std::optional<idl::IdlDefinedFields> fields;
};

// An instruction's accounts, in the order of the instruction's account list
// with the groups (composite accounts) flattened: a group opens, lists its
// items, and closes.
struct AccountItem {
  enum class Kind : std::uint8_t { Account, GroupBegin, GroupEnd };
  Kind kind = Kind::Account;
  std::string name;  // Account, GroupBegin
  bool writable = false;
  bool signer = false;
  bool optional = false;  // a client that has none passes the program's id, or leaves a trailing one out
};

struct InstructionEntry {
  std::string name;
  idl::ByteVec discriminator;  // any length (matched as a prefix of the data)
  idl::IdlDefinedFields args;  // named fields
  std::vector<AccountItem> accounts;
  std::uint32_t account_count = 0;  // the Account items
  std::uint32_t required = 0;       // accounts the data must name: up to the last one not optional
};

// An account type of the program: its data is the discriminator, then the
// type definition of the same name.
struct AccountEntry {
  std::string name;
  idl::ByteVec discriminator;  // any length
};

struct ErrorEntry {
  std::uint32_t code = 0;
  std::string name;
  std::optional<std::string> msg;
};

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

class EventRegistry {
 public:
  // The program's address as the IDL gives it (current `address`, legacy
  // `metadata.address`; marginfi's IDL has ""), and its 32 bytes when that
  // text is a base58 public key.
  std::string address;
  std::optional<Pubkey> program_id;
  std::vector<EventEntry> events;
  std::vector<InstructionEntry> instructions;
  std::vector<AccountEntry> accounts;
  std::vector<ErrorEntry> errors;
  std::unordered_map<std::string, idl::IdlTypeDef, StringHash, std::equal_to<>> types;

  // The definition held under exactly `name`, or nullptr.
  const idl::IdlTypeDef* find_type(std::string_view name) const;
  // The first entry whose discriminator is exactly the 8 bytes at `prefix`.
  const EventEntry* find_event(const std::uint8_t* prefix) const;
  // The first instruction (IDL order) whose discriminator starts `data`, as
  // the program's dispatch takes it; nullptr when none does. Empty
  // discriminators match nothing.
  const InstructionEntry* find_instruction(std::span<const std::uint8_t> data) const;
  // The same for account data.
  const AccountEntry* find_account(std::span<const std::uint8_t> data) const;
  // The program's error of that code, or nullptr.
  const ErrorEntry* find_error(std::uint32_t code) const;
};

// Pairs every event with the struct definition of its name; later type
// definitions of one name replace earlier ones. Instructions, accounts and
// errors are taken as they are: whatever in them cannot be decoded fails
// only when data reaches it.
Result<EventRegistry> build_registry(const idl::Idl& idl);

}  // namespace varkel::decode
