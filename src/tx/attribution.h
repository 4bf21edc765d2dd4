// Which program emitted which event: the join of the log walk, the message's
// instructions and the inner instructions, for every program of a ProgramSet
// in one pass.
//
// Logged events. A "Program data:" line (or an old-style "Program log:" line)
// with one field belongs to the frame on top of the invoke stack. It is an
// event when that frame's program is in the set and the field carries one of
// that program's events by the rule of scan/event_line.h. A line with an
// empty stack belongs to nobody and is never an event (unless a caller with
// one program asks to adopt such lines: LogOptions).
//
// Placing frames. With logs alone the frames are numbered by counting:
// invoke [1] lines give the top-level instruction, invokes of depth >= 2
// within it the inner index. With the transaction, the invoke [1] lines are
// matched in order with the message's instructions (precompiles, which log
// nothing, skipped) and the deeper invokes of instruction i, entry by entry,
// with its inner instructions (program and stack height). A frame that does
// not match is looked for further on (lines went missing); one that is not
// found at all keeps an unknown place (kNoIndex) rather than a wrong one. Any
// mismatch marks the transaction out of step.
//
// CPI events (Anchor's emit_cpi!). An inner instruction is an event when its
// program is in the set, its data is kEventTag, then a known discriminator of
// that program, then the event's data, and it is a self-invoke: its parent
// frame (the nearest earlier inner instruction of the same top-level
// instruction at one stack height less, or the top-level instruction itself
// at height 2) is the same program. Stack heights missing from old
// transactions are taken from the matched log frames; an instruction whose
// height stays unknown is not accepted.
//
// Duplicates. A program that logs an event and also emits it by CPI writes
// the same bytes twice in one frame: a CPI event and a logged event of its
// parent frame with identical bytes (discriminator and data) are one event,
// source LogAndCpi, with the log line's index and the CPI's inner index. Pairs
// are made in order, each logged event at most once.
//
// Instructions (on request: TransactionOptions). Every instruction, top-level
// and inner at any depth, whose program is in the set, except those whose
// data begins with kEventTag (the program's event instruction, which carries
// events, not an instruction of the IDL). An inner instruction's depth is its
// stack height, or where the transaction predates stack heights, the depth of
// its matched log frame; 0 when neither tells. A program's instruction
// invoked by another program is the program's all the same (unlike events,
// whose CPI must be a self-invoke).
//
// The failure. In a failed transaction the first "Program <id> failed: ..."
// line of the logs closes the innermost frame that failed, which raised the
// error; its frame's place is given, and the reason the line gives.
//
// Order: the order of execution. Events are sorted by their place in the log
// (the line of a logged event, the invoke line of a CPI event's instruction);
// a CPI event without a matched invoke line comes right after the last line
// known to precede it, and without logs the CPI events follow the
// instructions. Instructions are in message order, each top-level instruction
// followed by its inner ones, and carry the same kind of place (their invoke
// line), so that both lists merge in execution order (merge_order).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "decode/registry.h"
#include "scan/event_line.h"
#include "tx/log_walk.h"
#include "tx/program_set.h"
#include "tx/transaction.h"

