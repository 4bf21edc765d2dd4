// Anchor's own error codes (below 6000, where a program's `#[error_code]`
// values begin), which any Anchor program may fail with: instruction dispatch
// (100+), the IDL instructions of releases up to 0.31 (1000+), the event
// instruction (1500), account constraints (2000+), require checks (2500+),
// accounts (3000+), miscellaneous (4100+) and the deprecated code (5000).
#pragma once

#include <cstdint>
#include <string_view>

namespace varkel::decode {

struct FrameworkError {
  std::uint32_t code;
  std::string_view name;
  std::string_view msg;
};

// The framework error of `code`, or nullptr.
const FrameworkError* anchor_error(std::uint32_t code) noexcept;

}  // namespace varkel::decode
