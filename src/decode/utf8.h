// Strict UTF-8 validation (no overlong forms, no surrogates, nothing above U+10FFFF).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varkel::decode {

// nullopt when `bytes` is valid UTF-8; otherwise the detail text:
// "invalid utf-8 sequence of {k} bytes from index {i}" or
// "incomplete utf-8 byte sequence from index {i}".
std::optional<std::string> check_utf8(std::span<const std::uint8_t> bytes);

}  // namespace varkel::decode
