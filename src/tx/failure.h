// Why a failed transaction failed: its meta.err read, the frame that raised
// the error (the first "failed:" line of its logs, see tx/attribution.h), and
// a custom code named.
//
// meta.err is a transaction error: a name ("InsufficientFundsForFee") or a
// one-member object ({"InsufficientFundsForRent": {"account_index": 2}}); or
// an instruction error {"InstructionError": [i, e]} of top-level instruction
// i, e a name ("InvalidAccountData") or a one-member object ({"Custom": n},
// {"BorshIoError": "..."}).
//
// The program that raised an instruction error is the innermost one that
// failed: the program of the first "failed:" line, when its frame is within
// instruction i (a CPI's failure fails every caller after it, with the same
// error); else, and without logs, instruction i's program.
//
// A custom code n is named by, in this order: the program's IDL errors (when
// a decoder of that program is in the set); Anchor's framework codes, for a
// code below 6000 of such a program; the program's own AnchorError log line
// ("... Error Code: {name}. Error Number: {n}. Error Message: {msg}."), for
// any program. Other instruction errors and transaction errors are named by
// the runtime: their name, and for an instruction error the failed line's
// reason as the message. An unknown code keeps its number and no name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/index.h"
#include "tx/attribution.h"
#include "tx/program_set.h"
#include "tx/transaction.h"

namespace varkel::tx {

struct Failure {
  enum class Source : std::uint8_t { None, Idl, Anchor, Log, Runtime };

  std::uint32_t instruction = kNoIndex;  // the failing top-level instruction; kNoIndex: a transaction error
  std::string error;                     // "Custom", "InvalidAccountData", "InsufficientFundsForFee", ...
  std::optional<std::uint32_t> code;     // of a Custom error
  std::string detail;                    // a payload other than Custom's, as compact JSON; empty: none
  std::string program;                   // base58: the program that raised it; empty: not known
  std::uint32_t inner = kNoIndex;        // its place in the instruction's inner list; kNoIndex: top-level
  std::uint32_t depth = 0;               // its stack depth; 0: not known
  std::string name;                      // the error's name; empty for an unknown code
  std::string message;                   // its message; empty: none
  Source source = Source::None;          // where the name came from
};

// The failure of a failed transaction (tx.error set), given its attribution.
Failure explain_failure(const Transaction& tx, const Attribution& attribution, const ProgramSet& programs);

}  // namespace varkel::tx
