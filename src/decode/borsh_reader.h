// Forward-only cursor over one value's data (an event's payload after its
// discriminator, an instruction's arguments, an account's data).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "base/result.h"

namespace varkel::decode {

template <class T>
using Decoded = Result<T>;

// The failure of a read of n bytes at `position` over `length` bytes:
// "length overflow" when position + n does not fit in 64 bits, otherwise
// "unexpected end of buffer: need {n} byte(s) at offset {position}, have {length}".
// Kept out of line: reads only fail on malformed payloads.
[[gnu::cold, gnu::noinline]] Error read_failure(std::uint64_t n, std::uint64_t position,
                                                std::uint64_t length);

// The little-endian integer of sizeof(T) bytes at `bytes`, as a native value.
template <class T>
T load_le(const std::uint8_t* bytes) noexcept {
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) value = std::byteswap(value);
  return value;
}

class BorshReader {
 public:
  BorshReader(const std::uint8_t* data, std::uint64_t length) noexcept : data_(data), length_(length) {}

  std::uint64_t position() const noexcept { return position_; }
  std::uint64_t remaining() const noexcept { return length_ - position_; }
  // Moves to `position` (a zero-copy field's offset); false, staying put,
  // past the end.
  bool seek(std::uint64_t position) noexcept {
    if (position > length_) return false;
    position_ = position;
    return true;
  }
  std::uint64_t length() const noexcept { return length_; }
  const std::uint8_t* data() const noexcept { return data_; }

  // The next n bytes (a view into the data), or "unexpected end of buffer: ..."
  // / "length overflow". A failed read leaves the position unchanged; a read of
  // 0 bytes always succeeds.
  Decoded<std::span<const std::uint8_t>> read_bytes(std::uint64_t n) {
    // position_ <= length_ always holds, so this single comparison rules out
    // both an overflowing end and an end past the data.
    if (n <= length_ - position_) [[likely]] {
      const std::uint8_t* start = data_ + position_;
      position_ += n;
      return std::span<const std::uint8_t>(start, static_cast<std::size_t>(n));
    }
    return std::unexpected(read_failure(n, position_, length_));
  }

  // The next n bytes without a message on failure: a pointer to them, or null
  // (the position unchanged) when fewer remain. For decoders that only need
  // to know whether the data holds a value.
  const std::uint8_t* take(std::uint64_t n) noexcept {
    if (n <= length_ - position_) [[likely]] {
      const std::uint8_t* start = data_ + position_;
      position_ += n;
      return start;
    }
    return nullptr;
  }

  Decoded<std::uint8_t> read_u8() { return read_le<std::uint8_t>(); }
  Decoded<std::uint16_t> read_u16() { return read_le<std::uint16_t>(); }
  Decoded<std::uint32_t> read_u32() { return read_le<std::uint32_t>(); }
  Decoded<std::uint64_t> read_u64() { return read_le<std::uint64_t>(); }
  Decoded<std::array<std::uint8_t, 16>> read_array16() { return read_array<16>(); }
  Decoded<std::array<std::uint8_t, 32>> read_array32() { return read_array<32>(); }

 private:
  template <class U>
  Decoded<U> read_le() {
    constexpr std::uint64_t n = sizeof(U);
    if (n <= length_ - position_) [[likely]] {
      U value;
      std::memcpy(&value, data_ + position_, sizeof(U));
      position_ += n;
      if constexpr (std::endian::native == std::endian::big && sizeof(U) > 1) {
        value = std::byteswap(value);
      }
      return value;
    }
    return std::unexpected(read_failure(n, position_, length_));
  }

  template <std::size_t N>
  Decoded<std::array<std::uint8_t, N>> read_array() {
    if (N <= length_ - position_) [[likely]] {
      std::array<std::uint8_t, N> out;
      std::memcpy(out.data(), data_ + position_, N);
      position_ += N;
      return out;
    }
    return std::unexpected(read_failure(N, position_, length_));
  }

  const std::uint8_t* data_;
  std::uint64_t length_;
  std::uint64_t position_ = 0;
};

}  // namespace varkel::decode
