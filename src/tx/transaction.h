// What the event layer needs of one transaction: the programs and data of its
// instructions, its inner instructions grouped by top-level instruction, its
// log lines and whether it failed.
//
// The model views the document it was read from: base58 text and log lines
// point into the json::Value, wire bytes into `wire` (owned; its buffer stays
// put when the model moves). The json::Value must outlive the model.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/base58.h"
#include "json/json.h"

namespace varkel::tx {

using decode::Pubkey;

// Instruction data as it arrived.
struct InstructionData {
  enum class Form : std::uint8_t {
    None,    // a "jsonParsed" instruction that the node parsed ("parsed" instead of "data")
    Base58,  // JSON forms: base58 text, every character checked to be in the alphabet
    Bytes,   // the wire form
  };
  Form form = Form::None;
  std::string_view text;
  std::span<const std::uint8_t> bytes;
};

struct Instruction {
  Pubkey program{};
  InstructionData data;
  std::uint32_t stack_height = 0;  // 0 when not given (transactions before stack heights were recorded)
  // Its accounts: the run [accounts_first, accounts_first + accounts_count)
  // of Transaction::accounts.
  std::uint32_t accounts_first = 0;
  std::uint32_t accounts_count = 0;
};

// What the message says of an account key.
enum KeyFlag : std::uint8_t { kSigner = 1, kWritable = 2 };

struct Transaction {
  enum class Encoding : std::uint8_t { Json, JsonParsed, Base64, Base58 };
  Encoding encoding = Encoding::Json;
  std::optional<std::uint64_t> slot;
  std::optional<std::int64_t> block_time;  // seconds since the Unix epoch
  std::string signature;                   // the first signature (base58): the transaction's id; empty: none
  // Every account key: the message's, then meta.loadedAddresses.writable,
  // then .readonly ("jsonParsed" lists them all in the message).
  std::vector<Pubkey> keys;
  // Per key: KeyFlag bits from the message header (or the "jsonParsed"
  // key objects); empty when the transaction does not tell.
  std::vector<std::uint8_t> key_flags;
  std::vector<std::uint32_t> accounts;    // the instructions' accounts: indexes into keys
  std::vector<Instruction> instructions;  // top-level, in message order
  std::vector<std::vector<Instruction>>
      inner;                    // inner[i]: those of instruction i (same size as instructions)
  bool inner_recorded = false;  // meta.innerInstructions was a list (not absent or null)
  std::optional<std::vector<std::string_view>> logs;  // absent: meta.logMessages absent or null
  bool failed = false;                                // meta.err is not null
  const json::Value* error = nullptr;                 // then: meta.err (or meta.status.Err)
  std::vector<std::uint8_t> wire;                     // the decoded wire transaction of binary encodings
};

// Programs that run without invoke or success lines (signature checks done
// before execution): their instructions have no frame in the logs.
bool is_precompile(const Pubkey& program) noexcept;

}  // namespace varkel::tx
