#include "tx/log_walk.h"

#include <algorithm>
#include <utility>

#include "scan/payload.h"
#include "tx/log_line.h"

namespace varkel::tx {

void LogWalker::mark_out_of_step(std::uint32_t line) {
  walk_.out_of_step = true;
  if (!walk_.first_out_of_step) walk_.first_out_of_step = line;
}

void LogWalker::push(std::string_view program, std::uint32_t depth, std::uint32_t line) {
  Frame frame{program, depth, line, kNoIndex, kNoIndex};
  if (depth == 1) {
    if (!stack_.empty()) {
      mark_out_of_step(line);  // the previous instruction's frames never closed
      stack_.clear();
    }
    frame.top = top_count_++;
    inner_count_ = 0;
  } else {
    if (stack_.size() + 1 != depth) {
      mark_out_of_step(line);
      if (stack_.size() >= depth) stack_.resize(depth - 1);  // closes are missing
      // Otherwise invokes are missing: the frame goes on top at its own depth.
    }
    if (!stack_.empty()) {
      frame.top = walk_.frames[stack_.front()].top;
      if (frame.top != kNoIndex) frame.inner = inner_count_++;
    }
  }
  stack_.push_back(static_cast<std::uint32_t>(walk_.frames.size()));
  walk_.frames.push_back(frame);
}

void LogWalker::note_failure(std::uint32_t frame, std::uint32_t line) {
  if (walk_.frames[frame].depth == 1) walk_.top_level_failed = true;
  if (walk_.failed_frame != kNoIndex) return;
  walk_.failed_frame = frame;
  walk_.failed_line = line;
  walk_.failed_text = failed_text_;
}

void LogWalker::close(std::string_view program, bool failed, std::uint32_t line) {
  if (!stack_.empty() && walk_.frames[stack_.back()].program == program) {
    if (failed) note_failure(stack_.back(), line);
    stack_.pop_back();
    return;
  }
  mark_out_of_step(line);
  const std::size_t reach = std::min(stack_.size(), kMaxCloseSearch);
  for (std::size_t k = 1; k <= reach; ++k) {
    const std::size_t at = stack_.size() - k;
    if (walk_.frames[stack_[at]].program == program) {
      if (failed) note_failure(stack_[at], line);
      stack_.resize(at);
      return;
    }
  }
}

void LogWalker::feed(std::string_view text) {
  const std::uint32_t line = walk_.lines++;
  const LogLine parsed = classify_log_line(text);
  switch (parsed.kind) {
    case LineKind::Invoke:
      push(parsed.program, parsed.depth, line);
      return;
    case LineKind::Success:
    case LineKind::Failed:
      failed_text_ = parsed.text;
      close(parsed.program, parsed.kind == LineKind::Failed, line);
      return;
    case LineKind::Consumed:
      if (stack_.empty() || walk_.frames[stack_.back()].program != parsed.program) mark_out_of_step(line);
      return;
    case LineKind::Data:
    case LineKind::Log: {
      // The same trimmed payload as parse_logs reads; one field only (a line
      // of several buffers is not an event).
      const std::optional<std::string_view> payload = scan::extract_payload(text);
      if (!payload || !single_field(*payload)) return;
      const std::uint32_t frame = stack_.empty() ? kNoIndex : stack_.back();
      walk_.candidates.push_back(
          Candidate{line, frame, *payload, walk_.truncated_at.has_value(), parsed.kind == LineKind::Data});
      return;
    }
    case LineKind::Truncated:
      if (!walk_.truncated_at) walk_.truncated_at = line;
      return;
    case LineKind::Return:
    case LineKind::Consumption:
    case LineKind::Other:
      return;
  }
}

LogWalk LogWalker::finish() {
  if (!stack_.empty()) mark_out_of_step(walk_.lines);
  LogWalk out = std::move(walk_);
  *this = LogWalker();
  return out;
}

LogWalk walk_logs(std::span<const std::string_view> lines) {
  LogWalker walker;
  for (std::string_view line : lines) walker.feed(line);
  return walker.finish();
}

}  // namespace varkel::tx