namespace varkel::tx {

// The first 8 bytes of sha256("anchor:event"), in reverse order.
inline constexpr std::array<std::uint8_t, 8> kEventTag = {0xe4, 0x45, 0xa5, 0x2e, 0x51, 0xcb, 0x9a, 0x1d};

enum class Source : std::uint8_t { Log, Cpi, LogAndCpi };

struct EventSite {
  std::uint32_t program = 0;                  // entry of the ProgramSet
  const decode::EventEntry* event = nullptr;  // in that entry's registry
  std::span<const std::uint8_t> data;         // the event's Borsh data (after the discriminator)
  // Top-level instruction; kNoIndex when the logs do not tell (frames that
  // matched nothing, or opened on an empty stack).
  std::uint32_t instruction = kNoIndex;
  // Index in that instruction's inner instructions: of the CPI instruction for
  // Cpi and LogAndCpi, of the frame that logged it for Log; kNoIndex for Log
  // events of a top-level frame (depth 1) and when unknown.
  std::uint32_t inner = kNoIndex;
  // Stack depth of the emitting frame (1 = top-level instruction; 0 for a line
  // outside any frame, adopted: see LogOptions).
  std::uint32_t depth = 0;
  Source source = Source::Log;
  std::uint32_t log_index = kNoIndex;  // the event's log line; kNoIndex for Cpi
  bool truncated = false;              // a "Log truncated" line came before it
};

// Where a site sits in the order of execution: after log line `position`
// (-1: before any), on it (`after` false: its own line) or right after it.
struct Place {
  std::int64_t position = -1;
  bool after = false;
};

struct InstructionSite {
  std::uint32_t program = 0;                 // entry of the ProgramSet
  const Instruction* instruction = nullptr;  // in the transaction (its data and accounts)
  std::span<const std::uint8_t> data;        // its data, decoded
  std::uint32_t index = 0;                   // top-level instruction
  std::uint32_t inner = kNoIndex;            // in that instruction's inner list; kNoIndex: top-level
  std::uint32_t depth = 0;                   // stack height (1 = top-level); 0: not known
  std::uint32_t log_index = kNoIndex;        // its invoke line; kNoIndex: none matched
  Place place;
};

// The frame that raised a failed transaction's error, as its logs tell.
struct FailureSite {
  std::string_view program;  // base58 text of the failed line
  std::uint32_t instruction = kNoIndex;
  std::uint32_t inner = kNoIndex;  // kNoIndex: the top-level instruction itself, or not known
  std::uint32_t depth = 0;
  std::uint32_t log_index = 0;  // the failed line
  std::string_view reason;      // what follows "failed: "
};

struct Attribution {
  std::vector<EventSite> events;              // in the order of execution
  std::vector<Place> event_places;            // of each event
  std::vector<InstructionSite> instructions;  // in the order of execution (on request)
  std::optional<FailureSite> failure;
  bool out_of_step = false;  // the logs did not fit the stack or the instructions somewhere
  bool failed = false;       // the transaction failed (for logs alone: a top-level frame failed)
  std::optional<std::uint32_t> truncated_at;
  // The decoded bytes that the sites view.
  std::vector<scan::ByteBuffer> log_payloads;
  std::vector<std::vector<std::uint8_t>> cpi_payloads;
};

// What a pass saw besides the events it found, counted in the same pass
// (a command line's summary: why nothing came out). A payload is the bytes
// of one field of base64 of at least 8 bytes.
struct ScanCounts {
  // Lines carrying a payload in a frame of one of the set's programs (or
  // adopted, see LogOptions): every "Program data:" line, and the old-style
  // "Program log:" lines whose payload starts with a known discriminator
  // (other one-word log texts are not counted: they are mostly text).
  std::uint64_t payload_lines = 0;
  // Self-invoked inner instructions of the set's programs whose data is
  // kEventTag and at least 8 more bytes.
  std::uint64_t cpi_instructions = 0;
  // Of those lines and instructions: the ones whose discriminator is none of
  // their program's events.
  std::uint64_t unknown_discriminators = 0;
  // Lines outside any invoke frame that were nobody's: "Program data:" lines
  // with a payload, and "Program log:" lines whose payload starts with a known
  // discriminator of any of the set's programs.
  std::uint64_t unattributed = 0;
  // "Program data:" lines in frames of programs outside the set.
  std::uint64_t other_programs = 0;
  // Invocations of the set's programs: their frames in the logs (invoke
  // lines); of a transaction without logs, its instructions of them.
  std::uint64_t invocations = 0;

  ScanCounts& operator+=(const ScanCounts& other) noexcept;
  bool operator==(const ScanCounts&) const = default;
};

struct TransactionOptions {
  bool events = true;
  bool instructions = false;
};

struct LogOptions {
  // When the set holds exactly one program, a line outside any invoke frame
  // is read as that program's, as parse_logs reads lines: its event comes
  // out with depth 0, no instruction and no inner index. (With several
  // programs such a line is ambiguous and stays nobody's.)
  bool adopt_unattributed = false;
};

// Events of one transaction's log lines (views into `lines`, which must
// outlive the result). `counts`, when given, is added to.
Attribution attribute_logs(std::span<const std::string_view> lines, const ProgramSet& programs,
                           const LogOptions& options = {}, ScanCounts* counts = nullptr);

// Events (and on request instructions) of a transaction (logs, instructions
// and inner instructions). `counts`, when given, is added to.
Attribution attribute_transaction(const Transaction& tx, const ProgramSet& programs,
                                  ScanCounts* counts = nullptr, const TransactionOptions& options = {});

// The events and instructions of `attribution` in the order of execution:
// true for an instruction, false for an event, each list's items in their
// order.
std::vector<bool> merge_order(const Attribution& attribution);

}  // namespace varkel::tx
