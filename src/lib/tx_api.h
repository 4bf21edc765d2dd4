// The transaction entry points: EventDecoder.decode_logs,
// EventDecoder.decode_transaction and EventDecoder.program_id, and the module
// functions decode_logs and decode_transaction over many decoders. Each goes
// into its table behind py::guarded.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace varkel {

PyObject* decoder_decode_logs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* decoder_decode_transaction(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* decoder_program_id(PyObject* self, void*);

PyObject* module_decode_logs(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* module_decode_transaction(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames);

// The command line's private variants: the same events, with what the pass
// saw (kCountedDoc).
PyObject* module_decode_logs_counted(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* module_decode_transaction_counted(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                            PyObject* kwnames);

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

inline constexpr const char* kDecodeTransactionCountedDoc =
    "_decode_transaction_counted($module, tx, decoders)\n--\n\n"
    "decode_transaction(tx, decoders), and what the pass saw, for the command\n"
    "line: (events, counts, signature, slot), counts as _decode_logs_counted\n"
    "gives them; signature (the first, base58) and slot are None where the\n"
    "transaction does not tell.";

inline constexpr const char* kProgramIdDoc =
    "The program address from the IDL (current `address`, legacy `metadata.address`), as written there.";

}  // namespace varkel
