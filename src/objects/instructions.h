// Instruction records: an instruction's data and accounts decoded by its
// program's IDL into a varkel.Instruction.
//
// The data begins with one of the IDL's instruction discriminators (the
// first in IDL order that it begins with, as the program's dispatch takes
// it); the arguments follow in Borsh, read by the plan walk into the same
// values as events; bytes after them are counted (`trailing`), as the
// program itself ignores them. Data that ends right before an argument leaves
// it and those after it out (None in `args`, named in `missing`): programs
// that add trailing arguments read their older callers' data so. The accounts are named by the IDL's account
// list (decode/instructions.h): a dict in list order, groups as nested dicts,
// an absent optional account None; the keys beyond the list are `remaining`.
//
// An instruction that does not decode is a record all the same, with its
// reason in `error` and its raw data in `data`: "unknown discriminator" (no
// name, arguments nor accounts), "arguments do not fit: field '{path}':
// {message}" (the accounts still named), or "too few accounts: ..." (the
// arguments still decoded).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>
#include <string>

#include "base/index.h"
#include "base/result.h"
#include "decode/base58.h"
#include "objects/batch.h"
#include "py/pyref.h"

namespace varkel::objects {

// The fields of an Instruction, in their order in the struct sequence.
enum InstructionField : int {
  kInstructionName,
  kInstructionArgs,
  kInstructionAccounts,
  kInstructionRemaining,
  kInstructionProgramId,
  kInstructionIndex,
  kInstructionInner,
  kInstructionDepth,
  kInstructionLogIndex,
  kInstructionTrailing,
  kInstructionMissing,
  kInstructionError,
  kInstructionData,
  kInstructionSigners,
  kInstructionWritable,
  kInstructionFailed,
  kInstructionFieldCount,
};

// Where an instruction sits in its transaction; unknown parts kNoIndex (0
// for the depth).
struct InstructionPlace {
  std::uint32_t instruction = kNoIndex;
  std::uint32_t inner = kNoIndex;
  std::uint32_t depth = 0;
  std::uint32_t log_index = kNoIndex;
  bool failed = false;
};

// Why an instruction did not decode.
enum class InstructionFault : std::uint8_t { None, Discriminator, Arguments, Accounts };

// One instruction's inputs: its data, its account keys (none given: null)
// with their flags (KeyFlag bits; empty: not known), and its program.
struct InstructionInput {
  std::span<const std::uint8_t> data;
  const std::vector<decode::Pubkey>* keys = nullptr;
  std::span<const std::uint8_t> flags;
  const decode::Pubkey* program = nullptr;  // its id, to tell an absent optional account; null: none
  PyObject* program_id = nullptr;           // borrowed str, or None
};

// A new Instruction (an instance of `type`), and in `fault` / `error` why it
// did not decode (None: it did). Null with an exception set when the
// interpreter fails.
py::PyRef build_instruction(PyTypeObject* type, const Decoding& decoding, const InstructionInput& input,
                            const InstructionPlace& place, InstructionFault& fault, Error& error);

}  // namespace varkel::objects
