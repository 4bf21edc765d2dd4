// Strict base64 (RFC 4648 section 4): canonical padding, zero unused bits,
// the standard alphabet only, no character ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace varkel::scan {

struct ByteBuffer {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
};

// The decoded bytes, or nullopt when `text` is not accepted. One allocation of
// 3 * ceil(size / 4) bytes.
std::optional<ByteBuffer> decode_base64(std::string_view text);

// The same into `out`, which is resized to the decoded size (its capacity is
// kept for the next text): true, or false when `text` is not accepted.
bool decode_base64(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace varkel::scan
