// The records of a decoded transaction: its Instruction records, the dict of
// why it failed, and the Transaction record that holds them with its events.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

#include "objects/batch.h"
#include "py/pyref.h"
#include "tx/attribution.h"
#include "tx/failure.h"
#include "tx/program_set.h"
#include "tx/transaction.h"

namespace varkel::objects {

// The fields of a Transaction, in their order in the struct sequence.
enum TransactionField : int {
  kTransactionSignature,
  kTransactionSlot,
  kTransactionBlockTime,
  kTransactionFailed,
  kTransactionError,
  kTransactionInstructions,
  kTransactionEvents,
  kTransactionFieldCount,
};

// What the Instruction records of a transaction count.
struct InstructionCounts {
  std::uint64_t instructions = 0;  // records made
  std::uint64_t undecodable = 0;   // of which do not decode (error set)
};

// A new list of Instruction records (instances of `type`), one per
// instruction site of `attribution`, in order. `decodings[i]` is what the
// instructions of program entry i are decoded with. Null with an exception
// set when the interpreter fails.
py::PyRef build_instructions(PyTypeObject* type, const tx::Transaction& tx,
                             const tx::Attribution& attribution, const tx::ProgramSet& programs,
                             std::span<const Decoding> decodings, InstructionCounts* counts = nullptr);

// Why the transaction failed, as a dict: instruction (the failing top-level
// instruction, None for an error of the whole transaction), program (None
// when not known), inner, depth (None when not known), error (the runtime's
// name of the error: "Custom", "InvalidAccountData", ...), code (a custom
// code, else None), name and message (None when not known), source ("idl",
// "anchor", "log", "runtime" or None: where the name came from), detail (an
// error's payload other than a custom code, else None).
py::PyRef failure_dict(const tx::Failure& failure);

// A new Transaction record (an instance of `type`), taking over the lists.
py::PyRef build_transaction(PyTypeObject* type, const tx::Transaction& tx, py::PyRef error,
                            py::PyRef instructions, py::PyRef events);

}  // namespace varkel::objects
