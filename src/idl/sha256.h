// SHA-256 (FIPS 180-4) and the 8-byte discriminators hashed from names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace varkel::idl {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Incremental hashing: update() any number of times, then finish() once.
class Sha256 {
 public:
  Sha256();
  void update(std::span<const std::uint8_t> data);
  void update(std::string_view data);
  // The digest of everything passed to update(). The object is spent after.
  Sha256Digest finish();

 private:
  void compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t total_bytes_ = 0;
};

Sha256Digest sha256(std::span<const std::uint8_t> data);
Sha256Digest sha256(std::string_view data);

// The first 8 bytes of SHA-256 over `prefix`, ':' and `name`, e.g.
// legacy_discriminator("global", "initialize_market").
std::array<std::uint8_t, 8> legacy_discriminator(std::string_view prefix, std::string_view name);

}  // namespace varkel::idl
