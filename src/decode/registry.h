// The events of one decoder and the type definitions their fields refer to.
#pragma once

#include <cstdint>
#include <optional>
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
  std::unordered_map<std::string, idl::IdlTypeDef, StringHash, std::equal_to<>> types;

  // The definition held under exactly `name`, or nullptr.
  const idl::IdlTypeDef* find_type(std::string_view name) const;
  // The first entry whose discriminator is exactly the 8 bytes at `prefix`.
  const EventEntry* find_event(const std::uint8_t* prefix) const;
};

// Pairs every event with the struct definition of its name; later type
// definitions of one name replace earlier ones.
Result<EventRegistry> build_registry(const idl::Idl& idl);

}  // namespace varkel::decode
