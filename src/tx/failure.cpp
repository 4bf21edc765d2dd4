#include "tx/failure.h"

#include <charconv>
#include <string_view>

#include "decode/anchor_errors.h"
#include "decode/base58.h"
#include "json/json.h"

namespace varkel::tx {

namespace {

using json::Value;

// The single member of an object, or null.
const json::Member* only_member(const Value& value) {
  if (!value.is_object() || value.as_object().size() != 1) return nullptr;
  return &value.as_object().front();
}

// The name and the code or the detail of an error value: "Name", or
// {"Name": payload} (a Custom code a number).
void read_error_value(const Value& value, Failure& out) {
  if (value.is_string()) {
    out.error = value.as_string();
    return;
  }
  const json::Member* member = only_member(value);
  if (member == nullptr) {
    out.detail = json::to_compact(value);
    return;
  }
  out.error = member->first;
  const Value& payload = member->second;
  if (out.error == "Custom" && payload.kind() == Value::Kind::UInt && payload.as_uint() <= UINT32_MAX) {
    out.code = static_cast<std::uint32_t>(payload.as_uint());
  } else if (payload.is_string()) {
    out.detail = payload.as_string();
  } else {
    out.detail = json::to_compact(payload);
  }
}

// The AnchorError line that `program` logged last before line `end`, when it
// gives `code`: "Program log: AnchorError ... Error Code: {name}. Error
// Number: {n}. Error Message: {msg}."
bool name_from_log(const Transaction& tx, std::uint32_t end, std::uint32_t code, Failure& out) {
  if (!tx.logs) return false;
  constexpr std::string_view kPrefix = "Program log: AnchorError ";
  constexpr std::string_view kCode = "Error Code: ";
  constexpr std::string_view kNumber = ". Error Number: ";
  constexpr std::string_view kMessage = ". Error Message: ";
  const std::vector<std::string_view>& lines = *tx.logs;
  for (std::uint32_t k = std::min<std::size_t>(end, lines.size()); k-- > 0;) {
    const std::string_view line = lines[k];
    if (!line.starts_with(kPrefix)) continue;
    const std::size_t name_at = line.find(kCode);
    const std::size_t number_at = line.find(kNumber, name_at);
    const std::size_t message_at = line.find(kMessage, number_at);
    if (name_at == std::string_view::npos || number_at == std::string_view::npos ||
        message_at == std::string_view::npos)
      return false;
    const std::string_view digits =
        line.substr(number_at + kNumber.size(), message_at - number_at - kNumber.size());
    std::uint32_t number = 0;
    const auto [end_of_number, status] =
        std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (status != std::errc() || end_of_number != digits.data() + digits.size() || number != code)
      return false;
    out.name = line.substr(name_at + kCode.size(), number_at - name_at - kCode.size());
    std::string_view message = line.substr(message_at + kMessage.size());
    if (message.ends_with('.')) message.remove_suffix(1);
    out.message = message;
    out.source = Failure::Source::Log;
    return true;
  }
  return false;
}

void name_the_code(const Transaction& tx, const ProgramSet& programs, std::uint32_t failed_line,
                   Failure& out) {
  const std::uint32_t entry = out.program.empty() ? kNoIndex : programs.find_text(out.program);
  const std::uint32_t code = *out.code;
  if (entry != kNoIndex) {
    if (const decode::ErrorEntry* error = programs.registry(entry).find_error(code)) {
      out.name = error->name;
      out.message = error->msg.value_or("");
      out.source = Failure::Source::Idl;
      return;
    }
    if (code < 6000) {
      if (const decode::FrameworkError* error = decode::anchor_error(code)) {
        out.name = error->name;
        out.message = error->msg;
        out.source = Failure::Source::Anchor;
        return;
      }
    }
  }
  name_from_log(tx, failed_line, code, out);
}

}  // namespace

Failure explain_failure(const Transaction& tx, const Attribution& attribution, const ProgramSet& programs) {
  Failure out;
  if (tx.error == nullptr) return out;
  const json::Member* member = only_member(*tx.error);
  const bool instruction_error = member != nullptr && member->first == "InstructionError" &&
                                 member->second.is_array() && member->second.as_array().size() == 2 &&
                                 member->second.as_array()[0].kind() == Value::Kind::UInt;
  if (!instruction_error) {
    read_error_value(*tx.error, out);
    out.name = out.error;
    out.source = out.error.empty() ? Failure::Source::None : Failure::Source::Runtime;
    return out;
  }
  const json::Array& pair = member->second.as_array();
  const std::uint64_t index = pair[0].as_uint();
  out.instruction = index < tx.instructions.size() ? static_cast<std::uint32_t>(index) : kNoIndex;
  read_error_value(pair[1], out);
  std::uint32_t failed_line = tx.logs ? static_cast<std::uint32_t>(tx.logs->size()) : 0;
  const std::optional<FailureSite>& site = attribution.failure;
  std::string_view reason;
  if (site && (site->instruction == out.instruction || site->instruction == kNoIndex)) {
    out.program = site->program;
    out.inner = site->inner;
    out.depth = site->depth;
    failed_line = site->log_index;
    reason = site->reason;
  } else if (out.instruction != kNoIndex) {
    out.program = decode::base58_encode(tx.instructions[out.instruction].program);
    out.depth = 1;
  }
  if (out.code) {
    name_the_code(tx, programs, failed_line, out);
  } else if (!out.error.empty()) {
    out.name = out.error;
    out.message = reason;
    out.source = Failure::Source::Runtime;
  }
  return out;
}

}  // namespace varkel::tx
