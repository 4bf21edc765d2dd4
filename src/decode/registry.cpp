#include "decode/registry.h"

#include <cstring>

namespace varkel::decode {

const idl::IdlTypeDef* EventRegistry::find_type(std::string_view name) const {
  auto it = types.find(name);
  return it == types.end() ? nullptr : &it->second;
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
  return registry;
}

}  // namespace varkel::decode
