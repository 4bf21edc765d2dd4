// The transaction and instruction entry points: EventDecoder.decode_logs,
// .decode_transaction, .decode_instructions, .decode_instruction,
// .program_id and .instruction_names, and the module functions decode_logs,
// decode_transaction, decode_instructions and decode over many decoders.
// Each goes into its table behind py::guarded.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace varkel {

PyObject* decoder_decode_logs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* decoder_decode_transaction(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* decoder_decode_instructions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);
PyObject* decoder_decode_instruction(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* decoder_program_id(PyObject* self, void*);
PyObject* decoder_instruction_names(PyObject* self, void*);

PyObject* module_decode_logs(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* module_decode_transaction(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames);
PyObject* module_decode_instructions(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* module_decode(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The command line's private variants: the same results, with what the pass
// saw.
PyObject* module_decode_logs_counted(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* module_decode_counted(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* module_decode_tables_counted(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames);
PyObject* module_decode_block(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* module_decode_tables(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Docstrings (with the signatures the interpreter shows).
inline constexpr const char* kDecodeLogsDoc =
    "decode_logs($self, logs)\n--\n\n"
    "Events of this decoder's program in one transaction's log lines, attributed\n"
    "to the program on top of the invoke stack, as a list of varkel.Event in log\n"
    "order. Lines of other programs, and lines outside any invoke frame, carry\n"
    "no events of this program. Raises ValueError when the IDL has no usable\n"
    "program address.";

inline constexpr const char* kDecodeTransactionDoc =
    "decode_transaction($self, tx)\n--\n\n"
    "Events of this decoder's program in a transaction: a getTransaction result\n"
    "(dict as json.loads gives it, or its JSON text as str or bytes; encodings\n"
    "json, jsonParsed, base64 and base58), logged and CPI-emitted, as a list of\n"
    "varkel.Event in the order of execution. Raises TypeError or ValueError on\n"
    "input that is not such a transaction.";

inline constexpr const char* kDecodeInstructionsDoc =
    "decode_instructions($self, tx)\n--\n\n"
    "Instructions of this decoder's program in a transaction (the inputs of\n"
    "decode_transaction), top-level and inner at any depth, as a list of\n"
    "varkel.Instruction in the order of execution. An instruction that does not\n"
    "decode is listed with its reason and raw data.";

inline constexpr const char* kDecodeInstructionDoc =
    "decode_instruction($self, data, accounts=None)\n--\n\n"
    "One instruction of this decoder's program: data as bytes or base58 text,\n"
    "accounts the base58 keys it names, in order (None: the arguments only).\n"
    "Returns a varkel.Instruction; raises varkel.InstructionError when it does\n"
    "not decode (unknown discriminator, arguments that do not fit, too few\n"
    "accounts).";

inline constexpr const char* kInstructionNamesDoc =
    "Names of all instructions declared in the IDL, in declaration order.";

inline constexpr const char* kModuleDecodeInstructionsDoc =
    "decode_instructions(tx, decoders)\n--\n\n"
    "Instructions of several programs in one transaction, in one pass, in the\n"
    "order of execution: decoders is an iterable of EventDecoder with distinct\n"
    "program ids.";

inline constexpr const char* kModuleDecodeDoc =
    "decode(tx, decoders)\n--\n\n"
    "Everything the decoders' programs did in one transaction, from one read of\n"
    "the input: a varkel.Transaction with its signature, slot, block time,\n"
    "whether it failed and why (a dict), its instructions and its events, in\n"
    "the order of execution. decode_transaction and decode_instructions give\n"
    "its events and its instructions alone.";

inline constexpr const char* kModuleDecodeLogsDoc =
    "decode_logs(logs, decoders)\n--\n\n"
    "Events of several programs in one transaction's log lines, in one pass:\n"
    "decoders is an iterable of EventDecoder with distinct program ids.";

inline constexpr const char* kModuleDecodeTransactionDoc =
    "decode_transaction(tx, decoders)\n--\n\n"
    "Events of several programs in one transaction, in one pass, in the order of\n"
    "execution: decoders is an iterable of EventDecoder with distinct program\n"
    "ids; every event names its program.";

inline constexpr const char* kDecodeLogsCountedDoc =
    "_decode_logs_counted($module, logs, decoders, adopt_unattributed)\n--\n\n"
    "decode_logs(logs, decoders), and what the pass saw, for the command line:\n"
    "(events, counts). counts is a dict of ints: payload_lines, cpi_instructions,\n"
    "unknown_discriminators, unattributed, events, failed (events with a known\n"
    "discriminator whose data did not decode). With adopt_unattributed true and\n"
    "one decoder, lines outside any invoke frame are read as that decoder's, as\n"
    "parse_logs reads them: their events have depth 0 and no instruction.";

inline constexpr const char* kDecodeCountedDoc =
    "_decode_counted($module, line, decoders, instructions)\n--\n\n"
    "decode of a transaction, or of every transaction of a block (its\n"
    "instructions only when instructions is true), and what the pass saw, for\n"
    "the command line: ([(transaction, items), ...], counts). A block gives\n"
    "only its transactions that hold instructions or events. counts as\n"
    "_decode_logs_counted gives them, with instructions,\n"
    "undecodable_instructions and transactions; items a transaction's events\n"
    "and instructions merged in the order of execution.";

inline constexpr const char* kProgramIdDoc =
    "The program address from the IDL (current `address`, legacy `metadata.address`), as written there.";

inline constexpr const char* kModuleDecodeBlockDoc =
    "decode_block(block, decoders)\n--\n\n"
    "The decoders' programs' instructions and events in a block: a getBlock\n"
    "result (encodings json, jsonParsed and base64, transactionDetails full;\n"
    "with or without the RPC envelope) or a blockSubscribe notification, as a\n"
    "dict or JSON text. Returns a list of varkel.Transaction, as decode gives\n"
    "them, for the transactions that hold any, in block order, with the block's\n"
    "slot (where the input gives it) and time.";
inline constexpr const char* kModuleDecodeTablesDoc =
    "decode_tables(items, decoders, pubkey='base58', instructions=True)\n--\n\n"
    "Many transactions or blocks (an iterable of what decode and decode_block\n"
    "read) into Arrow tables, in one pass: a dict from (program_id, kind, name)\n"
    "to an EventTable, kind \"event\" or \"instruction\", one for every event\n"
    "name and instruction of every decoder (empty ones too). Each has the\n"
    "context columns signature, slot, block_time, instruction, inner, depth,\n"
    "source (events) and failed, then the fields; an instruction's table ends\n"
    "with its accounts (a struct by the IDL's names) and remaining keys. The\n"
    "schema of a table depends on the IDL alone. pubkey: \"base58\" or\n"
    "\"binary\" (32-byte fixed-size binary). Raises TransactionError naming the\n"
    "item that cannot be read.";

}  // namespace varkel
