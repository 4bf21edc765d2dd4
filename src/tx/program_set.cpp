#include "tx/program_set.h"

#include <cstring>
#include <utility>

namespace varkel::tx {

std::size_t ProgramSet::KeyHash::operator()(const decode::Pubkey& key) const noexcept {
  // Program ids are hashes or curve points: any eight of their bytes are
  // spread evenly already.
  std::uint64_t head = 0;
  std::memcpy(&head, key.data(), sizeof head);
  return static_cast<std::size_t>(head);
}

Result<void> ProgramSet::add(const decode::EventRegistry& registry, std::string label) {
  // "{label}: {reason}", with the label as the path.
  auto refuse = [&label](const std::string& reason) { return fail(Error(label + ": " + reason, label)); };
  if (registry.address.empty()) {
    return refuse(
        "the IDL has no program address (\"address\" is empty), so no event can be attributed to its "
        "program");
  }
  if (!registry.program_id) {
    Result<decode::Pubkey> key = decode::base58_decode_key(registry.address);
    return refuse("the IDL's program address \"" + registry.address +
                  "\" is not a public key: " + (key ? std::string("unreadable") : key.error().message));
  }
  const auto entry = static_cast<std::uint32_t>(entries_.size());
  const auto [at, inserted] = by_key_.try_emplace(*registry.program_id, entry);
  if (!inserted) {
    return refuse("program " + registry.address + " already has a decoder (" + entries_[at->second].label +
                  ")");
  }
  by_text_.emplace(std::string_view(registry.address), entry);
  entries_.push_back(Entry{&registry, std::move(label)});
  return {};
}

std::uint32_t ProgramSet::find(const decode::Pubkey& program) const {
  const auto it = by_key_.find(program);
  return it == by_key_.end() ? kNoIndex : it->second;
}

std::uint32_t ProgramSet::find_text(std::string_view program) const {
  const auto it = by_text_.find(program);
  return it == by_text_.end() ? kNoIndex : it->second;
}

}  // namespace varkel::tx
