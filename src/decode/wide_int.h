// 128- and 256-bit little-endian integers as Python ints.
#pragma once

#include <array>
#include <cstdint>

#include "decode/value_decoder.h"

namespace varkel::decode {

DecodeResult make_int128(const std::array<std::uint8_t, 16>& bytes, bool is_signed);
DecodeResult make_int256(const std::array<std::uint8_t, 32>& bytes, bool is_signed);

}  // namespace varkel::decode
