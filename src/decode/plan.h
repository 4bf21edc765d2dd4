// The decode plan: the types that a registry's events, instruction arguments
// and accounts reach, compiled once when the decoder is built into flat
// tables that the decoders walk.
//
// The plan mirrors the IDL's type expressions one for one (one node per
// expression, one definition per named type reached), so a walk over it takes
// the same steps as a walk over the model, with two differences: a `defined`
// reference points straight at its definition (no lookup by name per value),
// and every field and enum variant name is one entry of a table of distinct
// keys, which the Python side turns into one str object each.
//
// What the data may never reach is compiled but not judged: a reference to an
// unknown type, a reference with generic arguments, a generic parameter or a
// generic array length each become a node that fails only when a decode
// arrives at it, with the message it would have had.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/index.h"
#include "base/result.h"
#include "decode/registry.h"
#include "idl/model.h"

namespace varkel::decode {

using Kind = idl::IdlType::Kind;

using varkel::kNoIndex;

// The fields of an event, a struct or an enum variant: absent (no fields), or
// the run [first, first + count) of DecodePlan::fields, named or by position.
struct FieldsRef {
  enum class Form : std::uint8_t { Absent, Named, Tuple };
  Form form = Form::Absent;
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};

struct PlanField {
  std::uint32_t key = kNoIndex;  // named: index into DecodePlan::keys; by position: kNoIndex
  std::uint32_t type = 0;        // index into DecodePlan::nodes
};

// One type expression.
struct PlanNode {
  Kind kind = Kind::Bool;
  bool generic_length = false;  // Array: the length is a generic parameter
  bool generic_args = false;    // Defined: the reference carries generic arguments
  // Option, Vec, Array: the element node. Defined: the definition, or kNoIndex
  // when no type of that name is declared.
  std::uint32_t child = kNoIndex;
  std::uint32_t text = kNoIndex;  // Defined: the name as referenced, index into DecodePlan::texts
  std::uint64_t length = 0;       // Array: the element count
  // No value of this type decodes from fewer bytes (a lower bound; 0 for
  // types that may take none, and for the forms that always fail).
  std::uint64_t min_size = 0;
};

struct PlanVariant {
  std::uint32_t key = kNoIndex;  // the variant's name, index into DecodePlan::keys
  FieldsRef fields;              // Absent: a unit variant
};

// One named type definition that some event, instruction or account reaches.
struct PlanDefinition {
  enum class Form : std::uint8_t { Struct, Enum, Alias };
  std::string name;
  Form form = Form::Struct;
  FieldsRef fields;                 // Struct
  std::uint32_t first_variant = 0;  // Enum: the run of DecodePlan::variants
  std::uint32_t variant_count = 0;
  std::uint32_t alias = kNoIndex;  // Alias: the aliased node
  std::uint64_t min_size = 0;      // as PlanNode::min_size
};

struct DecodePlan {
  std::vector<PlanNode> nodes;
  std::vector<PlanField> fields;
  std::vector<PlanVariant> variants;
  std::vector<PlanDefinition> definitions;
  std::vector<std::string> keys;        // distinct field and variant names, in order of first use
  std::vector<std::string> texts;       // names of `defined` references, for their messages
  std::vector<FieldsRef> events;        // the fields of registry.events[i]
  std::vector<FieldsRef> instructions;  // the arguments of registry.instructions[i]
  // Per instruction, per item of its account list: the key of the item's
  // name (kNoIndex for the end of a group).
  std::vector<std::vector<std::uint32_t>> account_names;
  std::vector<std::uint32_t> accounts;  // the type of registry.accounts[i]: a `defined` node

  // Zero-copy accounts (lay_out_zero_copy): whether registry.accounts[i]'s
  // data is a memory image, and the memory layout of every definition such
  // an account reaches (size 0: none). A struct's field offsets are the run
  // [first_offset, first_offset + its field count) of `offsets`.
  struct MemoryLayout {
    std::uint64_t size = 0;
    std::uint32_t first_offset = kNoIndex;
  };
  std::vector<bool> zero_copy_accounts;
  std::vector<MemoryLayout> layouts;
  std::vector<std::uint64_t> offsets;
};

// Compiles every event, instruction and account of `registry`. Resolves each `defined` reference
// through registry.find_type, as a decode of the model would, and bounds the
// size of every type from below.
//
// The bounds start at 0 and are raised round by round (a struct takes the sum
// of its fields, an enum one byte plus its smallest variant, an array its
// length times its element, ...), saturating at kSizeCap. Every round keeps
// them at or under the true minimum, so they hold whenever the rounds stop
// (when nothing changes, or after kSizeRounds for types that contain
// themselves).
inline constexpr std::uint64_t kSizeCap = std::uint64_t{1} << 62;
inline constexpr int kSizeRounds = 128;
DecodePlan build_plan(const EventRegistry& registry);

// Lays out the accounts whose type is zero-copy ("bytemuck" or
// "bytemuckunsafe": a memory image, not Borsh) and the types they reach, by
// decode/zero_copy.h. Fails, naming the type and the field, when one has no
// fixed layout: "account 'Pool': {message}".
Result<void> lay_out_zero_copy(DecodePlan& plan, const EventRegistry& registry);

}  // namespace varkel::decode
