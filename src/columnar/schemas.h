// The tables of one decoder, by kind and by the form of their public keys,
// each made at its first use and kept for the decoder's life.
//
//   Events                one per event name, the event's fields (parse_logs_arrow)
//   TransactionEvents     one per event name: the context columns, then the fields
//   Instructions          one per instruction: the context columns (no source),
//                         the arguments (nullable: old callers leave trailing
//                         ones out), then `accounts` (a struct of the IDL's
//                         accounts by name, groups as structs, null for an
//                         optional one left out; null when too few keys) and
//                         `remaining` (the keys beyond them)
//   Accounts              one per account type whose type is a struct:
//                         `pubkey`, then the fields
//
// The context columns of a transaction's rows: signature (utf8, the first
// signature), slot (uint64), block_time (int64, seconds), instruction
// (uint32, the top-level instruction), inner (uint32, the index in its inner
// instructions; null for a top-level one), depth (uint32, the stack height;
// null when not known), source (utf8: "log", "cpi" or "log+cpi"; events
// only), failed (bool).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "columnar/event_tables.h"
#include "columnar/layout.h"
#include "decode/plan.h"
#include "decode/registry.h"

namespace varkel::columnar {

enum class TableKind : std::uint8_t { Events, TransactionEvents, Instructions, Accounts };
enum class KeyForm : std::uint8_t { Base58, Binary };

// The context columns, in their order in the tables.
enum ContextColumn : std::uint32_t {
  kSignature,
  kSlot,
  kBlockTime,
  kInstruction,
  kInner,
  kDepth,
  kSource,  // events only: the instructions' tables go on with kFailed here
  kFailed,
};

// The name of each TableKind, as callers see it: "event", "event",
// "instruction", "account".
const char* kind_name(TableKind kind) noexcept;

class Schemas {
 public:
  // The schema of `kind` with keys in `form` for the decoder of `registry`
  // and `plan` (always the same two). Made at the first call, by one thread
  // while others wait; throws std::bad_alloc.
  const TableSchema& get(TableKind kind, KeyForm form, const decode::EventRegistry& registry,
                         const decode::DecodePlan& plan) const;

 private:
  static constexpr std::size_t kKinds = 4;
  struct Made {
    std::once_flag once;
    std::unique_ptr<const TableSchema> schema;
  };
  mutable std::array<std::array<Made, 2>, kKinds> made_;
};

}  // namespace varkel::columnar
