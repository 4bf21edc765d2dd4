// The base58 text of public keys, remembered for the keys met again within
// one batch: accounts repeat within a block (programs, mints, pools, busy
// wallets), and a remembered text costs a compare and a copy instead of an
// encoding. Direct-mapped: a key whose place is taken replaces the key there,
// so every lookup is one compare, whatever the keys. One per thread
// (for_this_thread), whose memory is kept for the thread's life and whose
// keys are forgotten (clear) when a batch starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace varkel::columnar {

class KeyTextCache {
 public:
  // Room for 2^bits keys (memory: 81 bytes each, taken at the first key).
  explicit KeyTextCache(unsigned bits) noexcept : bits_(bits) {}

  // The base58 text of the 32 bytes at `key` (a view valid until the next call).
  std::string_view text(const std::uint8_t* key);

  // Forgets every key.
  void clear() noexcept;

  // The calling thread's cache: 2^11 keys (166 KiB, taken at its first key).
  static KeyTextCache& for_this_thread();

 private:
  struct Entry {
    std::uint8_t key[32];
    char text[48];
  };
  unsigned bits_;
  std::unique_ptr<std::uint8_t[]> lengths_;  // per entry: its text's length; 0: empty
  std::unique_ptr<Entry[]> entries_;
};

}  // namespace varkel::columnar
