// The decoders of one call, keyed by program id.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/index.h"
#include "base/result.h"
#include "decode/registry.h"

namespace varkel::tx {

class ProgramSet {
 public:
  // Adds the registry under its program id as entry size(). Fails when the
  // IDL has no usable program address or when another entry has the same one:
  //   "{label}: the IDL has no program address (\"address\" is empty), so no
  //    event can be attributed to its program"
  //   "{label}: the IDL's program address \"x\" is not a public key: {detail}"
  //   "{label}: program {address} already has a decoder ({other label})"
  // The registry must outlive the set.
  Result<void> add(const decode::EventRegistry& registry, std::string label);

  // The entry of a program, or kNoIndex.
  std::uint32_t find(const decode::Pubkey& program) const;
  // The same by base58 text (exact: a key has one text).
  std::uint32_t find_text(std::string_view program) const;

  const decode::EventRegistry& registry(std::uint32_t entry) const { return *entries_[entry].registry; }
  // The program's id: its base58 text and its bytes.
  std::string_view text(std::uint32_t entry) const { return entries_[entry].registry->address; }
  const decode::Pubkey& key(std::uint32_t entry) const { return *entries_[entry].registry->program_id; }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

 private:
  struct Entry {
    const decode::EventRegistry* registry;
    std::string label;
  };
  struct KeyHash {
    std::size_t operator()(const decode::Pubkey& key) const noexcept;
  };
  std::vector<Entry> entries_;
  std::unordered_map<decode::Pubkey, std::uint32_t, KeyHash> by_key_;
  std::unordered_map<std::string_view, std::uint32_t> by_text_;
};

}  // namespace varkel::tx
