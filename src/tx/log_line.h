// The grammar of one log line that the runtime writes for a transaction.
//
//   Program <id> invoke [<n>]                        n: stack depth, 1 = top-level instruction
//   Program <id> success
//   Program <id> failed: <text>
//   Program <id> consumed <u> of <u> compute units
//   Program return: <id> <base64>
//   Program data: <base64>( <base64>)*               zero or more fields, single spaces
//   Program log: <text>
//   Program consumption: <u> units remaining
//   Log truncated
//   anything else                                    (builtins print free text)
//
// Forms are matched whole and anchored: a line is an invoke line only when it
// is exactly that form from its first byte to its last, so a log text that
// mentions "invoke [1]" is a log line. <id> is 32 to 44 base58 characters
// (its value is not checked here), <n> a decimal number from 1 to 2^32 - 1
// without leading zeros, <u> decimal digits. An element is one line whatever
// it contains: line feeds inside it never split it.
#pragma once

#include <cstdint>
#include <string_view>

namespace varkel::tx {

enum class LineKind : std::uint8_t {
  Invoke,
  Success,
  Failed,
  Consumed,
  Return,
  Data,
  Log,
  Consumption,
  Truncated,
  Other,
};

struct LogLine {
  LineKind kind = LineKind::Other;
  // Invoke, Success, Failed, Consumed, Return: the program's base58 text.
  std::string_view program;
  // Invoke: the stack depth.
  std::uint32_t depth = 0;
  // Failed: the reason; Return: the base64 text; Data: the fields (possibly
  // empty); Log: the text. Views into the line.
  std::string_view text;
};

// Classifies `line`; the views of the result point into it.
LogLine classify_log_line(std::string_view line) noexcept;

// True when the text of a Data line is exactly one non-empty field (no space).
inline bool single_field(std::string_view fields) noexcept {
  return !fields.empty() && fields.find(' ') == std::string_view::npos;
}

}  // namespace varkel::tx
