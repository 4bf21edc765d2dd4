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

// The first 9 bytes of a text of at least 16 characters: true when its first
// 12 characters are three groups of four alphabet characters. When it is
// false, decode_base64 rejects the text (those groups are not its last, so
// they take no padding); when decode_base64 accepts the text, its bytes start
// with these. A cheap look at a payload before decoding all of it.
bool decode_base64_head(std::string_view text, std::uint8_t (&head)[9]);

// The same into `out`, which is resized to the decoded size (its capacity is
// kept for the next text): true, or false when `text` is not accepted.
bool decode_base64(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace varkel::scan
