#include "columnar/key_text.h"

#include <cstring>

#include "decode/base58.h"

namespace varkel::columnar {

KeyTextCache& KeyTextCache::for_this_thread() {
  thread_local KeyTextCache cache(11);
  return cache;
}

void KeyTextCache::clear() noexcept {
  if (lengths_) std::memset(lengths_.get(), 0, std::size_t{1} << bits_);
}

std::string_view KeyTextCache::text(const std::uint8_t* key) {
  if (!entries_) {
    lengths_ = std::make_unique<std::uint8_t[]>(std::size_t{1} << bits_);  // zeroed: all empty
    entries_ = std::make_unique_for_overwrite<Entry[]>(std::size_t{1} << bits_);
  }
  std::uint64_t words[4];
  std::memcpy(words, key, 32);
  const std::uint64_t mixed = (words[0] ^ (words[1] * 0x9E3779B97F4A7C15ull) ^
                               (words[2] * 0xC2B2AE3D27D4EB4Full) ^ (words[3] * 0x165667B19E3779F9ull)) *
                              0xD6E8FEB86659FD93ull;
  const std::size_t at = mixed >> (64 - bits_);
  Entry& entry = entries_[at];
  std::uint8_t& length = lengths_[at];
  if (length == 0 || std::memcmp(entry.key, key, 32) != 0) {
    std::memcpy(entry.key, key, 32);
    length = static_cast<std::uint8_t>(decode::base58_encode_key(key, entry.text));
  }
  return std::string_view(entry.text, length);
}

}  // namespace varkel::columnar
