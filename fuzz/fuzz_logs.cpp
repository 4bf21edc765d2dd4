// Log lines of a transaction: the input split at line feeds, every line
// classified (classify_log_line) and the whole list walked (walk_logs).
//
// Properties:
// - the class of every line is the one that an independent reading of the
//   grammar gives (written here from the forms in tx/log_line.h, by splitting
//   at spaces), so a line that mentions "invoke [1]" anywhere but in the
//   anchored form is never an invoke; the views point into the line;
// - the walk: one frame per invoke line, in line order, each with that line's
//   program and depth, top-level frames numbered by counting; every candidate
//   is a data or log line with one trimmed field, and every such line is one,
//   its frame none or an earlier invoke line;
//   the truncation mark is the first "Log truncated" line; the out-of-step
//   mark lies within the lines;
// - a walker fed line by line after an earlier finish() gives the same walk.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/common.h"
#include "scan/payload.h"
#include "tx/log_line.h"
#include "tx/log_walk.h"

namespace {

using namespace varkel;
using tx::LineKind;

constexpr std::string_view kAlphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

bool is_id(std::string_view word) {
  return word.size() >= 32 && word.size() <= 44 && std::all_of(word.begin(), word.end(), [](char c) {
           return kAlphabet.find(c) != std::string_view::npos;
         });
}

bool is_number(std::string_view word) {
  return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string_view> split_spaces(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == ' ') {
      words.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  return words;
}

struct Expected {
  LineKind kind = LineKind::Other;
  std::string_view program;
  std::uint32_t depth = 0;
  std::string_view text;
};

// The grammar of tx/log_line.h, read independently.
Expected reference(std::string_view line) {
  Expected out;
  if (line == "Log truncated") {
    out.kind = LineKind::Truncated;
    return out;
  }
  for (const auto& [prefix, kind] : {std::pair{std::string_view("Program data: "), LineKind::Data},
                                     std::pair{std::string_view("Program log: "), LineKind::Log}}) {
    if (line.starts_with(prefix)) {
      out.kind = kind;
      out.text = line.substr(prefix.size());
      return out;
    }
  }
  const std::vector<std::string_view> w = split_spaces(line);
  if (w.size() < 3 || w[0] != "Program") return out;
  if (w[1] == "return:") {
    // "Program return: <id> <text>", the text non-empty (any bytes, spaces too).
    const std::size_t at = std::string_view("Program return: ").size() + w[2].size() + 1;
    if (w.size() >= 4 && is_id(w[2]) && at < line.size()) {
      out = {LineKind::Return, w[2], 0, line.substr(at)};
    }
    return out;
  }
  if (w[1] == "consumption:") {
    if (w.size() == 5 && is_number(w[2]) && w[3] == "units" && w[4] == "remaining")
      out.kind = LineKind::Consumption;
    return out;
  }
  if (!is_id(w[1])) return out;
  if (w.size() == 4 && w[2] == "invoke" && w[3].size() >= 3 && w[3].front() == '[' && w[3].back() == ']') {
    const std::string_view digits = w[3].substr(1, w[3].size() - 2);
    if (is_number(digits) && digits[0] != '0' && digits.size() <= 10) {
      const unsigned long long value = std::stoull(std::string(digits));
      if (value <= 0xFFFFFFFFull) out = {LineKind::Invoke, w[1], static_cast<std::uint32_t>(value), {}};
    }
    return out;
  }
  if (w.size() == 3 && w[2] == "success") {
    out = {LineKind::Success, w[1], 0, {}};
    return out;
  }
  if (w[2] == "failed:" && w.size() >= 4) {
    const std::size_t at =
        std::string_view("Program ").size() + w[1].size() + std::string_view(" failed: ").size();
    out = {LineKind::Failed, w[1], 0, line.substr(at)};
    return out;
  }
  if (w.size() == 8 && w[2] == "consumed" && is_number(w[3]) && w[4] == "of" && is_number(w[5]) &&
      w[6] == "compute" && w[7] == "units") {
    out = {LineKind::Consumed, w[1], 0, {}};
  }
  return out;
}

bool inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void check_line(std::string_view line) {
  const tx::LogLine got = tx::classify_log_line(line);
  const Expected want = reference(line);
  VARKEL_FUZZ_CHECK(got.kind == want.kind);
  VARKEL_FUZZ_CHECK(got.program == want.program);
  VARKEL_FUZZ_CHECK(got.depth == want.depth);
  VARKEL_FUZZ_CHECK(got.text == want.text);
  VARKEL_FUZZ_CHECK(inside(got.program, line) && inside(got.text, line));
  if (got.kind == LineKind::Invoke) VARKEL_FUZZ_CHECK(got.depth >= 1);
}

bool same_walk(const tx::LogWalk& a, const tx::LogWalk& b) {
  if (a.frames.size() != b.frames.size() || a.candidates.size() != b.candidates.size()) return false;
  for (std::size_t i = 0; i < a.frames.size(); ++i) {
    const tx::Frame &x = a.frames[i], &y = b.frames[i];
    if (x.program != y.program || x.depth != y.depth || x.line != y.line || x.top != y.top ||
        x.inner != y.inner)
      return false;
  }
  for (std::size_t i = 0; i < a.candidates.size(); ++i) {
    const tx::Candidate &x = a.candidates[i], &y = b.candidates[i];
    if (x.line != y.line || x.frame != y.frame || x.payload != y.payload ||
        x.after_truncation != y.after_truncation)
      return false;
  }
  return a.lines == b.lines && a.out_of_step == b.out_of_step && a.first_out_of_step == b.first_out_of_step &&
         a.truncated_at == b.truncated_at && a.top_level_failed == b.top_level_failed;
}

void check_walk(const std::vector<std::string_view>& lines) {
  const tx::LogWalk walk = tx::walk_logs(lines);
  VARKEL_FUZZ_CHECK(walk.lines == lines.size());
  VARKEL_FUZZ_CHECK(walk.out_of_step == walk.first_out_of_step.has_value());
  if (walk.first_out_of_step) VARKEL_FUZZ_CHECK(*walk.first_out_of_step <= walk.lines);

  std::size_t frame = 0;
  std::size_t candidate = 0;
  std::int32_t tops = 0;
  std::optional<std::uint32_t> truncated;
  for (std::uint32_t i = 0; i < lines.size(); ++i) {
    const tx::LogLine line = tx::classify_log_line(lines[i]);
    if (line.kind == LineKind::Invoke) {
      VARKEL_FUZZ_CHECK(frame < walk.frames.size());
      const tx::Frame& f = walk.frames[frame++];
      VARKEL_FUZZ_CHECK(f.line == i && f.program == line.program && f.depth == line.depth);
      VARKEL_FUZZ_CHECK(f.program.data() == line.program.data());  // a view into the list's line
      if (f.depth == 1) {
        VARKEL_FUZZ_CHECK(f.top == tops++ && f.inner == kNoIndex);
      } else {
        VARKEL_FUZZ_CHECK(f.top == kNoIndex || (f.top >= 0 && f.top < tops));
        VARKEL_FUZZ_CHECK(f.inner == kNoIndex || f.inner >= 0);
        if (f.top == kNoIndex) VARKEL_FUZZ_CHECK(f.inner == kNoIndex);
      }
    }
    if (line.kind == LineKind::Truncated && !truncated) truncated = i;
    if (line.kind == LineKind::Data || line.kind == LineKind::Log) {
      const std::optional<std::string_view> payload = scan::extract_payload(lines[i]);
      if (payload && tx::single_field(*payload)) {
        VARKEL_FUZZ_CHECK(candidate < walk.candidates.size());
        const tx::Candidate& c = walk.candidates[candidate++];
        VARKEL_FUZZ_CHECK(c.line == i && c.payload == *payload && inside(c.payload, lines[i]));
        VARKEL_FUZZ_CHECK(c.after_truncation == truncated.has_value());
        VARKEL_FUZZ_CHECK(c.frame == kNoIndex || (c.frame >= 0 && static_cast<std::size_t>(c.frame) < frame &&
                                                  walk.frames[static_cast<std::size_t>(c.frame)].line < i));
      }
    }
  }
  VARKEL_FUZZ_CHECK(frame == walk.frames.size());
  VARKEL_FUZZ_CHECK(candidate == walk.candidates.size());
  VARKEL_FUZZ_CHECK(walk.truncated_at == truncated);

  // A walker is reusable after finish(), and feeding it line by line is the walk.
  tx::LogWalker walker;
  walker.feed("Program 11111111111111111111111111111111 invoke [1]");
  (void)walker.finish();
  for (std::string_view line : lines) walker.feed(line);
  VARKEL_FUZZ_CHECK(same_walk(walker.finish(), walk));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  for (std::string_view line : lines) check_line(line);
  check_walk(lines);
  return 0;
}
