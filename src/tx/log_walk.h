// The invoke stack that a transaction's log lines describe, and the event
// candidates on it.
//
// A LogWalker is a plain value fed one line at a time. Invoke lines push a
// frame, success/failed lines pop it; a "Program data:" or "Program log:" line
// whose text is one field is an event candidate of the frame on top of the
// stack (none when the stack is empty). Whatever does not fit is recorded, the
// runtime's own numbers are trusted, and nothing ever throws or fails:
// - invoke [n] with a stack that is not n-1 deep: the stack is cut to n-1
//   frames (missing closes) or the frame goes on top anyway (missing invokes);
//   invoke [1] always starts a new top-level instruction on an empty stack;
// - a close (success/failed) of another program than the top frame's pops
//   through the nearest frame of that program among the top kMaxCloseSearch
//   frames, and changes nothing when there is none;
// - a "consumed" line of another program than the top frame's;
// - frames still open after the last line;
// each marks the walk out of step (first_out_of_step: the line where it was
// noticed; the number of lines for frames open at the end). "Log truncated"
// means the runtime dropped at least one line from there on (later lines may
// be missing too): its first index is kept and later candidates are marked.
//
// Cost: constant per line apart from the closes that pop, and every frame is
// popped at most once; so linear in the lines.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/index.h"

namespace varkel::tx {

struct Frame {
  std::string_view program;  // base58 text of the invoke line
  std::uint32_t depth = 0;   // the runtime's stack depth (1 = top-level instruction)
  std::uint32_t line = 0;    // index of the invoke line
  // Counted from the lines: the top-level instruction (invoke [1] lines before
  // it, 0-based) and, for depth >= 2, the invoke lines of depth >= 2 before it
  // within that instruction, which is its index among the instruction's inner
  // instructions. kNoIndex when unknown (a frame opened on an empty stack
  // below depth 1) and, for `inner`, for top-level frames.
  std::uint32_t top = kNoIndex;
  std::uint32_t inner = kNoIndex;
};

struct Candidate {
  std::uint32_t line = 0;          // index of the line
  std::uint32_t frame = kNoIndex;  // index into LogWalk::frames; kNoIndex: empty stack
  std::string_view payload;        // the field, trimmed as parse_logs trims it
  bool after_truncation = false;   // a "Log truncated" line came before it
  bool data_line = false;          // a "Program data:" line (else an old-style "Program log:" line)
};

struct LogWalk {
  std::vector<Frame> frames;  // in the order of their invoke lines
  std::vector<Candidate> candidates;
  std::uint32_t lines = 0;
  bool out_of_step = false;
  std::optional<std::uint32_t> first_out_of_step;
  std::optional<std::uint32_t> truncated_at;  // the first "Log truncated" line
  bool top_level_failed = false;              // a depth-1 frame closed with "failed"
  // The first frame closed with "failed" (the innermost: a failure makes the
  // frames around it fail after it), its line and its reason.
  std::uint32_t failed_frame = kNoIndex;
  std::uint32_t failed_line = 0;
  std::string_view failed_text;
};

class LogWalker {
 public:
  static constexpr std::size_t kMaxCloseSearch = 64;

  void feed(std::string_view line);
  // The walk, with frames still open marked out of step. The walker is left
  // empty.
  LogWalk finish();

 private:
  void mark_out_of_step(std::uint32_t line);
  void push(std::string_view program, std::uint32_t depth, std::uint32_t line);
  void close(std::string_view program, bool failed, std::uint32_t line);
  void note_failure(std::uint32_t frame, std::uint32_t line);

  std::string_view failed_text_;  // of the line being closed

  LogWalk walk_;
  std::vector<std::uint32_t> stack_;  // indexes into walk_.frames
  std::uint32_t top_count_ = 0;       // invoke [1] lines so far
  std::uint32_t inner_count_ = 0;     // depth >= 2 invokes in the current top-level instruction
};

// The walk of a whole list of lines.
LogWalk walk_logs(std::span<const std::string_view> lines);

}  // namespace varkel::tx
