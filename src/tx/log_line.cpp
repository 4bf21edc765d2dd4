#include "tx/log_line.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace varkel::tx {

namespace {

constexpr std::string_view kProgram = "Program ";
constexpr std::string_view kData = "Program data: ";
constexpr std::string_view kLog = "Program log: ";
constexpr std::string_view kReturn = "Program return: ";
constexpr std::string_view kConsumption = "Program consumption: ";
constexpr std::string_view kTruncated = "Log truncated";

constexpr std::size_t kMinId = 32;
constexpr std::size_t kMaxId = 44;

constexpr std::array<bool, 256> make_base58_set() {
  std::array<bool, 256> set{};
  for (char c : std::string_view("123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz")) {
    set[static_cast<unsigned char>(c)] = true;
  }
  return set;
}

constexpr std::array<bool, 256> kBase58 = make_base58_set();

bool is_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

// The program id at the start of `rest`: 32 to 44 base58 characters followed
// by a space; the empty view otherwise.
std::string_view leading_id(std::string_view rest) noexcept {
  // Every form has a space right after the id: find it (memchr), then check
  // the characters in one branch-free pass.
  const std::size_t reach = std::min(rest.size(), kMaxId + 1);
  const void* space = std::memchr(rest.data(), ' ', reach);
  if (space == nullptr) return {};
  const auto n = static_cast<std::size_t>(static_cast<const char*>(space) - rest.data());
  if (n < kMinId) return {};
  bool all = true;
  for (std::size_t i = 0; i < n; ++i) all &= kBase58[static_cast<unsigned char>(rest[i])];
  return all ? rest.substr(0, n) : std::string_view();
}

// Consumes `word` at the front of `rest`.
bool eat(std::string_view& rest, std::string_view word) noexcept {
  if (!rest.starts_with(word)) return false;
  rest.remove_prefix(word.size());
  return true;
}

// Consumes one or more decimal digits.
bool eat_digits(std::string_view& rest) noexcept {
  std::size_t n = 0;
  while (n < rest.size() && is_digit(rest[n])) ++n;
  if (n == 0) return false;
  rest.remove_prefix(n);
  return true;
}

// "<n>]" to the end of the line, n from 1 to 2^32 - 1 without leading zeros.
bool read_depth(std::string_view rest, std::uint32_t& depth) noexcept {
  if (rest.size() < 2 || rest.back() != ']') return false;
  const std::string_view digits = rest.substr(0, rest.size() - 1);
  if (digits.size() > 10 || digits.front() == '0') return false;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (!is_digit(c)) return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  depth = static_cast<std::uint32_t>(value);
  return true;
}

// The forms that start with "Program <id> ".
LogLine classify_program_line(std::string_view rest) noexcept {
  LogLine out;
  const std::string_view id = leading_id(rest);
  if (id.empty()) return out;
  rest.remove_prefix(id.size());
  if (eat(rest, " invoke [")) {
    if (read_depth(rest, out.depth)) {
      out.kind = LineKind::Invoke;
      out.program = id;
    }
    return out;
  }
  if (rest == " success") {
    out.kind = LineKind::Success;
    out.program = id;
    return out;
  }
  if (eat(rest, " failed: ")) {
    out.kind = LineKind::Failed;
    out.program = id;
    out.text = rest;
    return out;
  }
  if (eat(rest, " consumed ") && eat_digits(rest) && eat(rest, " of ") && eat_digits(rest) &&
      rest == " compute units") {
    out.kind = LineKind::Consumed;
    out.program = id;
  }
  return out;
}

}  // namespace

LogLine classify_log_line(std::string_view line) noexcept {
  LogLine out;
  if (!line.starts_with(kProgram)) {
    if (line == kTruncated) out.kind = LineKind::Truncated;
    return out;
  }
  // The four "Program <word>: " forms first: an id never holds ':'.
  if (line.starts_with(kData)) {
    out.kind = LineKind::Data;
    out.text = line.substr(kData.size());
    return out;
  }
  if (line.starts_with(kLog)) {
    out.kind = LineKind::Log;
    out.text = line.substr(kLog.size());
    return out;
  }
  if (line.starts_with(kReturn)) {
    std::string_view rest = line.substr(kReturn.size());
    const std::string_view id = leading_id(rest);
    if (!id.empty() && rest.size() > id.size() + 1 && rest[id.size()] == ' ') {
      out.kind = LineKind::Return;
      out.program = id;
      out.text = rest.substr(id.size() + 1);
    }
    return out;
  }
  if (line.starts_with(kConsumption)) {
    std::string_view rest = line.substr(kConsumption.size());
    if (eat_digits(rest) && rest == " units remaining") out.kind = LineKind::Consumption;
    return out;
  }
  return classify_program_line(line.substr(kProgram.size()));
}

}  // namespace varkel::tx
