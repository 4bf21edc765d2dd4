#include "lib/record_types.h"

#include <atomic>

#include "objects/accounts.h"
#include "objects/events.h"
#include "objects/instructions.h"
#include "objects/transactions.h"
#include "py/once.h"

namespace varkel {

namespace {

// In the order of objects::EventField.
PyStructSequence_Field event_fields[] = {
    {"name", "The event's name, as the IDL declares it."},
    {"data", "The event's fields as plain Python values (the same value parse_logs gives)."},
    {"program_id", "Base58 address of the program that emitted the event."},
    {"instruction",
     "Index of the top-level instruction the event belongs to; None when the logs do not tell."},
    {"inner",
     "Index within that instruction's inner instructions: of the CPI instruction that carries the event "
     "(source "
     "'cpi' or 'log+cpi'), or of the frame that logged it (source 'log', inside a CPI); None for an event "
     "logged by the top-level instruction itself, or when not known."},
    {"depth", "Stack depth of the frame that emitted the event (1 = the top-level instruction)."},
    {"source",
     "'log' (a \"Program data:\" line), 'cpi' (a self-CPI event instruction only) or 'log+cpi' (both, with "
     "identical bytes, reported once)."},
    {"log_index", "Index of the event's log line; None for an event that exists only as a CPI instruction."},
    {"truncated", "True when a \"Log truncated\" line came before the event (log lines may be missing)."},
    {"failed", "True when the transaction failed (meta.err is not null): its effects were rolled back."},
    {"out_of_step",
     "True when the transaction's log lines did not fit the invoke stack or its instructions somewhere: "
     "lines "
     "are missing or were not written by the runtime, so log attribution followed the runtime's depth "
     "numbers."},
    {nullptr, nullptr},
};
static_assert(sizeof(event_fields) / sizeof(event_fields[0]) == objects::kEventFieldCount + 1);

PyStructSequence_Desc event_desc = {
    "varkel.Event",
    "Event(name, data, program_id, instruction, inner, depth, source, log_index, truncated, failed, "
    "out_of_step)\n\nOne event of a transaction, attributed to the program that emitted it.",
    event_fields,
    objects::kEventFieldCount,
};

// In the order of objects::InstructionField.
PyStructSequence_Field instruction_fields[] = {
    {"name", "The instruction's name, as the IDL declares it; None when its discriminator is unknown."},
    {"args", "Its arguments as plain Python values (a dict in IDL order); None when they do not decode."},
    {"accounts",
     "Its accounts named by the IDL, in list order: the key's base58 text, None for an optional account left "
     "out; a group of accounts as a dict of its own. None when the accounts were not given or are too few."},
    {"remaining", "The keys beyond the IDL's account list (the remaining accounts), in order."},
    {"program_id", "Base58 address of the instruction's program."},
    {"instruction", "Index of the top-level instruction; None outside a transaction."},
    {"inner", "Index in that instruction's inner instructions; None for a top-level instruction."},
    {"depth",
     "Stack height (1 = top-level instruction); None when the transaction tells neither it nor its logs."},
    {"log_index", "Index of the instruction's invoke log line; None when not found in the logs."},
    {"trailing", "Bytes of data after the arguments (the program ignores them)."},
    {"missing",
     "Names of the trailing arguments that the data leaves out (None in args), as programs that added "
     "arguments read their older callers' data; () when every argument is there."},
    {"error",
     "Why the instruction does not decode: 'unknown discriminator', 'arguments do not fit: ...' or 'too few "
     "accounts: ...'; None when it decodes."},
    {"data", "The instruction's raw data when it does not decode; None when it does."},
    {"signers",
     "The instruction's account keys that sign the transaction, in order: the flags of the transaction's "
     "message (for an inner instruction too); None when the transaction does not tell."},
    {"writable", "Its account keys that the transaction's message marks writable, in order; None likewise."},
    {"failed", "True when the transaction failed (meta.err is not null): its effects were rolled back."},
    {nullptr, nullptr},
};
static_assert(sizeof(instruction_fields) / sizeof(instruction_fields[0]) ==
              objects::kInstructionFieldCount + 1);

PyStructSequence_Desc instruction_desc = {
    "varkel.Instruction",
    "Instruction(name, args, accounts, remaining, program_id, instruction, inner, depth, log_index, "
    "trailing, "
    "missing, error, data, signers, writable, failed)\n\nOne instruction of a decoder's program.",
    instruction_fields,
    objects::kInstructionFieldCount,
};

// In the order of objects::TransactionField.
PyStructSequence_Field transaction_fields[] = {
    {"signature", "The transaction's first signature (base58): its id; None when the input does not tell."},
    {"slot", "The slot of its block; None when the input does not tell."},
    {"block_time", "The block's time, in seconds since the Unix epoch; None when the input does not tell."},
    {"failed", "True when the transaction failed (meta.err is not null)."},
    {"error", "Why it failed, as a dict (see varkel.decode); None when it did not."},
    {"instructions", "The instructions of the decoders' programs (varkel.Instruction), in execution order."},
    {"events", "The events of the decoders' programs (varkel.Event), in execution order."},
    {nullptr, nullptr},
};
static_assert(sizeof(transaction_fields) / sizeof(transaction_fields[0]) ==
              objects::kTransactionFieldCount + 1);

PyStructSequence_Desc transaction_desc = {
    "varkel.Transaction",
    "Transaction(signature, slot, block_time, failed, error, instructions, events)\n\n"
    "One transaction decoded by varkel.decode.",
    transaction_fields,
    objects::kTransactionFieldCount,
};

// In the order of objects::AccountField.
PyStructSequence_Field account_fields[] = {
    {"pubkey", "The account's address (base58); None when the input does not give it."},
    {"name", "The name of its account type in the IDL; None when its discriminator is unknown."},
    {"value", "Its data as plain Python values (the same values as events); None when it does not decode."},
    {"owner", "The program that owns it (base58), as the input gives it; None when not given."},
    {"lamports", "Its balance in lamports, as the input gives it; None when not given."},
    {"slot", "The slot of the RPC response's context; None when not given."},
    {"unread",
     "Bytes of data after the value (accounts are often allocated larger); None when it does not decode."},
    {"error", "Why it does not decode; None when it does."},
    {nullptr, nullptr},
};
static_assert(sizeof(account_fields) / sizeof(account_fields[0]) == objects::kAccountFieldCount + 1);

PyStructSequence_Desc account_desc = {
    "varkel.Account",
    "Account(pubkey, name, value, owner, lamports, slot, unread, error)\n\nOne account of a decoder's "
    "program.",
    account_fields,
    objects::kAccountFieldCount,
};

std::atomic<PyObject*> g_event_type{nullptr};
std::atomic<PyObject*> g_account_type{nullptr};
std::atomic<PyObject*> g_instruction_type{nullptr};
std::atomic<PyObject*> g_transaction_type{nullptr};

PyObject* record_type(std::atomic<PyObject*>& slot, PyStructSequence_Desc& desc) {
  return py::publish_once(slot,
                          [&desc] { return reinterpret_cast<PyObject*>(PyStructSequence_NewType(&desc)); });
}

}  // namespace

PyObject* event_type() {
  return record_type(g_event_type, event_desc);
}

PyObject* instruction_type() {
  return record_type(g_instruction_type, instruction_desc);
}

PyObject* transaction_type() {
  return record_type(g_transaction_type, transaction_desc);
}

PyObject* account_type() {
  return record_type(g_account_type, account_desc);
}

}  // namespace varkel
