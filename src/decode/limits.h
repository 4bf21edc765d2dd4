// The bounds that every decoder of event data applies, so that they all fail
// the same events: nesting depth (with the thread's stack), and zero-width
// elements. decode/walk.h explains them.
#pragma once

#include <cstdint>

namespace varkel::decode {

// Far above the nesting of any real program's types, and small enough that the
// deepest chain of frames it allows (a few hundred bytes per level) stays well
// inside the stack of any interpreter thread.
inline constexpr unsigned kMaxDepth = 256;

// Stack that must stay free below the deepest decoding frame: room for the
// failure path and the interpreter's own calls, whatever the thread's stack
// size (threading.stack_size may make it small).
inline constexpr std::uintptr_t kStackReserve = 16 * 1024;

// Zero-width vec/array elements one event may produce.
inline constexpr std::uint64_t kMaxZeroWidth = std::uint64_t{1} << 20;

// The lowest address of the calling thread's stack (it grows down), read once
// per thread; 0 where the platform does not tell, which disables the check.
std::uintptr_t stack_floor() noexcept;

// One nesting level of a decode, given back when the compound value is done.
// (A failure ends the whole decode, so the count need not be exact after one.)
class DepthLevel {
 public:
  explicit DepthLevel(unsigned& depth) noexcept : depth_(depth) { ++depth_; }
  DepthLevel(const DepthLevel&) = delete;
  DepthLevel& operator=(const DepthLevel&) = delete;
  ~DepthLevel() { --depth_; }

 private:
  unsigned& depth_;
};

}  // namespace varkel::decode
