// Forward-only cursor over one event's data (the payload after its
// discriminator), with the decode error type of the decoding core.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace varkel::decode {

// One message text. `internal` marks the one failure that is not a decode
// error: the interpreter could not create an object; it aborts the whole call.
struct DecodeError {
  std::string message;
  bool internal = false;
};

template <class T>
using Decoded = std::expected<T, DecodeError>;

class BorshReader {
 public:
  BorshReader(const std::uint8_t* data, std::uint64_t length) noexcept : data_(data), length_(length) {}

  std::uint64_t position() const noexcept { return position_; }
  std::uint64_t length() const noexcept { return length_; }

  // The next n bytes (a view into the data), or "unexpected end of buffer: ..."
  // / "length overflow". A failed read leaves the position unchanged.
  Decoded<std::span<const std::uint8_t>> read_bytes(std::uint64_t n);
  Decoded<std::uint8_t> read_u8();
  Decoded<std::uint16_t> read_u16();
  Decoded<std::uint32_t> read_u32();
  Decoded<std::uint64_t> read_u64();
  Decoded<std::array<std::uint8_t, 16>> read_array16();
  Decoded<std::array<std::uint8_t, 32>> read_array32();

 private:
  const std::uint8_t* data_;
  std::uint64_t length_;
  std::uint64_t position_ = 0;
};

}  // namespace varkel::decode
